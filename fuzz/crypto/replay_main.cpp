// Replays generated inputs (real ciphertext texts in every form, cut short and with flipped
// bytes) and every file of the given folders through the fuzz entry, so that every build - plain
// and sanitized, any compiler - rechecks the decryption of ciphertext texts without libFuzzer.
#include "../common/corpus_files.h"
#include "fuzz_cipher_text.h"

#include "kestrun/crypto/aes_text.h"

#include <string>

int main(int argc, char **argv) {
    size_t replayed = 0;
    const std::string texts[] = {"", "a", "0123456789abcdef", "a longer text over several blocks",
                                 std::string(300, 'x')};
    for (int choice = 0; choice < 16; ++choice) {
        for (const std::string &plain : texts) {
            const std::string cipher =
                kestrun::crypto::AesEncryptText(plain, "fuzzing key 0123", "fuzzing iv 45678",
                                                choice % 4, (choice >> 2) % 2, (choice >> 3) % 2);
            const std::string input = static_cast<char>(choice) + cipher;
            for (size_t n = 0; n <= input.size(); n += 1 + n / 8) {
                FuzzCipherText(input.substr(0, n));
                ++replayed;
            }
            for (size_t at = 1; at < input.size(); at += 1 + input.size() / 16) {
                for (const char c : {'=', '\n', 'Z', '\x80', '\0'}) {
                    std::string damaged = input;
                    damaged[at] = c;
                    FuzzCipherText(damaged);
                    ++replayed;
                }
            }
        }
    }
    if (!fuzzreplay::ForEachCorpusFile(argc, argv, 1, replayed,
                                       [](const std::string &bytes) { FuzzCipherText(bytes); }))
        return 1;
    return fuzzreplay::Finish(replayed);
}
