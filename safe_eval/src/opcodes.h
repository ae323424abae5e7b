// Opcode numbers of the evaluator's bytecode and their mnemonics. Shared by the machine and by the
// host tool's assembler, so both agree on one table.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace safe_eval {

enum class Op : std::uint8_t {
    PUSH_INT = 0x01,
    PUSH_FLOAT = 0x02,
    PUSH_STR = 0x03,
    PUSH_BOOL = 0x04,
    LOAD_VAR = 0x05,
    ADD = 0x10,
    SUB = 0x11,
    MUL = 0x12,
    DIV = 0x13,
    MOD = 0x14,
    NEG = 0x15,
    EQ = 0x20,
    NE = 0x21,
    LT = 0x22,
    GT = 0x23,
    LE = 0x24,
    GE = 0x25,
    AND = 0x30,
    OR = 0x31,
    NOT = 0x32,
    HALT = 0xFF,
};

struct OpInfo {
    Op op;
    std::string_view name;
};

inline constexpr OpInfo kOpTable[] = {
    {Op::PUSH_INT, "PUSH_INT"},
    {Op::PUSH_FLOAT, "PUSH_FLOAT"},
    {Op::PUSH_STR, "PUSH_STR"},
    {Op::PUSH_BOOL, "PUSH_BOOL"},
    {Op::LOAD_VAR, "LOAD_VAR"},
    {Op::ADD, "ADD"},
    {Op::SUB, "SUB"},
    {Op::MUL, "MUL"},
    {Op::DIV, "DIV"},
    {Op::MOD, "MOD"},
    {Op::NEG, "NEG"},
    {Op::EQ, "EQ"},
    {Op::NE, "NE"},
    {Op::LT, "LT"},
    {Op::GT, "GT"},
    {Op::LE, "LE"},
    {Op::GE, "GE"},
    {Op::AND, "AND"},
    {Op::OR, "OR"},
    {Op::NOT, "NOT"},
    {Op::HALT, "HALT"},
};

// The table entry of a byte, or nothing when the byte is no instruction.
constexpr std::optional<OpInfo> op_info(std::uint8_t byte) {
    for (const OpInfo &info : kOpTable) {
        if (static_cast<std::uint8_t>(info.op) == byte) {
            return info;
        }
    }
    return std::nullopt;
}

} // namespace safe_eval
