// The values a program computes with and the errors that end a run without a value.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace safe_eval {

// Alternatives in this order: Int, Float, Str (well-formed UTF-8, owned), Bool.
using Value = std::variant<std::int64_t, double, std::string, bool>;

enum class ValueKind : std::size_t { Int = 0, Float = 1, Str = 2, Bool = 3 };

inline ValueKind kind_of(const Value &v) {
    return static_cast<ValueKind>(v.index());
}

enum class EvalErrorKind : std::uint8_t {
    Syntax,
    DivZero,
    Type,
    StackOverflow,
    Timeout,
    UnknownOpcode,
    InsufficientStack,
};

// Why a run produced no value. Syntax and Type carry a message made where the error arose,
// UnknownOpcode carries the offending byte; the other kinds carry nothing.
class EvalError {
public:
    static EvalError syntax(std::string message) {
        return EvalError(EvalErrorKind::Syntax, std::move(message), 0);
    }
    static EvalError type(std::string message) {
        return EvalError(EvalErrorKind::Type, std::move(message), 0);
    }
    static EvalError div_zero() { return EvalError(EvalErrorKind::DivZero, {}, 0); }
    static EvalError stack_overflow() { return EvalError(EvalErrorKind::StackOverflow, {}, 0); }
    static EvalError timeout() { return EvalError(EvalErrorKind::Timeout, {}, 0); }
    static EvalError unknown_opcode(std::uint8_t byte) {
        return EvalError(EvalErrorKind::UnknownOpcode, {}, byte);
    }
    static EvalError insufficient_stack() {
        return EvalError(EvalErrorKind::InsufficientStack, {}, 0);
    }

    EvalErrorKind kind() const { return kind_; }
    // The carried message of Syntax and Type; empty for the other kinds.
    const std::string &message() const { return message_; }
    // The carried byte of UnknownOpcode; 0 for the other kinds.
    std::uint8_t opcode() const { return opcode_; }

private:
    EvalError(EvalErrorKind kind, std::string message, std::uint8_t opcode)
        : kind_(kind), message_(std::move(message)), opcode_(opcode) {}

    EvalErrorKind kind_;
    std::string message_;
    std::uint8_t opcode_;
};

// The outcome of one run: exactly one of a value and an error.
using EvalResult = std::variant<Value, EvalError>;

} // namespace safe_eval
