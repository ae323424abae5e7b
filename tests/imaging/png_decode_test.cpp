// The PNG decoder against LodePNG's own reading of the same files, large images, and the texts of
// rejected files.
#include "kestrun.h"
#include "kestrun/imaging/image_codecs.h"

#include <gtest/gtest.h>
#include <lodepng.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// LodePNG, asked directly for the reference verdict, reserves what a damaged header claims (tens
// of GiB): that allocation fails with a null pointer (LodePNG's error 83), as it does without the
// sanitizer, rather than ending the program.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace {

using namespace kestrun::imaging;

// A PNG of random samples in the given colour type, bit depth and interlace method, by LodePNG.
std::string EncodeRaw(LodePNGColorType type, unsigned depth, unsigned width, unsigned height,
                      bool interlaced, uint32_t &seed) {
    LodePNGState state;
    lodepng_state_init(&state);
    state.info_raw.colortype = type;
    state.info_raw.bitdepth = depth;
    state.info_png.color.colortype = type;
    state.info_png.color.bitdepth = depth;
    state.info_png.interlace_method = interlaced ? 1 : 0;
    state.encoder.auto_convert = 0;
    if (type == LCT_PALETTE) {
        for (unsigned i = 0; i < (1u << depth); ++i) {
            lodepng_palette_add(&state.info_png.color, i * 37, i * 91, i * 13, 255 - i);
            lodepng_palette_add(&state.info_raw, i * 37, i * 91, i * 13, 255 - i);
        }
    }
    if (type == LCT_GREY || type == LCT_RGB) {
        state.info_png.color.key_defined = 1; // a colour key, which LodePNG turns into alpha
        state.info_png.color.key_r = state.info_png.color.key_g = state.info_png.color.key_b = 1;
    }
    const size_t bytes = (size_t{width} * lodepng_get_bpp(&state.info_raw) + 7) / 8 * height;
    std::vector<unsigned char> raw(bytes);
    for (auto &b : raw) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    unsigned char *out = nullptr;
    size_t size = 0;
    const unsigned error = lodepng_encode(&out, &size, raw.data(), width, height, &state);
    std::string file = error == 0 ? std::string(reinterpret_cast<char *>(out), size) : "";
    std::free(out);
    lodepng_state_cleanup(&state);
    EXPECT_EQ(error, 0u) << lodepng_error_text(error);
    return file;
}

TEST(PngDecode, AgreesWithLodePngOnEveryColourTypeAndDepth) {
    struct Kind {
        LodePNGColorType type;
        std::vector<unsigned> depths;
    };
    const Kind kinds[] = {{LCT_GREY, {1, 2, 4, 8, 16}},
                          {LCT_RGB, {8, 16}},
                          {LCT_PALETTE, {1, 2, 4, 8}},
                          {LCT_GREY_ALPHA, {8, 16}},
                          {LCT_RGBA, {8, 16}}};
    uint32_t seed = 1;
    for (const Kind &kind : kinds) {
        for (unsigned depth : kind.depths) {
            for (bool interlaced : {false, true}) {
                const std::string file = EncodeRaw(kind.type, depth, 13, 7, interlaced, seed);
                unsigned char *expected = nullptr;
                unsigned w = 0;
                unsigned h = 0;
                ASSERT_EQ(lodepng_decode32(&expected, &w, &h,
                                           reinterpret_cast<const unsigned char *>(file.data()),
                                           file.size()),
                          0u);
                const std::vector<uint8_t> rgba(expected, expected + size_t{w} * h * 4);
                std::free(expected);
                const std::string what = std::to_string(kind.type) + "/" + std::to_string(depth) +
                                         (interlaced ? " interlaced" : "");
                const auto decoded = DecodePng(file);
                ASSERT_EQ(decoded.error, 0u) << what;
                EXPECT_EQ(decoded.raster.rgba, rgba) << what;
                const auto lum = DecodePngLuminance(file);
                ASSERT_EQ(lum.error, 0u) << what;
                ASSERT_EQ(lum.luminance.size(), size_t{w} * h) << what;
                for (size_t i = 0; i < lum.luminance.size(); ++i) {
                    const unsigned y = (306u * rgba[4 * i] + 601u * rgba[4 * i + 1] +
                                        117u * rgba[4 * i + 2] + 512u) >>
                                       10;
                    ASSERT_EQ(lum.luminance[i], y) << what << " pixel " << i;
                }
            }
        }
    }
}

