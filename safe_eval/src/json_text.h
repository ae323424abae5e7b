// The JSON result text: success and failure objects, string text, integer and float text.
#pragma once

#include "value.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace safe_eval {

// Receives output bytes. With no buffer it only counts them, so the same writer code first
// measures the text and then fills a buffer of exactly that size.
class TextSink {
public:
    TextSink() = default;
    explicit TextSink(char *buffer) : buffer_(buffer) {}

    void put(char c) {
        if (buffer_ != nullptr) {
            buffer_[size_] = c;
        }
        ++size_;
    }
    void put(std::string_view s) {
        if (buffer_ != nullptr && !s.empty()) {
            std::memcpy(buffer_ + size_, s.data(), s.size());
        }
        size_ += s.size();
    }
    std::size_t size() const { return size_; }

    // Direct access for writers that produce many bytes at once: in counting mode they only
    // report how many bytes they would write.
    bool counting() const { return buffer_ == nullptr; }
    char *cursor() const { return buffer_ + size_; }
    void advance(std::size_t n) { size_ += n; }

private:
    char *buffer_ = nullptr;
    std::size_t size_ = 0;
};

// Writes UTF-8 text as a quoted JSON string: \t \n \r \" \\ as short escapes, every other
// control character and U+007F..U+009F as \u with four lowercase hex digits, the rest unchanged.
void serde_json_str(std::string_view text, TextSink &out);

// The positional decimal text of a double with the shortest digits that read back exactly;
// NaN, inf, -inf and -0 as bare words. Writes into `out`, which needs room for 330 bytes, and
// returns the length.
inline constexpr std::size_t kFloatTextCapacity = 330;
std::size_t float_text(double value, char *out);

// The error object of an EvalError: {"error":KIND,"message":TEXT}.
void error_to_json(const EvalError &error, TextSink &out);

// The whole result text of an outcome, success or failure object.
void result_to_json(const EvalResult &result, TextSink &out);

// Allocator of the result buffer; returns null on failure.
using ResultAllocator = void *(*)(std::size_t);

// Renders the result text into a buffer from `allocate` of exactly its length plus one byte,
// NUL-terminated. Returns null when the buffer cannot be allocated.
char *render_result(const EvalResult &result, ResultAllocator allocate);

} // namespace safe_eval
