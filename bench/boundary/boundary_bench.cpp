// The text codec exports as a host calls them: the argument is a NUL-terminated string or a BSTR
// variable, the result a BSTR that the host frees. Base64 on 64 MiB runs beside coreutils
// `base64` (as a child process, its CPU time) and beside the inner codec writing into a reused
// buffer; hex, URL and HTML on 16 MiB run beside the inner functions that return std::string.
#include "common/bstr_variable.h"
#include "common/ratio_table.h"
#include "kestrun.h"
#include "kestrun/codecs/base64.h"
#include "kestrun/codecs/escapes.h"
#include "kestrun/codecs/hex.h"
#include "kestrun/codecs/url.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr size_t k64MiB = size_t{64} << 20;
constexpr size_t k16MiB = size_t{16} << 20;

// Bytes 1..255 (an in-string ends at its first zero byte).
std::string RandomBytes(size_t n, uint64_t seed) {
    std::string d(n, '\0');
    uint64_t x = seed;
    for (auto &c : d) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(1 + (x >> 56) % 255);
    }
    return d;
}

// Plain text with the odd character that the HTML and URL codecs rewrite.
std::string MarkupText(size_t n) {
    const std::string piece = "Fish & chips <b>\"hot\"</b> isn't cheap > 3 pounds; ";
    std::string t;
    t.reserve(n + piece.size());
    while (t.size() < n) {
        t += piece;
    }
    t.resize(n);
    return t;
}

struct Inputs {
    std::string encodeBytes = RandomBytes(k64MiB / 4 * 3, 0x9E3779B97F4A7C15ull); // 48 MiB
    std::string base64Text = kestrun::codecs::Base64Encode(encodeBytes);          // 64 MiB
    std::string text16 = MarkupText(k16MiB);
    std::string hex16 = kestrun::codecs::HexEncode(RandomBytes(k16MiB / 2, 7), false);
    std::string url16 = kestrun::codecs::UrlEncodeBytes(text16.substr(0, k16MiB / 2));
    std::string html16 = kestrun::codecs::HtmlEscape(text16.substr(0, k16MiB * 3 / 4));
    std::string dir;
    std::string encodeFile;
    std::string decodeFile;
};

// Made once, before any benchmark runs: no input is prepared inside a timed loop.
Inputs *inputs = nullptr;

