#include "result_shape.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace safe_eval_fuzz {

namespace {

class Cursor {
public:
    explicit Cursor(std::string_view text) : rest_(text) {}

    bool literal(std::string_view s) {
        if (!rest_.starts_with(s)) {
            return false;
        }
        rest_.remove_prefix(s.size());
        return true;
    }
    bool at_end() const { return rest_.empty(); }
    std::string_view rest() const { return rest_; }
    void skip(std::size_t n) { rest_.remove_prefix(n); }

private:
    std::string_view rest_;
};

bool is_lower_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_sequence(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c < 0x80) {
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (s.size() < len || b(1) < lo || b(1) > hi) {
        return 0;
    }
    for (std::size_t i = 2; i < len; ++i) {
        if ((b(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return len;
}

// A quoted string text; the decoded characters go to `decoded`.
bool string_text(Cursor &in, std::string &decoded, std::string &why) {
    if (!in.literal("\"")) {
        why = "string text does not start with a quote";
        return false;
    }
    while (true) {
        const std::string_view rest = in.rest();
        if (rest.empty()) {
            why = "unterminated string text";
            return false;
        }
        const auto c = static_cast<unsigned char>(rest[0]);
        if (c == '"') {
            in.skip(1);
            return true;
        }
        if (c == '\\') {
            if (rest.size() < 2) {
                why = "dangling backslash";
                return false;
            }
            const char e = rest[1];
            const char *plain = e == 't' ? "\t" : e == 'n' ? "\n" : e == 'r' ? "\r" : nullptr;
            if (e == '"' || e == '\\') {
                decoded.push_back(e);
                in.skip(2);
            } else if (plain != nullptr) {
                decoded += plain;
                in.skip(2);
            } else if (e == 'u') {
                if (rest.size() < 6 || rest.substr(2, 2) != "00" || !is_lower_hex(rest[4]) ||
                    !is_lower_hex(rest[5])) {
                    why = "bad \\u escape";
                    return false;
                }
                unsigned code = 0;
                std::from_chars(rest.data() + 4, rest.data() + 6, code, 16);
                const bool must_escape =
                    (code < 0x20 && code != '\t' && code != '\n' && code != '\r') ||
                    (code >= 0x7F && code <= 0x9F);
                if (!must_escape) {
                    why = "\\u escape of a character written plainly";
                    return false;
                }
                if (code < 0x80) {
                    decoded.push_back(static_cast<char>(code));
                } else {
                    decoded.push_back(static_cast<char>(0xC2));
                    decoded.push_back(static_cast<char>(code));
                }
                in.skip(6);
            } else {
                why = "unknown escape";
                return false;
            }
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            why = "raw control character in string text";
            return false;
        }
        const std::size_t len = utf8_sequence(rest);
        if (len == 0) {
            why = "string text is not well-formed UTF-8";
            return false;
        }
        if (len == 2 && c == 0xC2 && static_cast<unsigned char>(rest[1]) <= 0x9F) {
            why = "raw C1 control in string text";
            return false;
        }
        decoded.append(rest.substr(0, len));
        in.skip(len);
    }
}

std::size_t digit_run(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        ++i;
    }
    return i;
}

bool int_text(Cursor &in, std::string &why) {
    std::string_view s = in.rest();
    std::size_t len = s.starts_with("-") ? 1 : 0;
    const std::size_t digits = digit_run(s.substr(len));
    if (digits == 0 || (digits > 1 && s[len] == '0') || (len == 1 && s[1] == '0')) {
        why = "integer text is not canonical";
        return false;
    }
    len += digits;
    std::int64_t v;
    const auto r = std::from_chars(s.data(), s.data() + len, v);
    if (r.ec != std::errc()) {
        why = "integer text out of range";
        return false;
    }
    in.skip(len);
    return true;
}

// Positional decimal text with the shortest round-trip digits; NaN, inf, -inf, 0, -0 bare.
bool float_text(Cursor &in, std::string &why) {
    for (std::string_view word : {"NaN", "-inf", "inf", "-0}", "0}"}) {
        if (in.rest().starts_with(word)) {
            in.skip(word.back() == '}' ? word.size() - 1 : word.size());
            return true;
        }
    }
    const std::string_view s = in.rest();
    const std::size_t sign = s.starts_with("-") ? 1 : 0;
    const std::size_t int_digits = digit_run(s.substr(sign));
    std::size_t len = sign + int_digits;
    std::size_t frac_digits = 0;
    if (len < s.size() && s[len] == '.') {
        frac_digits = digit_run(s.substr(len + 1));
        if (frac_digits == 0) {
            why = "float text ends in a point";
            return false;
        }
        len += 1 + frac_digits;
    }
    if (int_digits == 0 || (int_digits > 1 && s[sign] == '0') ||
        (frac_digits > 0 && s[len - 1] == '0') ||
        (int_digits == 1 && s[sign] == '0' && frac_digits == 0)) {
        why = "float text is not canonical positional decimal";
        return false;
    }
    const std::string text(s.substr(0, len));
    const double v = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(v) || v == 0.0) {
        why = "float text does not read back as a finite nonzero double";
        return false;
    }
    // The significant digits of the text must be the shortest round-trip digits of the value.
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
        }
    }
    digits.erase(0, digits.find_first_not_of('0'));
    digits.erase(digits.find_last_not_of('0') + 1);
    char sci[40];
    const char *end =
        std::to_chars(sci, sci + sizeof sci, std::fabs(v), std::chars_format::scientific).ptr;
    std::string shortest;
    for (const char *p = sci; p < end && *p != 'e'; ++p) {
        if (*p != '.') {
            shortest.push_back(*p);
        }
    }
    shortest.erase(shortest.find_last_not_of('0') + 1);
    if (digits != shortest) {
        why = "float text digits are not the shortest round-trip digits";
        return false;
    }
    in.skip(len);
    return true;
}

constexpr std::array kSyntaxMessages = {
    "Null instructions",     "Truncated PUSH_INT", "Truncated PUSH_FLOAT", "Truncated PUSH_STR",
    "Truncated PUSH_BOOL",   "Truncated LOAD_VAR", "String too long",      "Invalid UTF-8",
    "Too many instructions", "Empty stack"};

constexpr std::array kTypeMessages = {
    "ADD: incompatible types", "SUB: incompatible types", "MUL: incompatible types",
    "DIV: incompatible types", "MOD: incompatible types", "NEG: incompatible type",
    "LT: incompatible types",  "GT: incompatible types",  "LE: incompatible types",
    "GE: incompatible types",  "AND: requires booleans",  "OR: requires booleans",
    "NOT: requires boolean"};

template <std::size_t N> bool one_of(const std::string &s, const std::array<const char *, N> &set) {
    for (const char *m : set) {
        if (s == m) {
            return true;
        }
    }
    return false;
}

bool is_opcode(unsigned b) {
    return (b >= 0x01 && b <= 0x05) || (b >= 0x10 && b <= 0x15) || (b >= 0x20 && b <= 0x25) ||
           (b >= 0x30 && b <= 0x32) || b == 0xFF;
}

bool message_fits_kind(std::string_view kind, const std::string &m) {
    if (kind == "syntax") {
        return one_of(m, kSyntaxMessages) || m.starts_with("Unknown variable: ");
    }
    if (kind == "type") {
        return one_of(m, kTypeMessages);
    }
    if (kind == "divzero") {
        return m == "Division by zero";
    }
    if (kind == "overflow") {
        return m == "Stack overflow";
    }
    if (kind == "timeout") {
        return m == "Execution timeout";
    }
    if (kind == "stack") {
        return m == "Insufficient stack";
    }
    if (kind == "opcode") {
        const std::string_view prefix = "Unknown opcode: ";
        if (!m.starts_with(prefix)) {
            return false;
        }
        const std::string_view number = std::string_view(m).substr(prefix.size());
        unsigned b = 0;
        const auto r = std::from_chars(number.data(), number.data() + number.size(), b);
        return r.ec == std::errc() && r.ptr == number.data() + number.size() && b <= 255 &&
               (number.size() == 1 || number[0] != '0') && !is_opcode(b);
    }
    return false;
}

} // namespace

