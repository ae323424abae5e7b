// The evaluator through its exported functions, loaded the way a host loads it.
#include "host_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace safe_eval_test;

namespace {

class EvalTest : public ::testing::Test {
protected:
    std::string run(std::string_view assembly, std::uint32_t timeout_ms = 10000) const {
        return lib_.run(assemble(assembly), timeout_ms);
    }
    std::string run_hex(std::string_view bytes, std::uint32_t timeout_ms = 10000) const {
        return lib_.run(hex(bytes), timeout_ms);
    }
    std::string run_bytes(const std::vector<std::uint8_t> &program,
                          std::uint32_t timeout_ms = 10000) const {
        return lib_.run(program, timeout_ms);
    }

    HostLibrary lib_;
};

std::string syntax(std::string_view message) {
    return failure("syntax", message);
}
std::string type_error(std::string_view message) {
    return failure("type", message);
}
const std::string kDivZero = failure("divzero", "Division by zero");
const std::string kInsufficient = failure("stack", "Insufficient stack");
const std::string kOverflow = failure("overflow", "Stack overflow");
const std::string kTimeout = failure("timeout", "Execution timeout");
const std::string kTrue = ok_value("bool", "true");
const std::string kFalse = ok_value("bool", "false");

// A PUSH_STR or LOAD_VAR with the given bytes, length field taken from them.
std::vector<std::uint8_t> text_op(std::uint8_t op, std::string_view bytes) {
    std::vector<std::uint8_t> out{op};
    const auto n = static_cast<std::uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::vector<std::uint8_t> repeat(const std::vector<std::uint8_t> &unit, std::size_t times) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < times; ++i) {
        out.insert(out.end(), unit.begin(), unit.end());
    }
    return out;
}

