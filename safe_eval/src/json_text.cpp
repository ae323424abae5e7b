#include "json_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace safe_eval {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Whole-word tests over eight bytes at once (exact as yes/no answers).
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

bool has_byte_below(std::uint64_t word, std::uint8_t limit) { // limit <= 0x80
    return ((word - kOnes * limit) & ~word & kHighBits) != 0;
}
bool has_byte(std::uint64_t word, std::uint8_t byte) {
    return has_byte_below(word ^ (kOnes * byte), 1);
}

// False when none of the eight bytes can start an escape: no control character, quote,
// backslash, DEL, or C2 (the lead byte of U+0080..U+009F).
bool may_need_escape(std::uint64_t word) {
    return has_byte_below(word, 0x20) || has_byte(word, '"') || has_byte(word, '\\') ||
           has_byte(word, 0x7F) || has_byte(word, 0xC2);
}

// Output bytes beyond the input byte when it is written inside a string text: 1 for the short
// escapes, 5 for \u00xx. The C1 controls (two input bytes C2 80..C2 9F) are handled apart.
constexpr std::array<std::uint8_t, 256> kEscapeExtra = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[static_cast<std::size_t>(c)] = 5;
    }
    table['\t'] = table['\n'] = table['\r'] = table['"'] = table['\\'] = 1;
    table[0x7F] = 5;
    return table;
}();

char short_escape(unsigned char c) {
    switch (c) {
    case '\t':
        return 't';
    case '\n':
        return 'n';
    case '\r':
        return 'r';
    default:
        return static_cast<char>(c); // the quote and the backslash stand for themselves
    }
}

char *put_unicode_escape(unsigned code, char *p) {
    p[0] = '\\';
    p[1] = 'u';
    p[2] = '0';
    p[3] = '0';
    p[4] = kHexDigits[(code >> 4) & 0xF];
    p[5] = kHexDigits[code & 0xF];
    return p + 6;
}

// True when the bytes at i are C2 80..C2 9F, the encoding of U+0080..U+009F.
bool is_c1_control(std::string_view text, std::size_t i) {
    if (static_cast<unsigned char>(text[i]) != 0xC2 || i + 1 >= text.size()) {
        return false;
    }
    const auto next = static_cast<unsigned char>(text[i + 1]);
    return next >= 0x80 && next <= 0x9F;
}

// Visits the text in steps: whole words of eight bytes that need no escape, and single
// characters otherwise (a C1 control counts as one step of two bytes). A word that holds a byte
// needing attention is walked character by character before the next word is tested.
template <class PlainWord, class Character>
void walk_string_text(std::string_view text, PlainWord plain_word, Character character) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        std::size_t stop = i + 1;
        if (n - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, sizeof word);
            if (!may_need_escape(word)) {
                plain_word(i);
                i += 8;
                continue;
            }
            stop = i + 8;
        }
        while (i < stop) {
            const bool c1 = is_c1_control(text, i);
            character(i, c1);
            i += c1 ? 2 : 1;
        }
    }
}

std::size_t string_text_length(std::string_view text) {
    std::size_t extra = 0;
    walk_string_text(
        text, [](std::size_t) {},
        [&](std::size_t i, bool c1) {
            extra += c1 ? 4 : kEscapeExtra[static_cast<unsigned char>(text[i])];
        });
    return text.size() + 2 + extra;
}

char *write_string_text(std::string_view text, char *p) {
    *p++ = '"';
    walk_string_text(
        text,
        [&](std::size_t i) {
            std::memcpy(p, text.data() + i, 8);
            p += 8;
        },
        [&](std::size_t i, bool c1) {
            if (c1) {
                p = put_unicode_escape(static_cast<unsigned char>(text[i + 1]), p);
                return;
            }
            const auto c = static_cast<unsigned char>(text[i]);
            switch (kEscapeExtra[c]) {
            case 0:
                *p++ = static_cast<char>(c);
                break;
            case 1:
                *p++ = '\\';
                *p++ = short_escape(c);
                break;
            default:
                p = put_unicode_escape(c, p);
                break;
            }
        });
    *p++ = '"';
    return p;
}