bool check_result_shape(std::string_view text, std::string &why) {
    Cursor in(text);
    if (in.literal(R"({"ok":true,"value":{"type":")")) {
        bool ok = false;
        if (in.literal(R"(int","value":)")) {
            ok = int_text(in, why);
        } else if (in.literal(R"(float","value":)")) {
            ok = float_text(in, why);
        } else if (in.literal(R"(str","value":)")) {
            std::string decoded;
            ok = string_text(in, decoded, why);
        } else if (in.literal(R"(bool","value":)")) {
            ok = in.literal("true") || in.literal("false");
            if (!ok) {
                why = "bad bool value";
            }
        } else {
            why = "unknown type word";
        }
        if (!ok) {
            return false;
        }
    } else if (in.literal(R"({"ok":false,"error":{"error":")")) {
        std::string_view kind;
        for (std::string_view k :
             {"syntax", "divzero", "type", "overflow", "timeout", "opcode", "stack"}) {
            if (in.literal(std::string(k) + R"(","message":)")) {
                kind = k;
                break;
            }
        }
        if (kind.empty()) {
            why = "unknown error kind";
            return false;
        }
        std::string message;
        if (!string_text(in, message, why)) {
            return false;
        }
        if (!message_fits_kind(kind, message)) {
            why = "message does not belong to its kind";
            return false;
        }
    } else {
        why = "neither a success nor a failure object";
        return false;
    }
    if (!in.literal("}}") || !in.at_end()) {
        why = "object not closed exactly at the end";
        return false;
    }
    return true;
}

} // namespace safe_eval_fuzz