std::vector<std::uint8_t> concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(EvalTest, DecodingAndOperandChecks) {
    EXPECT_EQ(run_hex("04 00"), kFalse);
    EXPECT_EQ(run_hex("04 01"), kTrue);
    EXPECT_EQ(run_hex("04 02"), kTrue);
    EXPECT_EQ(run_hex("04"), syntax("Truncated PUSH_BOOL"));
    EXPECT_EQ(run_hex("01"), syntax("Truncated PUSH_INT"));
    EXPECT_EQ(run_hex("01 00 00 00 00 00 00 00"), syntax("Truncated PUSH_INT"));
    EXPECT_EQ(run_hex("02 00 00 00 00 00 00 f0"), syntax("Truncated PUSH_FLOAT"));

    // Text literals: empty, at the limit, over it; truncation is checked before the limit.
    EXPECT_EQ(run_bytes(text_op(0x03, "")), ok_value("str", R"("")"));
    const std::string max_literal(10000, 'z');
    EXPECT_EQ(run_bytes(text_op(0x03, max_literal)), ok_value("str", '"' + max_literal + '"'));
    EXPECT_EQ(run_bytes(text_op(0x03, max_literal + "z")), syntax("String too long"));
    EXPECT_EQ(run_hex("03 11 27 00 00 41 41"), syntax("Truncated PUSH_STR"));
    EXPECT_EQ(run_hex("03 ff ff ff ff 41"), syntax("Truncated PUSH_STR"));
    EXPECT_EQ(run_hex("03 01 00"), syntax("Truncated PUSH_STR"));

    // UTF-8: malformed, overlong, surrogate, beyond U+10FFFF, truncated; NUL is allowed.
    for (const char *bad : {"c3 28", "ed a0 80", "c0 80", "e0 80 80", "f4 90 80 80", "e2 82", "80",
                            "f8 88 80 80 80", "ff"}) {
        const auto bytes = hex(bad);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(run_bytes(text_op(0x03, text)), syntax("Invalid UTF-8")) << bad;
        EXPECT_EQ(run_bytes(text_op(0x05, text)), syntax("Invalid UTF-8")) << bad;
    }
    EXPECT_EQ(run_bytes(text_op(0x03, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xED\x9F\xBF")),
              ok_value("str", "\"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xED\x9F\xBF\""));
    EXPECT_EQ(run_bytes(text_op(0x03, std::string("a\0b", 3))), ok_value("str", R"("a\u0000b")"));

    // Variables: the map is always empty; the name is checked before it is looked up.
    EXPECT_EQ(run("LOAD_VAR x"), syntax("Unknown variable: x"));
    EXPECT_EQ(run(R"(LOAD_VAR "")"), syntax("Unknown variable: "));
    EXPECT_EQ(run_hex("05 02 00 00 00 78"), syntax("Truncated LOAD_VAR"));
    EXPECT_EQ(run_hex("05 00 00"), syntax("Truncated LOAD_VAR"));
    const std::string long_name(20000, 'n');
    EXPECT_EQ(run_bytes(text_op(0x05, long_name)), syntax("Unknown variable: " + long_name));

    // Unknown opcodes, and operands read only when reached.
    for (int byte : {0x00, 0x06, 0x0F, 0x16, 0x1F, 0x26, 0x2F, 0x33, 0xFE}) {
        EXPECT_EQ(run_bytes({static_cast<std::uint8_t>(byte)}),
                  failure("opcode", "Unknown opcode: " + std::to_string(byte)));
    }
    EXPECT_EQ(run_hex("ff 01"), syntax("Empty stack"));
    EXPECT_EQ(run_hex("10 01"), kInsufficient);
    EXPECT_EQ(run_hex("04 01 ff 07 03 ff ff ff ff"), kTrue);
    EXPECT_EQ(run("PUSH_FLOAT 0x7ff8000000000000"), ok_value("float", "NaN"));
    EXPECT_EQ(run("PUSH_FLOAT 0x7ff0000000000000"), ok_value("float", "inf"));
}

TEST_F(EvalTest, ArithmeticAndWrapping) {
    EXPECT_EQ(run("PUSH_INT 9223372036854775807; PUSH_INT 1; ADD"),
              ok_value("int", "-9223372036854775808"));
    EXPECT_EQ(run("PUSH_INT -9223372036854775808; PUSH_INT 1; SUB"),
              ok_value("int", "9223372036854775807"));
    EXPECT_EQ(run("PUSH_INT 9223372036854775807; PUSH_INT 9223372036854775807; MUL"),
              ok_value("int", "1"));
    EXPECT_EQ(run("PUSH_INT 4611686018427387904; PUSH_INT 4; MUL"), ok_value("int", "0"));
    EXPECT_EQ(run("PUSH_INT -9223372036854775808; NEG"), ok_value("int", "-9223372036854775808"));

    // Truncating division; the remainder takes the dividend's sign.
    EXPECT_EQ(run("PUSH_INT 7; PUSH_INT 2; DIV"), ok_value("int", "3"));
    EXPECT_EQ(run("PUSH_INT -7; PUSH_INT 2; DIV"), ok_value("int", "-3"));
    EXPECT_EQ(run("PUSH_INT 7; PUSH_INT -2; MOD"), ok_value("int", "1"));
    EXPECT_EQ(run("PUSH_INT -7; PUSH_INT 2; MOD"), ok_value("int", "-1"));
    EXPECT_EQ(run("PUSH_INT 1; PUSH_FLOAT 2.0; DIV"), ok_value("float", "0.5"));

    // The smallest Int by -1 wraps instead of trapping.
    EXPECT_EQ(run("PUSH_INT -9223372036854775808; PUSH_INT -1; DIV"),
              ok_value("int", "-9223372036854775808"));
    EXPECT_EQ(run("PUSH_INT -9223372036854775808; PUSH_INT -1; MOD"), ok_value("int", "0"));
    EXPECT_EQ(run("PUSH_INT 5; PUSH_INT -1; MOD"), ok_value("int", "0"));

    // Zero divisors, after the variant check; a NaN divisor divides.
    EXPECT_EQ(run("PUSH_INT 1; PUSH_INT 0; DIV"), kDivZero);
    EXPECT_EQ(run("PUSH_INT 1; PUSH_INT 0; MOD"), kDivZero);
    EXPECT_EQ(run("PUSH_FLOAT 1.0; PUSH_INT 0; DIV"), kDivZero);
    EXPECT_EQ(run("PUSH_FLOAT 1.0; PUSH_FLOAT -0.0; DIV"), kDivZero);
    EXPECT_EQ(run("PUSH_FLOAT 1.0; PUSH_INT 0; MOD"), type_error("MOD: incompatible types"));
    EXPECT_EQ(run(R"(PUSH_STR "a"; PUSH_INT 0; DIV)"), type_error("DIV: incompatible types"));
    EXPECT_EQ(run("PUSH_FLOAT 1.0; PUSH_FLOAT nan; DIV"), ok_value("float", "NaN"));
    EXPECT_EQ(run("PUSH_FLOAT 1e308; PUSH_INT 10; MUL"), ok_value("float", "inf"));
    EXPECT_EQ(run("PUSH_FLOAT -1e308; PUSH_FLOAT 1e-308; DIV"), ok_value("float", "-inf"));

    // Int meets Float: the Int is rounded to the nearest double, ties to even.
    EXPECT_EQ(run("PUSH_INT 9007199254740993; PUSH_FLOAT 0.0; ADD"),
              ok_value("float", "9007199254740992"));
    EXPECT_EQ(run("PUSH_FLOAT 0.5; PUSH_INT 3; SUB"), ok_value("float", "-2.5"));
    EXPECT_EQ(run("PUSH_FLOAT 0.0; NEG"), ok_value("float", "-0"));
    EXPECT_EQ(run("PUSH_FLOAT -inf; NEG"), ok_value("float", "inf"));

    // Concatenation, and the type errors of every arithmetic operation.
    EXPECT_EQ(run(R"(PUSH_STR "a"; PUSH_STR "b"; ADD; PUSH_STR ""; ADD)"),
              ok_value("str", R"("ab")"));
    EXPECT_EQ(run(R"(PUSH_STR "a"; PUSH_INT 1; ADD)"), type_error("ADD: incompatible types"));
    EXPECT_EQ(run("PUSH_BOOL true; PUSH_BOOL true; ADD"), type_error("ADD: incompatible types"));
    EXPECT_EQ(run(R"(PUSH_STR "a"; PUSH_STR "b"; SUB)"), type_error("SUB: incompatible types"));
    EXPECT_EQ(run(R"(PUSH_STR "a"; PUSH_INT 2; MUL)"), type_error("MUL: incompatible types"));
    EXPECT_EQ(run("PUSH_BOOL true; PUSH_FLOAT 2; DIV"), type_error("DIV: incompatible types"));
    EXPECT_EQ(run(R"(PUSH_STR "a"; NEG)"), type_error("NEG: incompatible type"));
    EXPECT_EQ(run("PUSH_BOOL false; NEG"), type_error("NEG: incompatible type"));

    // Too few values is reported before any variant check.
    EXPECT_EQ(run("PUSH_BOOL true; ADD"), kInsufficient);
    EXPECT_EQ(run("NEG"), kInsufficient);
    EXPECT_EQ(run("NOT"), kInsufficient);
    EXPECT_EQ(run("PUSH_INT 1; MOD"), kInsufficient);
}

TEST_F(EvalTest, ComparisonsAndNaN) {
    EXPECT_EQ(run("PUSH_INT 1; PUSH_FLOAT 1.0; EQ"), kFalse);
    EXPECT_EQ(run("PUSH_INT 1; PUSH_FLOAT 1.0; NE"), kTrue);
    EXPECT_EQ(run("PUSH_INT 1; PUSH_FLOAT 1.0; LE"), kTrue);
    EXPECT_EQ(run("PUSH_INT 1; PUSH_BOOL true; EQ"), kFalse);
    EXPECT_EQ(run("PUSH_FLOAT 0.0; PUSH_FLOAT -0.0; EQ"), kTrue);
    EXPECT_EQ(run(R"(PUSH_STR "a\0"; PUSH_STR "a\0"; EQ)"), kTrue);
    EXPECT_EQ(run(R"(PUSH_STR "a"; PUSH_STR "a\0"; EQ)"), kFalse);
    EXPECT_EQ(run("PUSH_BOOL 7; PUSH_BOOL true; EQ"), kTrue);

    const char *nan_pair = "PUSH_FLOAT nan; PUSH_FLOAT nan; ";
    EXPECT_EQ(run(std::string(nan_pair) + "NE"), kTrue);
    for (const char *op : {"EQ", "LT", "GT", "LE", "GE"}) {
        EXPECT_EQ(run(std::string(nan_pair) + op), kFalse) << op;
        EXPECT_EQ(run(std::string("PUSH_INT 1; PUSH_FLOAT nan; ") + op), kFalse) << op;
    }

    // Two Ints compare exactly; with a Float the Int is converted first.
    EXPECT_EQ(run("PUSH_INT 9007199254740993; PUSH_INT 9007199254740992; GT"), kTrue);
    EXPECT_EQ(run("PUSH_INT 9007199254740993; PUSH_FLOAT 9007199254740992; GT"), kFalse);
    EXPECT_EQ(run("PUSH_INT -1; PUSH_INT 1; LT"), kTrue);
    EXPECT_EQ(run("PUSH_INT 2; PUSH_INT 2; GE"), kTrue);
    EXPECT_EQ(run("PUSH_FLOAT -inf; PUSH_INT -9223372036854775808; LT"), kTrue);

    EXPECT_EQ(run(R"(PUSH_STR "a"; PUSH_STR "b"; LT)"), type_error("LT: incompatible types"));
    EXPECT_EQ(run("PUSH_BOOL true; PUSH_INT 1; GT"), type_error("GT: incompatible types"));
    EXPECT_EQ(run(R"(PUSH_INT 1; PUSH_STR "1"; LE)"), type_error("LE: incompatible types"));
    EXPECT_EQ(run("PUSH_BOOL true; PUSH_BOOL true; GE"), type_error("GE: incompatible types"));

    EXPECT_EQ(run("PUSH_BOOL true; PUSH_BOOL false; AND"), kFalse);
    EXPECT_EQ(run("PUSH_BOOL true; PUSH_BOOL false; OR"), kTrue);
    EXPECT_EQ(run("PUSH_BOOL false; NOT"), kTrue);
    EXPECT_EQ(run("PUSH_INT 1; PUSH_BOOL true; AND"), type_error("AND: requires booleans"));
    EXPECT_EQ(run("PUSH_BOOL true; PUSH_INT 0; OR"), type_error("OR: requires booleans"));
    EXPECT_EQ(run("PUSH_INT 0; NOT"), type_error("NOT: requires boolean"));
}

TEST_F(EvalTest, Limits) {
    const std::string null_program = syntax("Null instructions");
    const std::uint8_t byte = 0x04;
    EXPECT_EQ(lib_.call(nullptr, 5, 0), null_program);
    EXPECT_EQ(lib_.call(nullptr, 0, 1000), null_program);
    EXPECT_EQ(lib_.call(&byte, 0, 0), null_program);

    // A zero budget ends every run before its first instruction, even an invalid one.
    EXPECT_EQ(run_hex("04 01", 0), kTimeout);
    EXPECT_EQ(run_hex("07", 0), kTimeout);
    EXPECT_EQ(run_hex("04 01", 4294967295u), kTrue);

    // The last value is the result; an empty final stack is an error.
    EXPECT_EQ(run("PUSH_INT 1; PUSH_INT 2"), ok_value("int", "2"));
    EXPECT_EQ(run("HALT"), syntax("Empty stack"));
    EXPECT_EQ(run("PUSH_INT 1; PUSH_INT 2; EQ; NOT; PUSH_BOOL true; AND; HALT; BYTES 99 03"),
              kTrue);

    // Stack depth: 1000 values fit, the 1001st fails right after its push.
    const auto push = assemble("PUSH_INT 1");
    EXPECT_EQ(run_bytes(repeat(push, 1000)), ok_value("int", "1"));
    EXPECT_EQ(run_bytes(concat(repeat(push, 1001), assemble("ADD"))), kOverflow);
    EXPECT_EQ(run_bytes(concat(repeat(push, 1001), hex("07"))), kOverflow);

    // Instruction count: 100000 run, the next one is refused before its opcode is read.
    const auto start = assemble("PUSH_BOOL true");
    const auto not_op = assemble("NOT");
    EXPECT_EQ(run_bytes(concat(start, repeat(not_op, 99999))), kFalse);
    const std::string too_many = syntax("Too many instructions");
    EXPECT_EQ(run_bytes(concat(start, repeat(not_op, 100000))), too_many);
    EXPECT_EQ(run_bytes(concat(concat(start, repeat(not_op, 99999)), hex("07"))), too_many);
    EXPECT_EQ(run_bytes(concat(concat(start, repeat(not_op, 99999)), hex("ff"))), too_many);
    EXPECT_EQ(run_bytes(concat(start, repeat(not_op, 100000)), 0), kTimeout);
}

TEST_F(EvalTest, JsonText) {
    EXPECT_EQ(run_hex("01 fb ff ff ff ff ff ff ff"),
              R"({"ok":true,"value":{"type":"int","value":-5}})");
    EXPECT_EQ(run_hex("02 00 00 00 00 00 00 f0 3f"),
              R"({"ok":true,"value":{"type":"float","value":1}})");
    EXPECT_EQ(run_hex("02 00 00 00 00 00 00 00 80"), ok_value("float", "-0"));
    EXPECT_EQ(run_hex("02 00 00 00 00 00 00 f8 7f"), ok_value("float", "NaN"));
    EXPECT_EQ(run_hex("02 00 00 00 00 00 00 f8 ff"), ok_value("float", "NaN"));
    EXPECT_EQ(run_hex("02 00 00 00 00 00 00 f0 ff"), ok_value("float", "-inf"));
    EXPECT_EQ(run("PUSH_INT 0"), ok_value("int", "0"));
    EXPECT_EQ(run("PUSH_INT -9223372036854775808"), ok_value("int", "-9223372036854775808"));

    // Float text: shortest round-trip digits, always positional.
    EXPECT_EQ(run("PUSH_FLOAT 0.1; PUSH_FLOAT 0.2; ADD"), ok_value("float", "0.30000000000000004"));
    EXPECT_EQ(run("PUSH_FLOAT 1e21"), ok_value("float", "1" + std::string(21, '0')));
    EXPECT_EQ(run("PUSH_FLOAT 1e-7"), ok_value("float", "0.0000001"));
    EXPECT_EQ(run("PUSH_FLOAT 5e-324"), ok_value("float", "0." + std::string(323, '0') + "5"));
    EXPECT_EQ(run("PUSH_FLOAT -1.7976931348623157e308"),
              ok_value("float", "-17976931348623157" + std::string(292, '0')));
    EXPECT_EQ(run("PUSH_FLOAT 123.456"), ok_value("float", "123.456"));
    EXPECT_EQ(run("PUSH_FLOAT -1500"), ok_value("float", "-1500"));
    EXPECT_EQ(run("PUSH_FLOAT 0.015625"), ok_value("float", "0.015625"));
    EXPECT_EQ(run("PUSH_FLOAT 12.5"), ok_value("float", "12.5"));

    // String text: short escapes for five characters, \u00xx for other controls and C1.
    EXPECT_EQ(run(R"(PUSH_STR "a\"\\\n\t\x01\x7f\xc3\xa9")"),
              R"({"ok":true,"value":{"type":"str","value":"a\"\\\n\t\u0001\u007fé"}})");
    EXPECT_EQ(run(R"(PUSH_STR "\x08\x0c\x1b\r\x1f\xc2\x80\xc2\x85\xc2\x9f")"),
              ok_value("str", R"("\u0008\u000c\u001b\r\u001f\u0080\u0085\u009f")"));
    EXPECT_EQ(run(R"(PUSH_STR "/\xc2\xa0\xe2\x80\xa8 ~")"),
              ok_value("str", "\"/\xC2\xA0\xE2\x80\xA8 ~\""));

    // Message texts are string texts too.
    EXPECT_EQ(run(R"(LOAD_VAR "a\"b\n")"), syntax(R"(Unknown variable: a\"b\n)"));
    EXPECT_EQ(run("PUSH_INT 1; PUSH_INT 0; DIV"),
              R"({"ok":false,"error":{"error":"divzero","message":"Division by zero"}})");
    EXPECT_EQ(run("ADD"),
              R"({"ok":false,"error":{"error":"stack","message":"Insufficient stack"}})");
    EXPECT_EQ(run_hex("fe"),
              R"({"ok":false,"error":{"error":"opcode","message":"Unknown opcode: 254"}})");

    lib_.free_fn()(nullptr);
}
