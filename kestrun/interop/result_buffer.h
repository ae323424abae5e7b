// String results written straight into the BSTR that the export returns, and in-arguments read
// in place.
//
// A large result is built once: the export sizes it (exactly, or by a bound), allocates the BSTR
// with that many bytes, lets the codec fill it and then ends it at the length actually used.
// Nothing is built in a temporary buffer first and copied.
#pragma once

#include "kestrun/interop/boundary.h"

#include <cstddef>
#include <string_view>

namespace kestrun::interop {

// An in-string argument read in place: the bytes up to the first zero byte ("" for null).
std::string_view InView(const char *p);

// A ref-string argument read in place (the BSTR's bytes up to the first zero byte). The view
// lives as long as the caller's variable keeps its BSTR.
std::string_view RefView(const BSTR *variable);

// Whether a result may hold a zero byte, and so must be cut at the first one (decoded or
// decrypted data), or cannot (encoders whose alphabet has no zero byte).
enum class ZeroBytes { Possible, Impossible };

// The BSTR of a String result under construction. Freed unless handed over with Finish.
class ResultBuffer {
public:
    // Room for `bound` bytes. Throws std::bad_alloc when the BSTR cannot be allocated (or a byte
    // count would not fit its 32-bit length field).
    explicit ResultBuffer(size_t bound);
    ResultBuffer(const ResultBuffer &) = delete;
    ResultBuffer &operator=(const ResultBuffer &) = delete;

    char *data() { return reinterpret_cast<char *>(bstr_.get()); }
    size_t bound() const { return bound_; }

    // Hands the result over: its first `used` bytes (at most the bound), cut at the first zero
    // byte unless `zeros` says there cannot be one. A slightly loose bound is trimmed in place;
    // a very loose one is moved to an exact allocation so that the slack is given back.
    BSTR Finish(size_t used, ZeroBytes zeros = ZeroBytes::Possible);

private:
    UniqueBstr bstr_;
    size_t bound_;
};

// A String result whose bytes arrive piece by piece (a response body), received straight into the
// BSTR the export returns, so that they are never copied once they have arrived. It grows by
// doubling; Reserve sizes it once for a length known beforehand. The bytes can be rewritten in
// place (a decoder that shortens them) before Finish hands the BSTR over.
class GrowingResult {
public:
    GrowingResult() = default;
    GrowingResult(GrowingResult &&) noexcept = default;
    GrowingResult &operator=(GrowingResult &&) noexcept = default;

    // Room for `capacity` bytes in all. Throws std::bad_alloc as ResultBuffer does.
    void Reserve(size_t capacity);
    void Append(std::string_view bytes);
    void Assign(std::string_view bytes) {
        size_ = 0;
        Append(bytes);
    }
    void Clear() { size_ = 0; }
    // Keeps the first `size` bytes (no more than there are).
    void Truncate(size_t size) { size_ = size < size_ ? size : size_; }

    char *data() { return reinterpret_cast<char *>(bstr_.get()); }
    size_t size() const { return size_; }
    std::string_view View() const {
        return size_ == 0 ? std::string_view()
                          : std::string_view(reinterpret_cast<const char *>(bstr_.get()), size_);
    }

    // Hands the result over, cut at its first zero byte. Unused room stays in the allocation
    // (moving the bytes to an exact one would copy them once more). Throws std::bad_alloc when
    // an empty result cannot be allocated.
    BSTR Finish();

private:
    UniqueBstr bstr_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Builds a String result of at most `bound` bytes: `fill(char *out)` writes it and returns the
// byte count it used.
template <class Fill>
BSTR WriteStringResult(size_t bound, Fill &&fill, ZeroBytes zeros = ZeroBytes::Possible) {
    ResultBuffer buffer(bound);
    const size_t used = fill(buffer.data());
    return buffer.Finish(used, zeros);
}

// Builds a String result of exactly `size` bytes that holds no zero byte (an encoder's output):
// `write(char *out)` fills it.
template <class Write> BSTR WriteExactResult(size_t size, Write &&write) {
    return WriteStringResult(
        size,
        [&](char *out) {
            write(out);
            return size;
        },
        ZeroBytes::Impossible);
}

} // namespace kestrun::interop