void WriteFile(const std::string &path, const std::string &data) {
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

// CPU seconds (user + system) that `base64 <args> <file>` takes, its output going to /dev/null.
double RunCoreutils(const char *option, const std::string &file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::string program = "base64";
    std::string opt = option;
    std::string path = file;
    char *argv[] = {program.data(), opt.data(), path.data(), nullptr};
    pid_t pid = 0;
    struct rusage before {};
    getrusage(RUSAGE_CHILDREN, &before);
    if (posix_spawnp(&pid, "base64", &actions, nullptr, argv, environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    struct rusage after {};
    getrusage(RUSAGE_CHILDREN, &after);
    auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
           seconds(before.ru_stime);
}

void SetBytes(benchmark::State &state, size_t perIteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * perIteration));
}

void BM_Base64Encode_Export(benchmark::State &state) {
    for (auto _ : state) {
        BSTR out = Base64Encode_GB(inputs->encodeBytes.c_str());
        benchmark::DoNotOptimize(out);
        SysFreeString(out);
    }
    SetBytes(state, inputs->encodeBytes.size());
}

void BM_Base64Encode_Inner(benchmark::State &state) {
    std::string out(kestrun::codecs::Base64EncodedSize(inputs->encodeBytes.size()), '\0');
    for (auto _ : state) {
        kestrun::codecs::Base64EncodeTo(inputs->encodeBytes, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, inputs->encodeBytes.size());
}

void BM_Base64Encode_Coreutils(benchmark::State &state) {
    for (auto _ : state) {
        state.SetIterationTime(RunCoreutils("-w0", inputs->encodeFile));
    }
    SetBytes(state, inputs->encodeBytes.size());
}

void BM_Base64Decode_Export(benchmark::State &state) {
    for (auto _ : state) {
        BSTR out = Base64Decode_GB(inputs->base64Text.c_str());
        benchmark::DoNotOptimize(out);
        SysFreeString(out);
    }
    SetBytes(state, inputs->base64Text.size());
}

void BM_Base64Decode_Inner(benchmark::State &state) {
    std::string out(kestrun::codecs::Base64DecodedBound(inputs->base64Text.size()), '\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrun::codecs::Base64DecodeTo(inputs->base64Text, out.data()));
    }
    SetBytes(state, inputs->base64Text.size());
}

void BM_Base64Decode_Coreutils(benchmark::State &state) {
    for (auto _ : state) {
        state.SetIterationTime(RunCoreutils("-d", inputs->decodeFile));
    }
    SetBytes(state, inputs->base64Text.size());
}

// An export taking a NUL-terminated string beside the inner function on the same text.
template <BSTR (*Export)(const char *), std::string (*Inner)(std::string_view)>
void InStringPair(benchmark::State &state, const std::string &text, bool viaExport) {
    for (auto _ : state) {
        if (viaExport) {
            BSTR out = Export(text.c_str());
            benchmark::DoNotOptimize(out);
            SysFreeString(out);
        } else {
            benchmark::DoNotOptimize(Inner(text));
        }
    }
    SetBytes(state, text.size());
}

BSTR StrToHexLower(BSTR *text) {
    return StrToHex_GB(text, 0);
}
std::string HexLower(std::string_view bytes) {
    return kestrun::codecs::HexEncode(bytes, false);
}

// An export taking a BSTR variable beside the inner function on the same text.
template <BSTR (*Export)(BSTR *), std::string (*Inner)(std::string_view)>
void RefStringPair(benchmark::State &state, const std::string &text, bool viaExport) {
    bench::BstrVariable variable(text);
    for (auto _ : state) {
        if (viaExport) {
            BSTR out = Export(&variable.value);
            benchmark::DoNotOptimize(out);
            SysFreeString(out);
        } else {
            benchmark::DoNotOptimize(Inner(text));
        }
    }
    SetBytes(state, text.size());
}

namespace codecs = kestrun::codecs;

void BM_HexEncode_Export(benchmark::State &s) {
    RefStringPair<StrToHexLower, HexLower>(s, inputs->text16, true);
}
void BM_HexEncode_Inner(benchmark::State &s) {
    RefStringPair<StrToHexLower, HexLower>(s, inputs->text16, false);
}
void BM_HexDecode_Export(benchmark::State &s) {
    RefStringPair<HexToStr_GB, codecs::HexDecode>(s, inputs->hex16, true);
}
void BM_HexDecode_Inner(benchmark::State &s) {
    RefStringPair<HexToStr_GB, codecs::HexDecode>(s, inputs->hex16, false);
}
void BM_UrlEncode_Export(benchmark::State &s) {
    InStringPair<UrlEncode_GB, codecs::UrlEncodeBytes>(s, inputs->text16, true);
}
void BM_UrlEncode_Inner(benchmark::State &s) {
    InStringPair<UrlEncode_GB, codecs::UrlEncodeBytes>(s, inputs->text16, false);
}
void BM_UrlDecode_Export(benchmark::State &s) {
    InStringPair<UrlDecode_GB, codecs::UrlDecodeBytes>(s, inputs->url16, true);
}
void BM_UrlDecode_Inner(benchmark::State &s) {
    InStringPair<UrlDecode_GB, codecs::UrlDecodeBytes>(s, inputs->url16, false);
}
void BM_HtmlEncode_Export(benchmark::State &s) {
    InStringPair<HTMLEncode, codecs::HtmlEscape>(s, inputs->text16, true);
}
void BM_HtmlEncode_Inner(benchmark::State &s) {
    InStringPair<HTMLEncode, codecs::HtmlEscape>(s, inputs->text16, false);
}
void BM_HtmlDecode_Export(benchmark::State &s) {
    InStringPair<HTMLDecode, codecs::HtmlUnescape>(s, inputs->html16, true);
}
void BM_HtmlDecode_Inner(benchmark::State &s) {
    InStringPair<HTMLDecode, codecs::HtmlUnescape>(s, inputs->html16, false);
}

BENCHMARK(BM_Base64Encode_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Encode_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Encode_Coreutils)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode_Coreutils)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexEncode_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexEncode_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexDecode_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexDecode_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncode_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncode_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlDecode_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlDecode_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HtmlEncode_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HtmlEncode_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HtmlDecode_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HtmlDecode_Inner)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    Inputs made;
    char dir[] = "/tmp/boundary_bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    made.dir = dir;
    made.encodeFile = made.dir + "/plain.bin";
    made.decodeFile = made.dir + "/text.b64";
    WriteFile(made.encodeFile, made.encodeBytes);
    WriteFile(made.decodeFile, made.base64Text);
    inputs = &made;

    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::remove(made.encodeFile.c_str());
    std::remove(made.decodeFile.c_str());
    rmdir(dir);

    using bench::Goal;
    bench::PrintTable(reporter,
                      {
                          {"Base64Encode_GB 48 MiB vs base64 -w0", "BM_Base64Encode_Export",
                           "BM_Base64Encode_Coreutils", Goal::SpeedAtLeast, 0.8},
                          {"Base64 encode codec vs base64 -w0", "BM_Base64Encode_Inner",
                           "BM_Base64Encode_Coreutils", Goal::SpeedAtLeast, 2.0},
                          {"Base64Decode_GB 64 MiB vs base64 -d", "BM_Base64Decode_Export",
                           "BM_Base64Decode_Coreutils", Goal::SpeedAtLeast, 0.8},
                          {"Base64 decode codec vs base64 -d", "BM_Base64Decode_Inner",
                           "BM_Base64Decode_Coreutils", Goal::SpeedAtLeast, 2.0},
                          {"StrToHex_GB 16 MiB vs inner", "BM_HexEncode_Export",
                           "BM_HexEncode_Inner", Goal::TimeAtMost, 1.3},
                          {"HexToStr_GB 16 MiB vs inner", "BM_HexDecode_Export",
                           "BM_HexDecode_Inner", Goal::TimeAtMost, 1.3},
                          {"UrlEncode_GB 16 MiB vs inner", "BM_UrlEncode_Export",
                           "BM_UrlEncode_Inner", Goal::TimeAtMost, 1.3},
                          {"UrlDecode_GB 16 MiB vs inner", "BM_UrlDecode_Export",
                           "BM_UrlDecode_Inner", Goal::TimeAtMost, 1.3},
                          {"HTMLEncode 16 MiB vs inner", "BM_HtmlEncode_Export",
                           "BM_HtmlEncode_Inner", Goal::TimeAtMost, 1.3},
                          {"HTMLDecode 16 MiB vs inner", "BM_HtmlDecode_Export",
                           "BM_HtmlDecode_Inner", Goal::TimeAtMost, 1.3},
                      });
    return 0;
}
