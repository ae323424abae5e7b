// Replays the seed images (each also cut short and with flipped bytes) and every file of the
// given folders through the fuzz entry, so that every build - plain and sanitized, any compiler -
// rechecks the loaders without libFuzzer. With --write-seeds DIR it writes the seeds as a
// starting corpus for the fuzzer instead.
#include "../common/corpus_files.h"
#include "fuzz_loaders.h"
#include "seeds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char **argv) {
    const auto seeds = MakeSeeds();
    if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
        std::filesystem::create_directories(argv[2]);
        for (const auto &[name, bytes] : seeds) {
            std::ofstream(std::filesystem::path(argv[2]) / name, std::ios::binary) << bytes;
        }
        std::printf("wrote %zu seeds\n", seeds.size());
        return 0;
    }
    size_t replayed = 0;
    for (const auto &[name, bytes] : seeds) {
        FuzzImageLoaders(bytes);
        for (size_t n = 0; n < bytes.size(); n += 1 + n / 16) {
            FuzzImageLoaders(std::string_view(bytes).substr(0, n));
            ++replayed;
        }
        for (size_t at = 0; at < bytes.size(); at += 1 + bytes.size() / 64) {
            for (const char mask : {'\x01', '\x80', '\xFF'}) {
                std::string damaged = bytes;
                damaged[at] = char(damaged[at] ^ mask);
                FuzzImageLoaders(damaged);
                ++replayed;
            }
        }
    }
    if (!fuzzreplay::ForEachCorpusFile(argc, argv, 1, replayed,
                                       [](const std::string &bytes) { FuzzImageLoaders(bytes); }))
        return 1;
    return fuzzreplay::Finish(replayed);
}
