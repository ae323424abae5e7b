#include "bytecode.h"

namespace safe_eval {

EvalError text_operand_error(TextCheck check, const char *truncated_message) {
    switch (check) {
    case TextCheck::TooLong:
        return EvalError::syntax("String too long");
    case TextCheck::InvalidUtf8:
        return EvalError::syntax("Invalid UTF-8");
    default:
        return EvalError::syntax(truncated_message);
    }
}

} // namespace safe_eval
