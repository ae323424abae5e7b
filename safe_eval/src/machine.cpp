#include "machine.h"

#include "bytecode.h"
#include "monotonic_clock.h"
#include "opcodes.h"

#include <bit>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace safe_eval {

namespace {

constexpr std::size_t kInitialStackRoom = 64;

using MaybeError = std::optional<EvalError>;

bool is_int(const Value &v) {
    return v.index() == static_cast<std::size_t>(ValueKind::Int);
}
bool is_float(const Value &v) {
    return v.index() == static_cast<std::size_t>(ValueKind::Float);
}
bool is_str(const Value &v) {
    return v.index() == static_cast<std::size_t>(ValueKind::Str);
}
bool is_bool(const Value &v) {
    return v.index() == static_cast<std::size_t>(ValueKind::Bool);
}
bool is_number(const Value &v) {
    return is_int(v) || is_float(v);
}

std::int64_t as_int(const Value &v) {
    return *std::get_if<std::int64_t>(&v);
}
bool as_bool(const Value &v) {
    return *std::get_if<bool>(&v);
}

// A numeric operand as binary64; an Int is rounded to the nearest double, ties to even.
double as_double(const Value &v) {
    return is_int(v) ? static_cast<double>(as_int(v)) : *std::get_if<double>(&v);
}

void set_int(Value &v, std::int64_t x) {
    v.emplace<std::int64_t>(x);
}
void set_float(Value &v, double x) {
    v.emplace<double>(x);
}
void set_bool(Value &v, bool x) {
    v.emplace<bool>(x);
}

// Two's-complement arithmetic modulo 2^64, done in unsigned types so it never overflows.
std::int64_t wrap_add(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
std::int64_t wrap_sub(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
std::int64_t wrap_mul(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}
std::int64_t wrap_neg(std::int64_t a) {
    return wrap_sub(0, a);
}

// The smallest Int divided by -1 wraps like every other Int operation: the quotient is the
// smallest Int itself and the remainder 0, instead of trapping.
std::int64_t wrap_div(std::int64_t a, std::int64_t b) {
    return b == -1 ? wrap_neg(a) : a / b;
}
std::int64_t wrap_mod(std::int64_t a, std::int64_t b) {
    return b == -1 ? 0 : a % b;
}

// ADD, SUB, MUL and DIV: Int with Int stays Int; a Float on either side makes it Float.
MaybeError arithmetic(Op op, Value &a, const Value &b) {
    if (is_int(a) && is_int(b)) {
        const std::int64_t x = as_int(a);
        const std::int64_t y = as_int(b);
        switch (op) {
        case Op::ADD:
            set_int(a, wrap_add(x, y));
            return std::nullopt;
        case Op::SUB:
            set_int(a, wrap_sub(x, y));
            return std::nullopt;
        case Op::MUL:
            set_int(a, wrap_mul(x, y));
            return std::nullopt;
        default:
            if (y == 0) {
                return EvalError::div_zero();
            }
            set_int(a, wrap_div(x, y));
            return std::nullopt;
        }
    }
    if (is_number(a) && is_number(b)) {
        const double x = as_double(a);
        const double y = as_double(b);
        switch (op) {
        case Op::ADD:
            set_float(a, x + y);
            return std::nullopt;
        case Op::SUB:
            set_float(a, x - y);
            return std::nullopt;
        case Op::MUL:
            set_float(a, x * y);
            return std::nullopt;
        default:
            if (y == 0.0) { // both zeros; a NaN divisor divides normally
                return EvalError::div_zero();
            }
            set_float(a, x / y);
            return std::nullopt;
        }
    }
    if (op == Op::ADD && is_str(a) && is_str(b)) {
        // Appending in place keeps a chain of concatenations linear in the total length.
        std::get_if<std::string>(&a)->append(*std::get_if<std::string>(&b));
        return std::nullopt;
    }
    switch (op) {
    case Op::ADD:
        return EvalError::type("ADD: incompatible types");
    case Op::SUB:
        return EvalError::type("SUB: incompatible types");
    case Op::MUL:
        return EvalError::type("MUL: incompatible types");
    default:
        return EvalError::type("DIV: incompatible types");
    }
}

MaybeError modulo(Value &a, const Value &b) {
    if (!is_int(a) || !is_int(b)) {
        return EvalError::type("MOD: incompatible types");
    }
    if (as_int(b) == 0) {
        return EvalError::div_zero();
    }
    set_int(a, wrap_mod(as_int(a), as_int(b)));
    return std::nullopt;
}

bool values_equal(const Value &a, const Value &b) {
    if (a.index() != b.index()) {
        return false; // no numeric conversion: Int 1 differs from Float 1.0
    }
    switch (kind_of(a)) {
    case ValueKind::Int:
        return as_int(a) == as_int(b);
    case ValueKind::Float:
        return *std::get_if<double>(&a) == *std::get_if<double>(&b);
    case ValueKind::Str:
        return *std::get_if<std::string>(&a) == *std::get_if<std::string>(&b);
    case ValueKind::Bool:
        return as_bool(a) == as_bool(b);
    }
    return false;
}

// LT, GT, LE and GE over numbers. Two Ints compare as integers; otherwise as binary64, where any
// comparison with a NaN is false.
MaybeError ordering(Op op, Value &a, const Value &b) {
    if (!is_number(a) || !is_number(b)) {
        switch (op) {
        case Op::LT:
            return EvalError::type("LT: incompatible types");
        case Op::GT:
            return EvalError::type("GT: incompatible types");
        case Op::LE:
            return EvalError::type("LE: incompatible types");
        default:
            return EvalError::type("GE: incompatible types");
        }
    }
    bool result;
    if (is_int(a) && is_int(b)) {
        const std::int64_t x = as_int(a);
        const std::int64_t y = as_int(b);
        result = op == Op::LT ? x < y : op == Op::GT ? x > y : op == Op::LE ? x <= y : x >= y;
    } else {
        const double x = as_double(a);
        const double y = as_double(b);
        result = op == Op::LT ? x < y : op == Op::GT ? x > y : op == Op::LE ? x <= y : x >= y;
    }
    set_bool(a, result);
    return std::nullopt;
}

MaybeError logic(Op op, Value &a, const Value &b) {
    if (!is_bool(a) || !is_bool(b)) {
        return EvalError::type(op == Op::AND ? "AND: requires booleans" : "OR: requires booleans");
    }
    set_bool(a, op == Op::AND ? (as_bool(a) && as_bool(b)) : (as_bool(a) || as_bool(b)));
    return std::nullopt;
}

// Carries out a binary operation on the two top values; the result replaces them.
MaybeError binary(Op op, std::vector<Value> &stack) {
    if (stack.size() < 2) {
        return EvalError::insufficient_stack();
    }
    Value &a = stack[stack.size() - 2];
    Value &b = stack.back();
    MaybeError error;
    switch (op) {
    case Op::ADD:
    case Op::SUB:
    case Op::MUL:
    case Op::DIV:
        error = arithmetic(op, a, b);
        break;
    case Op::MOD:
        error = modulo(a, b);
        break;
    case Op::EQ:
    case Op::NE:
        set_bool(a, values_equal(a, b) == (op == Op::EQ));
        break;
    case Op::LT:
    case Op::GT:
    case Op::LE:
    case Op::GE:
        error = ordering(op, a, b);
        break;
    default:
        error = logic(op, a, b);
        break;
    }
    if (!error) {
        stack.pop_back();
    }
    return error;
}

MaybeError negate(std::vector<Value> &stack) {
    if (stack.empty()) {
        return EvalError::insufficient_stack();
    }
    Value &a = stack.back();
    if (is_int(a)) {
        set_int(a, wrap_neg(as_int(a)));
    } else if (is_float(a)) {
        // Flip the sign bit only, so 0.0 becomes -0.0 and a NaN keeps its payload.
        double &f = *std::get_if<double>(&a);
        f = std::bit_cast<double>(std::bit_cast<std::uint64_t>(f) ^ (std::uint64_t{1} << 63));
    } else {
        return EvalError::type("NEG: incompatible type");
    }
    return std::nullopt;
}

MaybeError logical_not(std::vector<Value> &stack) {
    if (stack.empty()) {
        return EvalError::insufficient_stack();
    }
    bool *b = std::get_if<bool>(&stack.back());
    if (b == nullptr) {
        return EvalError::type("NOT: requires boolean");
    }
    *b = !*b;
    return std::nullopt;
}

} // namespace

EvalResult eval_inner(std::span<const std::uint8_t> program, std::uint32_t timeout_ms) {
    const MonoInstant deadline = add_milliseconds(monotonic_now(), timeout_ms);
    // Nothing in the instruction set binds a name, so the map stays empty; LOAD_VAR still looks
    // names up in it so that every load goes through one path.
    const std::map<std::string, Value, std::less<>> variables;
    std::vector<Value> stack;
    stack.reserve(kInitialStackRoom);

    const std::uint8_t *code = program.data();
    const std::size_t n = program.size();
    std::size_t pos = 0;
    std::size_t executed = 0;
    while (pos < n) {
        if (!(monotonic_now() < deadline)) {
            return EvalError::timeout();
        }
        if (executed == kMaxInstructions) {
            return EvalError::syntax("Too many instructions");
        }
        const std::uint8_t byte = code[pos];
        const std::size_t available = n - pos;
        const Op op = static_cast<Op>(byte);
        MaybeError error;
        switch (op) {
        case Op::HALT:
            pos = n;
            continue;
        case Op::PUSH_INT:
            if (available < 9) {
                return EvalError::syntax("Truncated PUSH_INT");
            }
            stack.emplace_back(std::in_place_type<std::int64_t>, read_i64_le(code + pos + 1));
            pos += 9;
            break;
        case Op::PUSH_FLOAT:
            if (available < 9) {
                return EvalError::syntax("Truncated PUSH_FLOAT");
            }
            stack.emplace_back(std::in_place_type<double>, read_f64_le(code + pos + 1));
            pos += 9;
            break;
        case Op::PUSH_BOOL:
            if (available < 2) {
                return EvalError::syntax("Truncated PUSH_BOOL");
            }
            stack.emplace_back(std::in_place_type<bool>, code[pos + 1] != 0);
            pos += 2;
            break;
        case Op::PUSH_STR: {
            auto operand = read_text_operand(program, pos, "Truncated PUSH_STR", kMaxStringLiteral);
            if (auto *e = std::get_if<EvalError>(&operand)) {
                return std::move(*e);
            }
            const TextOperand &literal = *std::get_if<TextOperand>(&operand);
            stack.emplace_back(std::in_place_type<std::string>, literal.text);
            pos = literal.next;
            break;
        }
        case Op::LOAD_VAR: {
            auto operand = read_text_operand(program, pos, "Truncated LOAD_VAR", std::nullopt);
            if (auto *e = std::get_if<EvalError>(&operand)) {
                return std::move(*e);
            }
            const TextOperand &name = *std::get_if<TextOperand>(&operand);
            const auto found = variables.find(name.text);
            if (found == variables.end()) {
                std::string message = "Unknown variable: ";
                message.append(name.text);
                return EvalError::syntax(std::move(message));
            }
            stack.push_back(found->second);
            pos = name.next;
            break;
        }
        case Op::ADD:
        case Op::SUB:
        case Op::MUL:
        case Op::DIV:
        case Op::MOD:
        case Op::EQ:
        case Op::NE:
        case Op::LT:
        case Op::GT:
        case Op::LE:
        case Op::GE:
        case Op::AND:
        case Op::OR:
            error = binary(op, stack);
            pos += 1;
            break;
        case Op::NEG:
            error = negate(stack);
            pos += 1;
            break;
        case Op::NOT:
            error = logical_not(stack);
            pos += 1;
            break;
        default:
            return EvalError::unknown_opcode(byte);
        }
        if (error) {
            return std::move(*error);
        }
        if (stack.size() > kMaxStackDepth) {
            return EvalError::stack_overflow();
        }
        ++executed;
    }
    if (stack.empty()) {
        return EvalError::syntax("Empty stack");
    }
    return std::move(stack.back());
}

} // namespace safe_eval
