// Reads a fuzz input as a stream of values: bytes, raw numbers, short byte strings. Past the
// end every read gives zeros, so a harness never has to check what is left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace kestrun::fuzz {

struct ByteReader {
    const uint8_t *p;
    size_t n;
    bool more() const { return n > 0; }
    uint8_t byte() {
        if (!n)
            return 0;
        --n;
        return *p++;
    }
    template <class T> T raw() {
        T v{};
        uint8_t b[sizeof(T)] = {};
        for (auto &x : b)
            x = byte();
        std::memcpy(&v, b, sizeof v);
        return v;
    }
    // Up to max - 1 bytes, their count read first.
    std::string bytes(size_t max) {
        std::string s;
        for (size_t len = byte() % max; len && more(); --len)
            s.push_back(static_cast<char>(byte()));
        return s;
    }
};

} // namespace kestrun::fuzz
