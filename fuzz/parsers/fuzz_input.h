// Splits a fuzz input into the arguments of a call: fields that carry their own length in front
// (one or two bytes, little-endian), single bytes for choices, and the rest of the input. A short
// input gives empty fields and zero bytes rather than failing, so every input is a valid call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzzing {

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size)
        : rest_(reinterpret_cast<const char *>(data), size) {}

    uint8_t Byte() {
        if (rest_.empty()) {
            return 0;
        }
        const auto b = static_cast<uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }

    // A field of at most 255 bytes.
    std::string_view Field() { return Take(Byte()); }

    // A field of at most 65535 bytes.
    std::string_view LongField() {
        const size_t low = Byte();
        return Take(low | size_t{Byte()} << 8);
    }

    std::string_view Rest() const { return rest_; }

private:
    std::string_view Take(size_t n) {
        const std::string_view field = rest_.substr(0, n);
        rest_.remove_prefix(field.size());
        return field;
    }

    std::string_view rest_;
};

// Ends the run with the broken property, so that libFuzzer saves the input.
[[noreturn]] inline void Fail(const char *target, const char *what) {
    std::fprintf(stderr, "%s fuzz check failed: %s\n", target, what);
    std::abort();
}

} // namespace fuzzing
