// Text assembly for the evaluator's bytecode, one instruction a line, and back.
//
//   PUSH_INT -5          decimal, or 0x... for the raw 64-bit pattern
//   PUSH_FLOAT 0.5       decimal / exponent form, nan, inf, -inf, or 0x + 16 hex digits (bits)
//   PUSH_STR "a\n"       escapes \n \t \r \0 \" \\ \xHH; other bytes as written
//   PUSH_BOOL true       true, false, or a byte value 0..255
//   LOAD_VAR x           a bare name, or a quoted one like PUSH_STR's text
//   ADD ... NOT, HALT    no operand
//   BYTES 07 ff          raw bytes in hex, for programs that are not well-formed
//
// Mnemonics are case-insensitive; '#' starts a comment and ';' separates instructions on one
// line, both outside quotes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace safe_eval_asm {

struct AsmError {
    std::size_t line = 0; // 1-based
    std::string message;
};

std::variant<std::vector<std::uint8_t>, AsmError> assemble(std::string_view source);

// One line per instruction in the syntax above. Bytes that are no instruction, and a truncated
// last instruction, come out as BYTES lines so the text assembles back to the same program.
std::string disassemble(std::span<const std::uint8_t> program);

// Hex digits with optional whitespace and an optional 0x before each group. Appends the bytes to
// `out`; false when the text is not whole bytes of hex.
bool parse_hex(std::string_view text, std::vector<std::uint8_t> &out);

std::string to_hex(std::span<const std::uint8_t> bytes);

} // namespace safe_eval_asm
