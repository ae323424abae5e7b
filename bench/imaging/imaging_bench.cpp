// ScanQRImage on large PNG files (8000 x 8000, grey and colour, a QR code in the middle) as a host
// calls it: file name in a BSTR variable, error text out, result BSTR freed. The peer decodes the
// same file with libpng's simplified reader straight to grey and runs the same ZXing call on it.
#include "common/ratio_table.h"
#include "kestrun.h"
#include "kestrun/imaging/barcode_decoder.h"
#include "kestrun/imaging/image_codecs.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <qrencode.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kSide = 8000;
constexpr char kContent[] = "https://example.com/large-scan?id=20260101";

struct Files {
    std::string grey;
    std::string colour;
};
Files *files = nullptr;

// A white 8000 x 8000 canvas with the QR symbol of kContent drawn 4000 pixels wide in the middle,
// written as a grey or an RGB PNG.
bool WriteQrPng(const std::string &path, bool colour) {
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> qr(
        QRcode_encodeString(kContent, 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!qr) {
        return false;
    }
    const uint32_t modules = static_cast<uint32_t>(qr->width) + 8; // with the quiet zone
    const uint32_t scale = 4000 / modules;
    const uint32_t origin = (kSide - modules * scale) / 2;
    const size_t channels = colour ? 3 : 1;
    std::vector<uint8_t> pixels(size_t{kSide} * kSide * channels, 0xFF);
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) {
            if (x < origin || y < origin) {
                continue;
            }
            const uint32_t mx = (x - origin) / scale;
            const uint32_t my = (y - origin) / scale;
            if (mx < 4 || my < 4 || mx >= modules - 4 || my >= modules - 4) {
                continue;
            }
            const bool dark = (qr->data[(my - 4) * qr->width + (mx - 4)] & 1) != 0;
            if (dark) {
                uint8_t *p = &pixels[(size_t{y} * kSide + x) * channels];
                for (size_t c = 0; c < channels; ++c) {
                    p[c] = static_cast<uint8_t>(colour ? 20 + 30 * c : 0);
                }
            }
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kSide;
    image.height = kSide;
    image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ScanExport(benchmark::State &state, const std::string &path) {
    BSTR name = SysAllocStringByteLen(path.data(), static_cast<UINT>(path.size()));
    for (auto _ : state) {
        BSTR error = nullptr;
        BSTR text = ScanQRImage(&name, 0, &error, 0);
        if (std::string(reinterpret_cast<const char *>(text)) != kContent) {
            state.SkipWithError(reinterpret_cast<const char *>(error));
        }
        SysFreeString(text);
        SysFreeString(error);
    }
    SysFreeString(name);
}

void ScanPeer(benchmark::State &state, const std::string &path) {
    for (auto _ : state) {
        const std::string file = ReadFile(path);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) {
            state.SkipWithError("libpng refused the file");
            break;
        }
        image.format = PNG_FORMAT_GRAY;
        std::vector<uint8_t> grey(PNG_IMAGE_SIZE(image));
        png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr);
        const std::string text = kestrun::imaging::barcode::DecodeLuminance(
            grey, static_cast<int>(image.width), static_cast<int>(image.height), false);
        if (text != kContent) {
            state.SkipWithError("the peer did not read the code");
        }
    }
}

void DecodeOurs(benchmark::State &state, const std::string &path) {
    for (auto _ : state) {
        const std::string file = ReadFile(path);
        benchmark::DoNotOptimize(kestrun::imaging::DecodePngLuminance(file).luminance.data());
    }
}

void DecodeLibpng(benchmark::State &state, const std::string &path) {
    for (auto _ : state) {
        const std::string file = ReadFile(path);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, file.data(), file.size());
        image.format = PNG_FORMAT_GRAY;
        std::vector<uint8_t> grey(PNG_IMAGE_SIZE(image));
        png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr);
        benchmark::DoNotOptimize(grey.data());
    }
}

void BM_ScanGrey_Export(benchmark::State &s) {
    ScanExport(s, files->grey);
}
void BM_ScanGrey_Peer(benchmark::State &s) {
    ScanPeer(s, files->grey);
}
void BM_ScanColour_Export(benchmark::State &s) {
    ScanExport(s, files->colour);
}
void BM_ScanColour_Peer(benchmark::State &s) {
    ScanPeer(s, files->colour);
}
void BM_DecodeGrey_Ours(benchmark::State &s) {
    DecodeOurs(s, files->grey);
}
void BM_DecodeGrey_Libpng(benchmark::State &s) {
    DecodeLibpng(s, files->grey);
}
void BM_DecodeColour_Ours(benchmark::State &s) {
    DecodeOurs(s, files->colour);
}
void BM_DecodeColour_Libpng(benchmark::State &s) {
    DecodeLibpng(s, files->colour);
}

BENCHMARK(BM_ScanGrey_Export)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ScanGrey_Peer)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ScanColour_Export)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ScanColour_Peer)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodeGrey_Ours)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DecodeGrey_Libpng)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DecodeColour_Ours)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DecodeColour_Libpng)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    char dir[] = "/tmp/imaging_bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    Files made{std::string(dir) + "/grey.png", std::string(dir) + "/colour.png"};
    if (!WriteQrPng(made.grey, false) || !WriteQrPng(made.colour, true)) {
        std::fprintf(stderr, "could not write the test images\n");
        return 1;
    }
    files = &made;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::remove(made.grey.c_str());
    std::remove(made.colour.c_str());
    rmdir(dir);

    using bench::Goal;
    bench::PrintTable(reporter, {
                                    {"ScanQRImage 8000^2 grey PNG", "BM_ScanGrey_Export",
                                     "BM_ScanGrey_Peer", Goal::TimeAtMost, 1.3},
                                    {"ScanQRImage 8000^2 RGB PNG", "BM_ScanColour_Export",
                                     "BM_ScanColour_Peer", Goal::TimeAtMost, 1.3},
                                    {"PNG to luminance, grey", "BM_DecodeGrey_Ours",
                                     "BM_DecodeGrey_Libpng", Goal::TimeAtMost, 1.3},
                                    {"PNG to luminance, RGB", "BM_DecodeColour_Ours",
                                     "BM_DecodeColour_Libpng", Goal::TimeAtMost, 1.3},
                                });
    return 0;
}
