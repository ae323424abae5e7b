// Reading instruction operands out of a program, with the bounds and text checks made before an
// operand is used. Multi-byte operands are little-endian.
#pragma once

#include "value.h"

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

double read_f64_le(const std::uint8_t *p);

// Where a text operand (PUSH_STR's literal, LOAD_VAR's name) lies in the program.
struct TextOperand {
    std::string_view text;
    std::size_t next = 0; // offset just past the instruction
};

// Reads the text operand of the instruction whose opcode byte is at `pos` (pos < program size).
// Checks in order: the 4-byte length lies inside the program, then the text does (both reported
// with `truncated_message`), then the length limit when `max_length` is given ("String too
// long"), then UTF-8 well-formedness ("Invalid UTF-8").
std::variant<TextOperand, EvalError> read_text_operand(std::span<const std::uint8_t> program,
                                                       std::size_t pos,
                                                       const char *truncated_message,
                                                       std::optional<std::uint32_t> max_length);

} // namespace safe_eval
