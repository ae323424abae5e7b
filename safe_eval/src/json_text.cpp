#include "json_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace safe_eval {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void put_unicode_escape(unsigned code, TextSink &out) {
    const char escape[6] = {
        '\\', 'u', '0', '0', kHexDigits[(code >> 4) & 0xF], kHexDigits[code & 0xF]};
    out.put(std::string_view(escape, sizeof escape));
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

} // namespace

void serde_json_str(std::string_view text, TextSink &out) {
    out.put('"');
    const std::size_t n = text.size();
    std::size_t run_start = 0; // start of the bytes not yet written
    std::size_t i = 0;
    while (i < n) {
        if (n - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, sizeof word);
            if (!may_need_escape(word)) {
                i += 8;
                continue;
            }
        }
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1_control = c == 0xC2 && i + 1 < n &&
                                static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                                static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7F && !c1_control) {
            ++i;
            continue;
        }
        out.put(text.substr(run_start, i - run_start));
        switch (c) {
        case '\t':
            out.put("\\t");
            break;
        case '\n':
            out.put("\\n");
            break;
        case '\r':
            out.put("\\r");
            break;
        case '"':
            out.put("\\\"");
            break;
        case '\\':
            out.put("\\\\");
            break;
        case 0xC2: // U+0080..U+009F, encoded as C2 80..C2 9F
            put_unicode_escape(static_cast<unsigned char>(text[i + 1]), out);
            ++i;
            break;
        default:
            put_unicode_escape(c, out);
            break;
        }
        ++i;
        run_start = i;
    }
    out.put(text.substr(run_start));
    out.put('"');
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
