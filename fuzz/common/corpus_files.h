// Reading a fuzz corpus without libFuzzer: every regular file of the folders named on the command
// line, handed to a callback as bytes. Shared by the corpus replay programs.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzzreplay {

// Calls `use(bytes)` for each file of the folders argv[first..argc); false (with a message on
// stderr) when a folder cannot be read. `replayed` counts the files.
template <class Use>
bool ForEachCorpusFile(int argc, char **argv, int first, std::size_t &replayed, Use &&use) {
    for (int i = first; i < argc; ++i) {
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(argv[i], ec)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            use(bytes);
            ++replayed;
        }
        if (ec) {
            std::fprintf(stderr, "cannot read corpus folder %s\n", argv[i]);
            return false;
        }
    }
    return true;
}

// What a replay program prints and returns at the end: failure when nothing was replayed.
inline int Finish(std::size_t replayed) {
    std::printf("replayed %zu inputs\n", replayed);
    return replayed == 0 ? 1 : 0;
}

} // namespace fuzzreplay
