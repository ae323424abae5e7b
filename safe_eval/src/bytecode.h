// Reading instruction operands out of a program, with the bounds and text checks made before an
// operand is used. Multi-byte operands are little-endian.
#pragma once

#include "utf8.h"
#include "value.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace safe_eval {

// Longest text a PUSH_STR may carry.
inline constexpr std::uint32_t kMaxStringLiteral = 10000;

inline std::uint32_t read_u32_le(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint64_t read_u64_le(const std::uint8_t *p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = v << 8 | p[i];
    }
    return v;
}

inline std::int64_t read_i64_le(const std::uint8_t *p) {
    return static_cast<std::int64_t>(read_u64_le(p));
}

inline double read_f64_le(const std::uint8_t *p) {
    return std::bit_cast<double>(read_u64_le(p));
}

// Where a text operand (PUSH_STR's literal, LOAD_VAR's name) lies in the program.
struct TextOperand {
    std::string_view text;
    std::size_t next = 0; // offset just past the instruction
};

enum class TextCheck : std::uint8_t { Ok, Truncated, TooLong, InvalidUtf8 };

// Reads the text operand of the instruction whose opcode byte is at `pos` (pos < program size).
// Checks in order: the 4-byte length lies inside the program, then the text does, then the
// length limit when `max_length` is given, then UTF-8 well-formedness.
inline TextCheck read_text_operand(std::span<const std::uint8_t> program, std::size_t pos,
                                   std::optional<std::uint32_t> max_length, TextOperand &out) {
    // pos < size, so the differences below never wrap and no sum can overflow.
    const std::size_t available = program.size() - pos;
    if (available < 5) {
        return TextCheck::Truncated;
    }
    const std::uint32_t length = read_u32_le(program.data() + pos + 1);
    if (available - 5 < length) {
        return TextCheck::Truncated;
    }
    if (max_length && length > *max_length) {
        return TextCheck::TooLong;
    }
    out.text = std::string_view(reinterpret_cast<const char *>(program.data() + pos + 5), length);
    if (!is_well_formed_utf8(out.text)) {
        return TextCheck::InvalidUtf8;
    }
    out.next = pos + 5 + length;
    return TextCheck::Ok;
}

// The Syntax error of a failed text operand check.
EvalError text_operand_error(TextCheck check, const char *truncated_message);

} // namespace safe_eval
