#include "bytecode.h"

#include "utf8.h"

#include <bit>

namespace safe_eval {

double read_f64_le(const std::uint8_t *p) {
    return std::bit_cast<double>(read_u64_le(p));
}

std::variant<TextOperand, EvalError> read_text_operand(std::span<const std::uint8_t> program,
                                                       std::size_t pos,
                                                       const char *truncated_message,
                                                       std::optional<std::uint32_t> max_length) {
    // pos < size, so the differences below never wrap and no sum can overflow.
    const std::size_t available = program.size() - pos;
    if (available < 5) {
        return EvalError::syntax(truncated_message);
    }
    const std::uint32_t length = read_u32_le(program.data() + pos + 1);
    if (available - 5 < length) {
        return EvalError::syntax(truncated_message);
    }
    if (max_length && length > *max_length) {
        return EvalError::syntax("String too long");
    }
    const std::string_view text(reinterpret_cast<const char *>(program.data() + pos + 5), length);
    if (!is_well_formed_utf8(text)) {
        return EvalError::syntax("Invalid UTF-8");
    }
    return TextOperand{text, pos + 5 + length};
}

} // namespace safe_eval
