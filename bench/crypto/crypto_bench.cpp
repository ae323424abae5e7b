// Md5Context, the AES engine in CBC and the Base64 codec over 64 MiB, each beside OpenSSL doing
// the same work in the same run; the throughput ratios are printed at the end.
//
// OpenSSL's AES is held to its table-driven code: the program runs itself again with
// OPENSSL_ia32cap masking AES-NI and SSSE3 (which would select the vector-permutation code), since
// the capability mask is read when libcrypto loads.
#include "kestrun/codecs/base64.h"
#include "kestrun/crypto/aes.h"
#include "kestrun/crypto/md5.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kSize = 64u << 20;
// CPUID.1:ECX bits 57 (AES-NI) and 41 (SSSE3) of OpenSSL's capability vector, masked off.
constexpr char kTableDrivenAes[] = "~0x200020000000000";

const std::string &Data() {
    static const std::string data = [] {
        std::string d(kSize, '\0');
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (auto &c : d) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = static_cast<char>(x >> 56);
        }
        return d;
    }();
    return data;
}

// Base64 text of 48 MiB of data: 64 MiB of text.
const std::string &Base64Text() {
    static const std::string text = kestrun::codecs::Base64Encode(Data().substr(0, kSize / 4 * 3));
    return text;
}

const uint8_t *Bytes(const std::string &s) {
    return reinterpret_cast<const uint8_t *>(s.data());
}

const uint8_t kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                          0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const uint8_t kIv[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

void SetBytes(benchmark::State &state, size_t perIteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * perIteration));
}

void BM_Md5_Kestrun(benchmark::State &state) {
    for (auto _ : state) {
        kestrun::crypto::Md5Context context;
        context.Update(Bytes(Data()), static_cast<uint32_t>(kSize));
        benchmark::DoNotOptimize(context.HexDigest());
    }
    SetBytes(state, kSize);
}

void BM_Md5_OpenSSL(benchmark::State &state) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(Data().data(), kSize, digest, &length, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state, kSize);
}

void AesKestrun(benchmark::State &state, bool encrypt) {
    std::vector<uint8_t> out(kSize);
    for (auto _ : state) {
        kestrun::crypto::AES aes;
        aes.SetKey(kKey, kIv, 16, 16);
        if (encrypt) {
            aes.Encrypt(Bytes(Data()), out.data(), kSize, kestrun::crypto::kModeCbc);
        } else {
            aes.Decrypt(Bytes(Data()), out.data(), kSize, kestrun::crypto::kModeCbc);
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, kSize);
}

void AesOpenSsl(benchmark::State &state, bool encrypt) {
    std::vector<uint8_t> out(kSize + 16);
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                              &EVP_CIPHER_CTX_free);
    for (auto _ : state) {
        int written = 0;
        EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, kKey, kIv, encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
        EVP_CipherUpdate(ctx.get(), out.data(), &written, Bytes(Data()), static_cast<int>(kSize));
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, kSize);
}

void BM_AesCbcEncrypt_Kestrun(benchmark::State &state) {
    AesKestrun(state, true);
}
void BM_AesCbcEncrypt_OpenSSL(benchmark::State &state) {
    AesOpenSsl(state, true);
}
void BM_AesCbcDecrypt_Kestrun(benchmark::State &state) {
    AesKestrun(state, false);
}
void BM_AesCbcDecrypt_OpenSSL(benchmark::State &state) {
    AesOpenSsl(state, false);
}

// Both sides produce a fresh output buffer per call, as the export does.
void BM_Base64Encode_Kestrun(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrun::codecs::Base64Encode(Data()));
    }
    SetBytes(state, kSize);
}

void BM_Base64Encode_OpenSSL(benchmark::State &state) {
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> out(new unsigned char[kSize / 3 * 4 + 8]);
        EVP_EncodeBlock(out.get(), Bytes(Data()), static_cast<int>(kSize));
        benchmark::DoNotOptimize(out.get());
    }
    SetBytes(state, kSize);
}

void BM_Base64Decode_Kestrun(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrun::codecs::Base64Decode(Base64Text()));
    }
    SetBytes(state, Base64Text().size());
}

void BM_Base64Decode_OpenSSL(benchmark::State &state) {
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> out(new unsigned char[Base64Text().size() / 4 * 3 + 8]);
        EVP_DecodeBlock(out.get(), Bytes(Base64Text()), static_cast<int>(Base64Text().size()));
        benchmark::DoNotOptimize(out.get());
    }
    SetBytes(state, Base64Text().size());
}

BENCHMARK(BM_Md5_Kestrun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesCbcEncrypt_Kestrun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesCbcEncrypt_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesCbcDecrypt_Kestrun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesCbcDecrypt_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Encode_Kestrun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Encode_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode_Kestrun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode_OpenSSL)->Unit(benchmark::kMillisecond);

// Keeps the console output and remembers CPU nanoseconds per iteration of every benchmark (CPU
// time, so that other work on a shared machine does not tilt the ratios).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")) {
                continue;
            }
            const double toNs = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            nsPerIteration[run.run_name.function_name] = run.GetAdjustedCPUTime() * toNs;
        }
    }

    std::map<std::string, double> nsPerIteration;
};

} // namespace

int main(int argc, char **argv) {
    if (std::getenv("OPENSSL_ia32cap") == nullptr) {
        ::setenv("OPENSSL_ia32cap", kTableDrivenAes, 1);
        ::execv("/proc/self/exe", argv);
        std::fprintf(stderr, "could not restart with OPENSSL_ia32cap set; AES-NI may be in use\n");
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // The inputs are made here, before any benchmark runs, so that no timed iteration pays for
    // building them.
    (void)Data();
    (void)Base64Text();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nOPENSSL_ia32cap=%s\n", std::getenv("OPENSSL_ia32cap"));
    std::printf("%-18s %14s %14s %8s %6s\n", "work", "kestrun cpu ms", "openssl cpu ms", "ratio",
                "goal");
    const struct {
        const char *work;
        double goal;
    } pairs[] = {{"Md5", 0.9},
                 {"AesCbcEncrypt", 0.8},
                 {"AesCbcDecrypt", 0.8},
                 {"Base64Encode", 1.0},
                 {"Base64Decode", 1.0}};
    for (const auto &pair : pairs) {
        const std::string base = std::string("BM_") + pair.work;
        const auto ours = reporter.nsPerIteration.find(base + "_Kestrun");
        const auto peer = reporter.nsPerIteration.find(base + "_OpenSSL");
        if (ours == reporter.nsPerIteration.end() || peer == reporter.nsPerIteration.end()) {
            continue;
        }
        // Throughput ratio: above 1 means faster than OpenSSL.
        const double ratio = peer->second / ours->second;
        std::printf("%-18s %14.2f %14.2f %7.2fx %5.1fx %s\n", pair.work, ours->second / 1e6,
                    peer->second / 1e6, ratio, pair.goal, ratio >= pair.goal ? "ok" : "BELOW");
    }
    return 0;
}
