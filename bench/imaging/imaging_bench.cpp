// ScanQRImage on large PNG files (8000 x 8000, grey and colour, a QR code in the middle) as a host
// calls it: file name in a BSTR variable, error text out, result BSTR freed. The peer decodes the
// same file with libpng's simplified reader straight to grey and runs the same ZXing call on it.
//
// ImageToBMP of a 4000 x 3000 JPEG and ImageToJPG of a 4000 x 3000 24-bit bitmap (quality 75),
// beside the inner conversion functions and libjpeg-turbo's djpeg -bmp and cjpeg on the same
// files (their CPU time as child processes; skipped when libjpeg-turbo-progs is not installed).
// The outputs are checked first: the JPEG equal to cjpeg's, the bitmap's pixels equal to djpeg's.
#include "common/ratio_table.h"
#include "kestrun.h"
#include "kestrun/imaging/barcode_decoder.h"
#include "kestrun/imaging/convert.h"
#include "kestrun/imaging/image_codecs.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <qrencode.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr uint32_t kSide = 8000;
constexpr char kContent[] = "https://example.com/large-scan?id=20260101";

constexpr uint32_t kPhotoWidth = 4000;
constexpr uint32_t kPhotoHeight = 3000;
constexpr int kJpegQuality = 75;

struct Files {
    std::string grey;
    std::string colour;
    std::string photoJpeg; // 4000 x 3000 colour JPEG
    std::string photoBmp;  // the same picture as a 24-bit bitmap
    std::string outBmp;
    std::string outJpeg;
    std::string peerBmp;
    std::string peerJpeg;
    bool peersInstalled = false;
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

// A photograph-like picture: smooth gradients, edges and some grain.
kestrun::imaging::Raster Photo() {
    kestrun::imaging::Raster r{kPhotoWidth, kPhotoHeight, {}, 3};
    r.rgba.resize(size_t{kPhotoWidth} * kPhotoHeight * 4);
    uint32_t seed = 2026;
    for (uint32_t y = 0; y < kPhotoHeight; ++y) {
        for (uint32_t x = 0; x < kPhotoWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = static_cast<int>(seed >> 28) - 8;
            uint8_t *p = &r.rgba[(size_t{y} * kPhotoWidth + x) * 4];
            const bool disc = (x - 2000) * (x - 2000) + (y - 1500) * (y - 1500) < 900u * 900u;
            p[0] = static_cast<uint8_t>(std::clamp<int>(x * 255 / kPhotoWidth + grain, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp<int>(disc ? 180 + grain : y / 12, 0, 255));
            p[2] = static_cast<uint8_t>(((x / 40 + y / 40) % 2 ? 200 : 60) + grain);
            p[3] = 255;
        }
    }
    return r;
}

// CPU seconds (user + system) of `program args...`, run as a child process.
double ChildCpuSeconds(const std::vector<std::string> &args) {
    std::vector<std::string> copies = args;
    std::vector<char *> argv;
    for (std::string &a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    const auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
           seconds(before.ru_stime);
}

std::vector<std::string> DjpegArgs() {
    return {"/usr/bin/djpeg", "-bmp", "-outfile", files->peerBmp, files->photoJpeg};
}
std::vector<std::string> CjpegArgs() {
    return {"/usr/bin/cjpeg", "-quality",      std::to_string(kJpegQuality),
            "-outfile",       files->peerJpeg, files->photoBmp};
}

void PeerProcess(benchmark::State &state, const std::vector<std::string> &args) {
    if (!files->peersInstalled) {
        state.SkipWithError("libjpeg-turbo-progs (djpeg, cjpeg) is not installed");
        return;
    }
    for (auto _ : state) {
        const double seconds = ChildCpuSeconds(args);
        if (seconds < 0) {
            state.SkipWithError("the peer failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

void BM_ImageToBmp_Export(benchmark::State &state) {
    BSTR source =
        SysAllocStringByteLen(files->photoJpeg.data(), static_cast<UINT>(files->photoJpeg.size()));
    BSTR target =
        SysAllocStringByteLen(files->outBmp.data(), static_cast<UINT>(files->outBmp.size()));
    for (auto _ : state) {
        BSTR result = ImageToBMP(&source, &target);
        if (std::string(reinterpret_cast<const char *>(result)) != "OK") {
            state.SkipWithError("ImageToBMP failed");
        }
        SysFreeString(result);
    }
    SysFreeString(source);
    SysFreeString(target);
}
void BM_ImageToBmp_Inner(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrun::imaging::ConvertToBmp(files->photoJpeg, files->outBmp));
    }
}
void BM_ImageToBmp_Djpeg(benchmark::State &state) {
    PeerProcess(state, DjpegArgs());
}

void BM_ImageToJpg_Export(benchmark::State &state) {
    BSTR source =
        SysAllocStringByteLen(files->photoBmp.data(), static_cast<UINT>(files->photoBmp.size()));
    BSTR target =
        SysAllocStringByteLen(files->outJpeg.data(), static_cast<UINT>(files->outJpeg.size()));
    for (auto _ : state) {
        BSTR result = ImageToJPG(&source, &target, kJpegQuality);
        if (std::string(reinterpret_cast<const char *>(result)) != "OK") {
            state.SkipWithError("ImageToJPG failed");
        }
        SysFreeString(result);
    }
    SysFreeString(source);
    SysFreeString(target);
}
void BM_ImageToJpg_Inner(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            kestrun::imaging::ConvertToJpeg(files->photoBmp, files->outJpeg, kJpegQuality));
    }
}
void BM_ImageToJpg_Cjpeg(benchmark::State &state) {
    PeerProcess(state, CjpegArgs());
}

// Writes the two photo files and checks that ours and the peers' outputs agree.
bool PreparePhotos(Files &f) {
    const auto photo = Photo();
    const auto jpeg = kestrun::imaging::EncodeJpeg(photo, 90);
    if (!jpeg) {
        return false;
    }
    std::ofstream(f.photoJpeg, std::ios::binary).write(jpeg->data(), std::streamsize(jpeg->size()));
    std::string bmp = kestrun::imaging::EncodeBmp24(photo);
    bmp.replace(38, 8, 8, '\0'); // no resolution: cjpeg then writes the same JFIF header as ours
    std::ofstream(f.photoBmp, std::ios::binary).write(bmp.data(), std::streamsize(bmp.size()));
    f.peersInstalled = access("/usr/bin/djpeg", X_OK) == 0 && access("/usr/bin/cjpeg", X_OK) == 0;
    if (!f.peersInstalled) {
        std::printf("djpeg/cjpeg not installed: the peer rows are skipped\n");
        return true;
    }
    files = &f;
    if (kestrun::imaging::ConvertToBmp(f.photoJpeg, f.outBmp) != "OK" ||
        kestrun::imaging::ConvertToJpeg(f.photoBmp, f.outJpeg, kJpegQuality) != "OK" ||
        ChildCpuSeconds(DjpegArgs()) < 0 || ChildCpuSeconds(CjpegArgs()) < 0) {
        return false;
    }
    const std::string ourBmp = ReadFile(f.outBmp);
    const std::string peerBmp = ReadFile(f.peerBmp);
    std::printf("ImageToJPG output %s cjpeg's; ImageToBMP pixels %s djpeg -bmp's\n",
                ReadFile(f.outJpeg) == ReadFile(f.peerJpeg) ? "equals" : "DIFFERS FROM",
                ourBmp.size() == peerBmp.size() &&
                        ourBmp.compare(54, std::string::npos, peerBmp, 54, std::string::npos) == 0
                    ? "equal"
                    : "DIFFER FROM");
    return true;
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
BENCHMARK(BM_ImageToBmp_Export)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ImageToBmp_Inner)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ImageToBmp_Djpeg)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();
BENCHMARK(BM_ImageToJpg_Export)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ImageToJpg_Inner)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ImageToJpg_Cjpeg)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

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
    const std::string base(dir);
    Files made{base + "/grey.png", base + "/colour.png", base + "/photo.jpg", base + "/photo.bmp",
               base + "/out.bmp",  base + "/out.jpg",    base + "/peer.bmp",  base + "/peer.jpg"};
    if (!WriteQrPng(made.grey, false) || !WriteQrPng(made.colour, true) || !PreparePhotos(made)) {
        std::fprintf(stderr, "could not write the test images\n");
        return 1;
    }
    files = &made;
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const std::string *path : {&made.grey, &made.colour, &made.photoJpeg, &made.photoBmp,
                                    &made.outBmp, &made.outJpeg, &made.peerBmp, &made.peerJpeg}) {
        std::remove(path->c_str());
    }
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
                                    {"ImageToBMP 4000x3000 JPEG", "BM_ImageToBmp_Export",
                                     "BM_ImageToBmp_Djpeg", Goal::SpeedAtLeast, 0.9},
                                    {"ImageToJPG 4000x3000 BMP q75", "BM_ImageToJpg_Export",
                                     "BM_ImageToJpg_Cjpeg", Goal::SpeedAtLeast, 0.9},
                                });
    return 0;
}
