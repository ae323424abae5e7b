// Md5Context, the AES engine in CBC and the Base64 codec over 64 MiB, each beside OpenSSL doing
// the same work in the same run; then the AES exports as a host calls them (string in, BSTR out
// and freed) beside their inner functions and OpenSSL:
//
// - AESEncrypt_GB / AESDecrypt_GB on 16 MiB of text (CBC, PKCS#7, Base64) beside OpenSSL's EVP
//   cipher and EVP_EncodeBlock / EVP_DecodeBlock in this process, each into a fresh buffer;
// - AESEncryptTxtFile_GB / AESDecryptTxtFile_GB on a 64 MiB file beside the `openssl enc
//   -aes-128-cbc` process on the same file (its CPU time, user + system, start-up included).
//
// Both sides use the processor's AES instructions where it has them (OpenSSL unless
// OPENSSL_ia32cap says otherwise). The ratios are printed at the end.
#include "common/ratio_table.h"
#include "kestrun.h"
#include "kestrun/codecs/base64.h"
#include "kestrun/crypto/aes.h"
#include "kestrun/crypto/aes_text.h"
#include "kestrun/crypto/md5.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr size_t kSize = 64u << 20;
constexpr size_t kTextSize = 16u << 20;

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

// Text bytes 1..255 (an in-string ends at its first zero byte).
std::string TextBytes(size_t n, uint64_t seed) {
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

// The key and IV texts of the exports: 16 bytes each, the same bytes as kKey and kIv below.
constexpr char kKeyText[] = "+~\x15\x16(\xae\xd2\xa6\xab\xf7\x15\x88\x09\xcfO<";
constexpr char kIvText[] = "0123456789abcdef";
constexpr char kKeyHex[] = "2b7e151628aed2a6abf7158809cf4f3c";
constexpr char kIvHex[] = "30313233343536373839616263646566";

struct ExportInputs {
    std::string text = TextBytes(kTextSize, 0x2545F4914F6CDD1Dull);
    std::string cipherBase64 = kestrun::crypto::AesEncryptText(text, kKeyText, kIvText, 1, 1, 0);
    std::string dir;
    std::string plainFile;  // 64 MiB of text
    std::string cipherFile; // its ciphertext, as AESEncryptTxtFile_GB writes it
    std::string outFile;
};

ExportInputs *inputs = nullptr;

const uint8_t *Bytes(const std::string &s) {
    return reinterpret_cast<const uint8_t *>(s.data());
}

const uint8_t kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                          0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const uint8_t kIv[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                         '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

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

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

void BM_AesEncryptText_Export(benchmark::State &state) {
    for (auto _ : state) {
        BSTR out = AESEncrypt_GB(inputs->text.c_str(), kKeyText, kIvText, 1, 1, 0);
        benchmark::DoNotOptimize(out);
        SysFreeString(out);
    }
    SetBytes(state, kTextSize);
}

void BM_AesEncryptText_Inner(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            kestrun::crypto::AesEncryptText(inputs->text, kKeyText, kIvText, 1, 1, 0));
    }
    SetBytes(state, kTextSize);
}

// EVP AES-128-CBC with PKCS#7 padding, then EVP_EncodeBlock (no line breaks).
void BM_AesEncryptText_OpenSSL(benchmark::State &state) {
    const CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    const size_t n = inputs->text.size();
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> cipher(new unsigned char[n + 16]);
        int written = 0;
        int last = 0;
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, kKey, kIv);
        EVP_EncryptUpdate(ctx.get(), cipher.get(), &written, Bytes(inputs->text),
                          static_cast<int>(n));
        EVP_EncryptFinal_ex(ctx.get(), cipher.get() + written, &last);
        const int size = written + last;
        std::unique_ptr<unsigned char[]> text(new unsigned char[(size + 2) / 3 * 4 + 1]);
        EVP_EncodeBlock(text.get(), cipher.get(), size);
        benchmark::DoNotOptimize(text.get());
    }
    SetBytes(state, kTextSize);
}

