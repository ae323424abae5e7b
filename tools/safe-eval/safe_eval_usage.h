// The usage text of the safe-eval command-line host: printed by `safe-eval --help` and the source
// of its manual page, so the two always say the same.
#pragma once

namespace safe_eval_cli {

inline constexpr const char *kUsage =
    "usage: safe-eval [--timeout-ms N] (--hex HEX | --asm TEXT | FILE | -)\n"
    "       safe-eval --disassemble (--hex HEX | --hex-file FILE)\n"
    "       safe-eval --assemble (--asm TEXT | FILE | -)\n"
    "\n"
    "Runs the program and prints the JSON result (exit 0 for a value, 1 for an error).\n"
    "FILE and - (standard input) hold text assembly, one instruction a line, e.g.\n"
    "  PUSH_INT -5 / PUSH_FLOAT 0.5 / PUSH_STR \"a\\n\" / PUSH_BOOL true / LOAD_VAR x /\n"
    "  ADD SUB MUL DIV MOD NEG EQ NE LT GT LE GE AND OR NOT HALT / BYTES 07 ff\n"
    "';' also separates instructions and '#' starts a comment. --timeout-ms defaults to 1000.\n";

} // namespace safe_eval_cli
