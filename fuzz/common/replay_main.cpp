// Replays every file of the given folders through the fuzz entry it is linked with, so that every
// build (any compiler, plain and sanitized) rechecks the corpus without libFuzzer.
#include "corpus_files.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
    std::size_t replayed = 0;
    if (!fuzzreplay::ForEachCorpusFile(argc, argv, 1, replayed, [](const std::string &bytes) {
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                   bytes.size());
        }))
        return 1;
    return fuzzreplay::Finish(replayed);
}