void BM_AesDecryptText_Export(benchmark::State &state) {
    for (auto _ : state) {
        BSTR out = AESDecrypt_GB(inputs->cipherBase64.c_str(), kKeyText, kIvText, 1, 1, 0);
        benchmark::DoNotOptimize(out);
        SysFreeString(out);
    }
    SetBytes(state, kTextSize);
}

void BM_AesDecryptText_Inner(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            kestrun::crypto::AesDecryptText(inputs->cipherBase64, kKeyText, kIvText, 1, 1, 0));
    }
    SetBytes(state, kTextSize);
}

// EVP_DecodeBlock, then EVP AES-128-CBC with the padding checked and removed.
void BM_AesDecryptText_OpenSSL(benchmark::State &state) {
    const CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    const std::string &text = inputs->cipherBase64;
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> cipher(new unsigned char[text.size() / 4 * 3 + 3]);
        int size = EVP_DecodeBlock(cipher.get(), Bytes(text), static_cast<int>(text.size()));
        for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) {
            --size; // EVP_DecodeBlock counts the padding characters as zero bytes
        }
        std::unique_ptr<unsigned char[]> plain(new unsigned char[static_cast<size_t>(size) + 16]);
        int written = 0;
        int last = 0;
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, kKey, kIv);
        EVP_DecryptUpdate(ctx.get(), plain.get(), &written, cipher.get(), size);
        EVP_DecryptFinal_ex(ctx.get(), plain.get() + written, &last);
        benchmark::DoNotOptimize(plain.get());
    }
    SetBytes(state, kTextSize);
}

void BM_AesEncryptFile_Export(benchmark::State &state) {
    for (auto _ : state) {
        BSTR out = AESEncryptTxtFile_GB(inputs->plainFile.c_str(), inputs->outFile.c_str(),
                                        kKeyText, kIvText, 1);
        benchmark::DoNotOptimize(out);
        SysFreeString(out);
    }
    SetBytes(state, kSize);
}

void BM_AesDecryptFile_Export(benchmark::State &state) {
    for (auto _ : state) {
        BSTR out = AESDecryptTxtFile_GB(inputs->cipherFile.c_str(), inputs->outFile.c_str(),
                                        kKeyText, kIvText, 1);
        benchmark::DoNotOptimize(out);
        SysFreeString(out);
    }
    SetBytes(state, kSize);
}