void AppendChunk(std::string &png, const char *type, const std::string &data) {
    const auto length = static_cast<uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        png.push_back(static_cast<char>(length >> shift));
    }
    const std::string body = std::string(type, 4) + data;
    png += body;
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
    for (int shift = 24; shift >= 0; shift -= 8) {
        png.push_back(static_cast<char>(crc >> shift));
    }
}

// An 8-bit grey PNG whose header claims `width` x `height` and whose image data holds `rows`
// rows: a black square of `square` pixels in a white field.
std::string GreyPng(uint32_t width, uint32_t height, uint32_t rows, uint32_t square) {
    std::string png = "\x89PNG\r\n\x1A\n";
    std::string header;
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            header.push_back(static_cast<char>(v >> shift));
        }
    }
    header += std::string("\x08\x00\x00\x00\x00", 5);
    AppendChunk(png, "IHDR", header);
    z_stream z{};
    deflateInit(&z, 1);
    std::string compressed;
    std::vector<unsigned char> line(size_t{width} + 1, 0xFF);
    line[0] = 0; // no filter
    std::vector<unsigned char> chunk(1 << 16);
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < square && x < width; ++x) {
            line[1 + x] = y < square ? 0 : 0xFF;
        }
        z.next_in = line.data();
        z.avail_in = static_cast<uInt>(line.size());
        const int flush = y + 1 == rows ? Z_FINISH : Z_NO_FLUSH;
        int rc = Z_OK;
        do {
            z.next_out = chunk.data();
            z.avail_out = static_cast<uInt>(chunk.size());
            rc = deflate(&z, flush);
            compressed.append(reinterpret_cast<char *>(chunk.data()), chunk.size() - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    }
    deflateEnd(&z);
    AppendChunk(png, "IDAT", compressed);
    AppendChunk(png, "IEND", "");
    return png;
}

unsigned LodePngError(const std::string &file) {
    unsigned char *out = nullptr;
    unsigned w = 0;
    unsigned h = 0;
    const unsigned error = lodepng_decode32(
        &out, &w, &h, reinterpret_cast<const unsigned char *>(file.data()), file.size());
    std::free(out);
    return error;
}

TEST(PngDecode, LargeImagesAreReadAndDamagedHeadersGetLodePngsText) {
    // 8200 x 8200 (67 megapixels), once refused for its size.
    const auto large = DecodePngLuminance(GreyPng(8200, 8200, 8200, 100));
    ASSERT_EQ(large.error, 0u) << PngErrorText(large.error);
    EXPECT_EQ(large.width, 8200u);
    EXPECT_EQ(large.luminance[0], 0);
    EXPECT_EQ(large.luminance[size_t{8200} * 8200 - 1], 0xFF);
    // A header claiming 100000 x 100000 over a few rows of data: LodePNG's text, small memory.
    const auto damaged = DecodePngLuminance(GreyPng(100000, 100000, 3, 10));
    EXPECT_EQ(PngErrorText(damaged.error), "invalid decompressed idat size");
    const auto cut = DecodePngLuminance(GreyPng(20000, 20000, 3, 10));
    EXPECT_EQ(PngErrorText(cut.error), "invalid decompressed idat size");
    // Not a PNG at all, and truncated ones: LodePNG's codes and texts.
    const std::string notPng = "not a png";
    EXPECT_EQ(DecodePngLuminance(notPng).error, LodePngError(notPng));
    const std::string small = GreyPng(40, 40, 40, 5);
    for (size_t keep : {size_t{8}, size_t{30}, small.size() / 2, small.size() - 5}) {
        const auto truncated = DecodePngLuminance(small.substr(0, keep));
        EXPECT_NE(truncated.error, 0u) << keep;
        EXPECT_EQ(truncated.error, LodePngError(small.substr(0, keep))) << keep;
    }
}