void put_int_text(std::int64_t value, TextSink &out) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.put(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void put_float_text(double value, TextSink &out) {
    char text[kFloatTextCapacity];
    out.put(std::string_view(text, float_text(value, text)));
}

void value_to_json(const Value &value, TextSink &out) {
    switch (kind_of(value)) {
    case ValueKind::Int:
        out.put(R"({"type":"int","value":)");
        put_int_text(*std::get_if<std::int64_t>(&value), out);
        break;
    case ValueKind::Float:
        out.put(R"({"type":"float","value":)");
        put_float_text(*std::get_if<double>(&value), out);
        break;
    case ValueKind::Str:
        out.put(R"({"type":"str","value":)");
        serde_json_str(*std::get_if<std::string>(&value), out);
        break;
    case ValueKind::Bool:
        out.put(R"({"type":"bool","value":)");
        out.put(*std::get_if<bool>(&value) ? "true" : "false");
        break;
    }
    out.put('}');
}

} // namespace

void serde_json_str(std::string_view text, TextSink &out) {
    if (out.counting()) {
        out.advance(string_text_length(text));
        return;
    }
    char *start = out.cursor();
    out.advance(static_cast<std::size_t>(write_string_text(text, start) - start));
}

std::size_t float_text(double value, char *out) {
    char *p = out;
    if (std::isnan(value)) {
        std::memcpy(p, "NaN", 3);
        return 3;
    }
    if (std::signbit(value)) {
        *p++ = '-';
        value = -value;
    }
    if (std::isinf(value)) {
        std::memcpy(p, "inf", 3);
        return static_cast<std::size_t>(p + 3 - out);
    }
    if (value == 0.0) {
        *p++ = '0';
        return static_cast<std::size_t>(p - out);
    }
    // The shortest round-trip digits in scientific form: "d.ddde+XX" or "de-XX".
    char sci[40];
    const char *sci_end =
        std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
    char digits[24];
    std::size_t k = 0;
    const char *q = sci;
    for (; *q != 'e'; ++q) {
        if (*q != '.') {
            digits[k++] = *q;
        }
    }
    int exponent = 0;
    std::from_chars(q + (q[1] == '+' ? 2 : 1), sci_end, exponent);
    // With the value written as 0.d1...dk x 10^e, e is one more than the scientific exponent.
    const long e = exponent + 1;
    const long kk = static_cast<long>(k);
    if (e <= 0) {
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', static_cast<std::size_t>(-e));
        p += -e;
        std::memcpy(p, digits, k);
        p += k;
    } else if (e < kk) {
        std::memcpy(p, digits, static_cast<std::size_t>(e));
        p += e;
        *p++ = '.';
        std::memcpy(p, digits + e, static_cast<std::size_t>(kk - e));
        p += kk - e;
    } else {
        std::memcpy(p, digits, k);
        p += k;
        std::memset(p, '0', static_cast<std::size_t>(e - kk));
        p += e - kk;
    }
    return static_cast<std::size_t>(p - out);
}

void error_to_json(const EvalError &error, TextSink &out) {
    switch (error.kind()) {
    case EvalErrorKind::Syntax:
        out.put(R"({"error":"syntax","message":)");
        serde_json_str(error.message(), out);
        break;
    case EvalErrorKind::DivZero:
        out.put(R"({"error":"divzero","message":"Division by zero")");
        break;
    case EvalErrorKind::Type:
        out.put(R"({"error":"type","message":)");
        serde_json_str(error.message(), out);
        break;
    case EvalErrorKind::StackOverflow:
        out.put(R"({"error":"overflow","message":"Stack overflow")");
        break;
    case EvalErrorKind::Timeout:
        out.put(R"({"error":"timeout","message":"Execution timeout")");
        break;
    case EvalErrorKind::UnknownOpcode: {
        std::string message = "Unknown opcode: " + std::to_string(error.opcode());
        out.put(R"({"error":"opcode","message":)");
        serde_json_str(message, out);
        break;
    }
    case EvalErrorKind::InsufficientStack:
        out.put(R"({"error":"stack","message":"Insufficient stack")");
        break;
    }
    out.put('}');
}

void result_to_json(const EvalResult &result, TextSink &out) {
    if (const auto *value = std::get_if<Value>(&result)) {
        out.put(R"({"ok":true,"value":)");
        value_to_json(*value, out);
    } else {
        out.put(R"({"ok":false,"error":)");
        error_to_json(*std::get_if<EvalError>(&result), out);
    }
    out.put('}');
}

char *render_result(const EvalResult &result, ResultAllocator allocate) {
    TextSink counter;
    result_to_json(result, counter);
    const std::size_t length = counter.size();
    if (length == std::numeric_limits<std::size_t>::max()) {
        return nullptr;
    }
    auto *buffer = static_cast<char *>(allocate(length + 1));
    if (buffer == nullptr) {
        return nullptr;
    }
    TextSink writer(buffer);
    result_to_json(result, writer);
    buffer[length] = '\0';
    return buffer;
}

} // namespace safe_eval