// CPU seconds (user + system) of `openssl enc -aes-128-cbc [-d -nopad] -K .. -iv .. -in .. -out
// ..`.
double RunOpenSslEnc(bool decrypt, const std::string &in, const std::string &out) {
    std::vector<std::string> args = {"openssl", "enc", "-aes-128-cbc"};
    if (decrypt) {
        args.insert(args.end(), {"-d", "-nopad"});
    }
    args.insert(args.end(), {"-K", kKeyHex, "-iv", kIvHex, "-in", in, "-out", out});
    std::vector<char *> argv;
    for (auto &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    struct rusage before {};
    getrusage(RUSAGE_CHILDREN, &before);
    if (posix_spawnp(&pid, "openssl", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    struct rusage after {};
    getrusage(RUSAGE_CHILDREN, &after);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
           seconds(before.ru_stime);
}

void OpenSslFile(benchmark::State &state, bool decrypt) {
    for (auto _ : state) {
        const double seconds = RunOpenSslEnc(
            decrypt, decrypt ? inputs->cipherFile : inputs->plainFile, inputs->outFile);
        if (seconds < 0) {
            state.SkipWithError("openssl enc did not run");
            break;
        }
        state.SetIterationTime(seconds);
    }
    SetBytes(state, kSize);
}

void BM_AesEncryptFile_OpenSSL(benchmark::State &state) {
    OpenSslFile(state, false);
}
void BM_AesDecryptFile_OpenSSL(benchmark::State &state) {
    OpenSslFile(state, true);
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
BENCHMARK(BM_AesEncryptText_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesEncryptText_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesEncryptText_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesDecryptText_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesDecryptText_Inner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesDecryptText_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesEncryptFile_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesEncryptFile_OpenSSL)->UseManualTime()->Iterations(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesDecryptFile_Export)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AesDecryptFile_OpenSSL)->UseManualTime()->Iterations(8)->Unit(benchmark::kMillisecond);

void WriteFile(const std::string &path, const std::string &data) {
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // The inputs are made here, before any benchmark runs, so that no timed iteration pays for
    // building them.
    (void)Data();
    (void)Base64Text();
    ExportInputs made;
    char dir[] = "/tmp/crypto_bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    made.dir = dir;
    made.plainFile = made.dir + "/plain.txt";
    made.cipherFile = made.dir + "/cipher.bin";
    made.outFile = made.dir + "/out.bin";
    WriteFile(made.plainFile, TextBytes(kSize, 0x9E3779B97F4A7C15ull));
    kestrun::crypto::AesEncryptFile(made.plainFile, made.cipherFile, kKeyText, kIvText, 1);
    inputs = &made;

    std::printf("AES instructions: kestrun %s; OPENSSL_ia32cap=%s\n",
                kestrun::crypto::AES::HardwareAvailable() ? "yes" : "no",
                std::getenv("OPENSSL_ia32cap") ? std::getenv("OPENSSL_ia32cap") : "(unset)");
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const std::string *file : {&made.plainFile, &made.cipherFile, &made.outFile}) {
        std::remove(file->c_str());
    }
    rmdir(dir);

    using bench::Goal;
    bench::PrintTable(reporter,
                      {
                          {"Md5Context 64 MiB vs EVP", "BM_Md5_Kestrun", "BM_Md5_OpenSSL",
                           Goal::SpeedAtLeast, 0.9},
                          {"AES-CBC encrypt 64 MiB vs EVP", "BM_AesCbcEncrypt_Kestrun",
                           "BM_AesCbcEncrypt_OpenSSL", Goal::SpeedAtLeast, 0.8},
                          {"AES-CBC decrypt 64 MiB vs EVP", "BM_AesCbcDecrypt_Kestrun",
                           "BM_AesCbcDecrypt_OpenSSL", Goal::SpeedAtLeast, 0.8},
                          {"Base64 encode 64 MiB vs EVP", "BM_Base64Encode_Kestrun",
                           "BM_Base64Encode_OpenSSL", Goal::SpeedAtLeast, 1.0},
                          {"Base64 decode 64 MiB vs EVP", "BM_Base64Decode_Kestrun",
                           "BM_Base64Decode_OpenSSL", Goal::SpeedAtLeast, 1.0},
                          {"AESEncrypt_GB 16 MiB vs EVP+Base64", "BM_AesEncryptText_Export",
                           "BM_AesEncryptText_OpenSSL", Goal::SpeedAtLeast, 0.8},
                          {"AesEncryptText 16 MiB vs EVP+Base64", "BM_AesEncryptText_Inner",
                           "BM_AesEncryptText_OpenSSL", Goal::SpeedAtLeast, 0.8},
                          {"AESDecrypt_GB 16 MiB vs EVP+Base64", "BM_AesDecryptText_Export",
                           "BM_AesDecryptText_OpenSSL", Goal::SpeedAtLeast, 0.8},
                          {"AesDecryptText 16 MiB vs EVP+Base64", "BM_AesDecryptText_Inner",
                           "BM_AesDecryptText_OpenSSL", Goal::SpeedAtLeast, 0.8},
                          {"AESEncryptTxtFile_GB 64 MiB vs enc", "BM_AesEncryptFile_Export",
                           "BM_AesEncryptFile_OpenSSL", Goal::SpeedAtLeast, 0.8},
                          {"AESDecryptTxtFile_GB 64 MiB vs enc -d", "BM_AesDecryptFile_Export",
                           "BM_AesDecryptFile_OpenSSL", Goal::SpeedAtLeast, 0.8},
                      });
    return 0;
}