TEST(PngDecode, ImagesOverTheBoundAreRefusedWithBoundedMemory) {
    // A valid image over a (small) bound: LodePNG's text for an allocation it would not make.
    const std::string file = GreyPng(300, 300, 300, 10);
    EXPECT_EQ(DecodePngLuminance(file, 1000).error, 83u);
    EXPECT_EQ(DecodePng(file, 1000).error, kPngTooLarge);
    EXPECT_EQ(DecodePngLuminance(file).error, 0u);
}

// Through the export: a large valid PNG is scanned (nothing is found on it), and a damaged one
// is reported with LodePNG's text in the scanning message.
TEST(PngDecode, ScanQRImageReadsLargeFilesAndQuotesLodePng) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("png_decode_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto scan = [](const std::filesystem::path &file) {
        const std::string path = file.string();
        BSTR name = SysAllocStringByteLen(path.data(), static_cast<UINT>(path.size()));
        BSTR error = nullptr;
        BSTR text = ScanQRImage(&name, 0, &error, 0);
        const std::string message = error == nullptr ? "" : reinterpret_cast<const char *>(error);
        SysFreeString(text);
        SysFreeString(error);
        SysFreeString(name);
        return message;
    };
    const auto large = dir / "large.png";
    std::ofstream(large, std::ios::binary) << GreyPng(8200, 8200, 8200, 0);
    EXPECT_EQ(scan(large), "zxing::ReaderException: No code detected");
    const auto damaged = dir / "damaged.png";
    std::ofstream(damaged, std::ios::binary) << GreyPng(100000, 100000, 3, 10);
    EXPECT_EQ(scan(damaged), "Error while loading 'invalid decompressed idat size'");
    std::filesystem::remove_all(dir);
}

} // namespace

// The chunks of a PNG file: type and data, in order.
struct Chunk {
    std::string type;
    std::string data;
};

std::vector<Chunk> SplitChunks(const std::string &png) {
    std::vector<Chunk> chunks;
    size_t pos = 8;
    while (pos + 12 <= png.size()) {
        const auto *p = reinterpret_cast<const unsigned char *>(png.data() + pos);
        const uint32_t length = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | p[2] << 8 | p[3];
        chunks.push_back({png.substr(pos + 4, 4), png.substr(pos + 8, length)});
        pos += 12 + length;
    }
    return chunks;
}

std::string JoinChunks(const std::vector<Chunk> &chunks) {
    std::string png = "\x89PNG\r\n\x1A\n";
    for (const Chunk &chunk : chunks) {
        AppendChunk(png, chunk.type.c_str(), chunk.data);
    }
    return png;
}

std::string Zlib(const std::string &raw, int level) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef *>(out.data()), &size,
                        reinterpret_cast<const Bytef *>(raw.data()), static_cast<uLong>(raw.size()),
                        level),
              Z_OK);
    out.resize(size);
    return out;
}

std::string Inflate(const std::string &zlib) {
    std::string out(1 << 20, '\0');
    uLongf size = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef *>(out.data()), &size,
                         reinterpret_cast<const Bytef *>(zlib.data()),
                         static_cast<uLong>(zlib.size())),
              Z_OK);
    out.resize(size);
    return out;
}

