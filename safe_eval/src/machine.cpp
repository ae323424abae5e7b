#include "machine.h"

#include "bytecode.h"
#include "monotonic_clock.h"
#include "opcodes.h"

#include <bit>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace safe_eval {

namespace {

constexpr std::size_t kInitialStackRoom = 64;

// Outcome of one operation. Kept to a byte so the hot path carries no message text; the
// EvalError is built only when a run actually fails.
enum class Status : std::uint8_t { Ok, DivZero, InsufficientStack, TypeMismatch };

const char *type_message(Op op) {
    switch (op) {
    case Op::ADD:
        return "ADD: incompatible types";
    case Op::SUB:
        return "SUB: incompatible types";
    case Op::MUL:
        return "MUL: incompatible types";
    case Op::DIV:
        return "DIV: incompatible types";
    case Op::MOD:
        return "MOD: incompatible types";
    case Op::NEG:
        return "NEG: incompatible type";
    case Op::LT:
        return "LT: incompatible types";
    case Op::GT:
        return "GT: incompatible types";
    case Op::LE:
        return "LE: incompatible types";
    case Op::GE:
        return "GE: incompatible types";
    case Op::AND:
        return "AND: requires booleans";
    case Op::OR:
        return "OR: requires booleans";
    default:
        return "NOT: requires boolean";
    }
}

EvalError to_error(Status status, Op op) {
    switch (status) {
    case Status::DivZero:
        return EvalError::div_zero();
    case Status::InsufficientStack:
        return EvalError::insufficient_stack();
    default:
        return EvalError::type(type_message(op));
    }
}

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
Status arithmetic(Op op, Value &a, const Value &b) {
    if (is_int(a) && is_int(b)) {
        const std::int64_t x = as_int(a);
        const std::int64_t y = as_int(b);
        switch (op) {
        case Op::ADD:
            set_int(a, wrap_add(x, y));
            return Status::Ok;
        case Op::SUB:
            set_int(a, wrap_sub(x, y));
            return Status::Ok;
        case Op::MUL:
            set_int(a, wrap_mul(x, y));
            return Status::Ok;
        default:
            if (y == 0) {
                return Status::DivZero;
            }
            set_int(a, wrap_div(x, y));
            return Status::Ok;
        }
    }
    if (is_number(a) && is_number(b)) {
        const double x = as_double(a);
        const double y = as_double(b);
        switch (op) {
        case Op::ADD:
            set_float(a, x + y);
            return Status::Ok;
        case Op::SUB:
            set_float(a, x - y);
            return Status::Ok;
        case Op::MUL:
            set_float(a, x * y);
            return Status::Ok;
        default:
            if (y == 0.0) { // both zeros; a NaN divisor divides normally
                return Status::DivZero;
            }
            set_float(a, x / y);
            return Status::Ok;
        }
    }
    if (op == Op::ADD && is_str(a) && is_str(b)) {
        // Appending in place keeps a chain of concatenations linear in the total length.
        std::get_if<std::string>(&a)->append(*std::get_if<std::string>(&b));
        return Status::Ok;
    }
    return Status::TypeMismatch;
}

Status modulo(Value &a, const Value &b) {
    if (!is_int(a) || !is_int(b)) {
        return Status::TypeMismatch;
    }
    if (as_int(b) == 0) {
        return Status::DivZero;
    }
    set_int(a, wrap_mod(as_int(a), as_int(b)));
    return Status::Ok;
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
Status ordering(Op op, Value &a, const Value &b) {
    if (!is_number(a) || !is_number(b)) {
        return Status::TypeMismatch;
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
    return Status::Ok;
}

Status logic(Op op, Value &a, const Value &b) {
    if (!is_bool(a) || !is_bool(b)) {
        return Status::TypeMismatch;
    }
    set_bool(a, op == Op::AND ? (as_bool(a) && as_bool(b)) : (as_bool(a) || as_bool(b)));
    return Status::Ok;
}

// Carries out a binary operation on the two top values; the result replaces them.
Status binary(Op op, std::vector<Value> &stack) {
    if (stack.size() < 2) {
        return Status::InsufficientStack;
    }
    Value &a = stack[stack.size() - 2];
    Value &b = stack.back();
    Status status;
    switch (op) {
    case Op::ADD:
    case Op::SUB:
    case Op::MUL:
    case Op::DIV:
        status = arithmetic(op, a, b);
        break;
    case Op::MOD:
        status = modulo(a, b);
        break;
    case Op::EQ:
    case Op::NE:
        set_bool(a, values_equal(a, b) == (op == Op::EQ));
        status = Status::Ok;
        break;
    case Op::LT:
    case Op::GT:
    case Op::LE:
    case Op::GE:
        status = ordering(op, a, b);
        break;
    default:
        status = logic(op, a, b);
        break;
    }
    if (status == Status::Ok) {
        stack.pop_back();
    }
    return status;
}

Status negate(std::vector<Value> &stack) {
    if (stack.empty()) {
        return Status::InsufficientStack;
    }
    Value &a = stack.back();
    if (is_int(a)) {
        set_int(a, wrap_neg(as_int(a)));
    } else if (is_float(a)) {
        // Flip the sign bit only, so 0.0 becomes -0.0 and a NaN keeps its payload.
        double &f = *std::get_if<double>(&a);
        f = std::bit_cast<double>(std::bit_cast<std::uint64_t>(f) ^ (std::uint64_t{1} << 63));
    } else {
        return Status::TypeMismatch;
    }
    return Status::Ok;
}

Status logical_not(std::vector<Value> &stack) {
    if (stack.empty()) {
        return Status::InsufficientStack;
    }
    bool *b = std::get_if<bool>(&stack.back());
    if (b == nullptr) {
        return Status::TypeMismatch;
    }
    *b = !*b;
    return Status::Ok;
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
        Status status = Status::Ok;
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
            TextOperand literal;
            const TextCheck check = read_text_operand(program, pos, kMaxStringLiteral, literal);
            if (check != TextCheck::Ok) {
                return text_operand_error(check, "Truncated PUSH_STR");
            }
            stack.emplace_back(std::in_place_type<std::string>, literal.text);
            pos = literal.next;
            break;
        }
        case Op::LOAD_VAR: {
            TextOperand name;
            const TextCheck check = read_text_operand(program, pos, std::nullopt, name);
            if (check != TextCheck::Ok) {
                return text_operand_error(check, "Truncated LOAD_VAR");
            }
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
            status = binary(op, stack);
            pos += 1;
            break;
        case Op::NEG:
            status = negate(stack);
            pos += 1;
            break;
        case Op::NOT:
            status = logical_not(stack);
            pos += 1;
            break;
        default:
            return EvalError::unknown_opcode(byte);
        }
        if (status != Status::Ok) {
            return to_error(status, op);
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