// The file with its IDAT data replaced by `data`, split into chunks of `piece` bytes.
std::string WithImageData(const std::string &png, const std::string &data, size_t piece = 0) {
    std::vector<Chunk> out;
    bool placed = false;
    for (const Chunk &chunk : SplitChunks(png)) {
        if (chunk.type != "IDAT") {
            out.push_back(chunk);
        } else if (!placed) {
            placed = true;
            for (size_t at = 0; at < data.size() || at == 0;
                 at += piece == 0 ? data.size() : piece) {
                out.push_back({"IDAT", data.substr(at, piece == 0 ? std::string::npos : piece)});
                if (data.empty()) {
                    break;
                }
            }
        }
    }
    return JoinChunks(out);
}

// Both of our decoders give LodePNG's verdict and error code on the file.
void ExpectLodePngVerdict(const std::string &file, const std::string &what) {
    const unsigned expected = LodePngError(file);
    EXPECT_EQ(DecodePng(file).error, expected) << what;
    EXPECT_EQ(DecodePngLuminance(file).error, expected) << what;
}

TEST(PngVerdict, EveryFileGetsLodePngsVerdictAndCode) {
    uint32_t seed = 7;
    // The suite: every colour type and depth, plain and interlaced, several sizes.
    const std::vector<std::pair<LodePNGColorType, unsigned>> kinds = {
        {LCT_GREY, 1},        {LCT_GREY, 2},    {LCT_GREY, 4},    {LCT_GREY, 8},
        {LCT_GREY, 16},       {LCT_RGB, 8},     {LCT_RGB, 16},    {LCT_PALETTE, 1},
        {LCT_PALETTE, 2},     {LCT_PALETTE, 4}, {LCT_PALETTE, 8}, {LCT_GREY_ALPHA, 8},
        {LCT_GREY_ALPHA, 16}, {LCT_RGBA, 8},    {LCT_RGBA, 16}};
    std::vector<std::string> suite;
    for (const auto &[type, depth] : kinds) {
        for (bool interlaced : {false, true}) {
            for (const auto &[w, h] :
                 std::vector<std::pair<unsigned, unsigned>>{{1, 1}, {3, 2}, {13, 7}, {33, 17}}) {
                suite.push_back(EncodeRaw(type, depth, w, h, interlaced, seed));
            }
        }
    }
    for (size_t i = 0; i < suite.size(); ++i) {
        ASSERT_EQ(LodePngError(suite[i]), 0u);
        ExpectLodePngVerdict(suite[i], "suite " + std::to_string(i));
    }

    // Two small files cut at every byte: a plain grey one, and an interlaced palette one with
    // ancillary chunks and its data in several IDAT chunks.
    const std::string grey = GreyPng(20, 20, 20, 4);
    std::vector<Chunk> parts = SplitChunks(EncodeRaw(LCT_PALETTE, 4, 19, 11, true, seed));
    parts.insert(parts.begin() + 1, Chunk{"gAMA", std::string("\0\0\xB1\x8F", 4)});
    parts.insert(parts.end() - 1, Chunk{"tIME", std::string("\x07\xEA\x0C\x09\x14\x1E\x00", 7)});
    parts.insert(parts.end() - 1, Chunk{"prVt", "private"});
    std::string palette = JoinChunks(parts);
    for (const Chunk &chunk : parts) {
        if (chunk.type == "IDAT") {
            palette = WithImageData(palette, chunk.data, 9);
        }
    }
    ASSERT_EQ(LodePngError(palette), 0u);
    for (const std::string *file : std::vector<const std::string *>{&grey, &palette}) {
        for (size_t keep = 0; keep < file->size(); ++keep) {
            ExpectLodePngVerdict(file->substr(0, keep), "cut at " + std::to_string(keep));
        }
        // Cut inside the final chunk: "chunk length too large, chunk broken off at end of file".
        EXPECT_EQ(DecodePngLuminance(file->substr(0, file->size() - 2)).error, 30u);
        EXPECT_EQ(DecodePngLuminance(file->substr(0, file->size() - 1)).error, 30u);
    }

    // Flipped bits in every chunk: its length, type, data (first, middle, last byte) and CRC,
    // with the CRC left as it was and made right again (so that the damage reaches the checks
    // of the data themselves).
    for (const std::string *file :
         std::vector<const std::string *>{&grey, &palette, &suite[20], &suite[100]}) {
        const std::vector<Chunk> chunks = SplitChunks(*file);
        size_t start = 8;
        for (size_t c = 0; c < chunks.size(); ++c) {
            const size_t length = chunks[c].data.size();
            std::vector<size_t> offsets = {0, 3, 4, 7, 8 + length, 11 + length};
            if (length > 0) {
                offsets.insert(offsets.end(), {8, 8 + length / 2, 7 + length});
            }
            for (size_t offset : offsets) {
                for (unsigned char mask : {0x01, 0x80, 0xFF}) {
                    std::string damaged = *file;
                    damaged[start + offset] = static_cast<char>(damaged[start + offset] ^ mask);
                    const std::string what = chunks[c].type + " +" + std::to_string(offset) + " ^" +
                                             std::to_string(mask);
                    ExpectLodePngVerdict(damaged, what);
                    if (offset >= 8 && offset < 8 + length) {
                        std::vector<Chunk> fixed = chunks;
                        fixed[c].data[offset - 8] =
                            static_cast<char>(fixed[c].data[offset - 8] ^ mask);
                        ExpectLodePngVerdict(JoinChunks(fixed), what + " with its CRC");
                    }
                }
            }
            start += 12 + length;
        }
    }

    // Image data that inflate short, exact and long, and zlib streams damaged in every way the
    // two decoders could differ on.
    for (const std::string *file :
         std::vector<const std::string *>{&grey, &suite[60], &suite[95], &palette}) {
        std::string idat;
        for (const Chunk &chunk : SplitChunks(*file)) {
            if (chunk.type == "IDAT") {
                idat += chunk.data;
            }
        }
        const std::string raw = Inflate(idat);
        ASSERT_FALSE(raw.empty());
        const std::string exact = Zlib(raw, 9);
        std::vector<std::pair<std::string, std::string>> variants = {
            {"exact", exact},
            {"exact, stored", Zlib(raw, 0)},
            {"exact, in pieces", exact},
            {"one byte short", Zlib(raw.substr(0, raw.size() - 1), 9)},
            {"one row short", Zlib(raw.substr(0, raw.size() / 2), 9)},
            {"one byte long", Zlib(raw + '\0', 9)},
            {"long", Zlib(raw + std::string(5000, '\0'), 6)},
            {"empty", ""},
            {"empty stream", Zlib("", 9)},
            {"bad filter", Zlib(std::string(1, '\x05') + raw.substr(1), 9)},
            {"garbage after", exact + "xyz"},
            {"checksum damaged", exact.substr(0, exact.size() - 1) + '\x7F'},
            {"no checksum", exact.substr(0, exact.size() - 4)},
            {"cut in the stream", exact.substr(0, exact.size() / 2)},
            {"dictionary flag", std::string("\x78\x20", 2) + exact.substr(2)},
            {"window of 64 KiB", std::string("\x88\x1B", 2) + exact.substr(2)},
            {"two streams", exact + exact},
        };
        for (const auto &[name, data] : variants) {
            const std::string damaged =
                WithImageData(*file, data, name == "exact, in pieces" ? 5 : 0);
            ExpectLodePngVerdict(damaged, name);
        }
        EXPECT_EQ(DecodePngLuminance(WithImageData(*file, exact)).error, 0u);
        // "invalid decompressed idat size"
        EXPECT_EQ(DecodePngLuminance(WithImageData(*file, Zlib(raw + '\0', 9))).error, 91u);
        EXPECT_EQ(DecodePng(WithImageData(*file, Zlib(raw + '\0', 9))).error, 91u);
    }
}
