// The usage text of the kestrun command-line host: printed by `kestrun --help` and the source of
// its manual page, so the two always say the same.
#pragma once

namespace kestrun_cli {

inline constexpr const char *kUsage =
    "usage: kestrun [-x] NAME [ARG...]         call one export\n"
    "       kestrun [-x] [-e] -f FILE          run a session: one call per line (- is stdin)\n"
    "       kestrun [-x] [-e]                  run a session from standard input, or a prompt\n"
    "       kestrun help [NAME]                list the exports, or describe one\n"
    "       kestrun --version\n"
    "\n"
    "Arguments follow the export's parameters in order; missing ones are null strings, 0 or no\n"
    "array, and @null passes a null string. Arrays are written a|b|c, two-dimensional ones with\n"
    "one row per line (a line feed at the end makes one row a table). -x prints texts as\n"
    "hexadecimal bytes; -e echoes each session line.\n"
    "\n"
    "In a session a line is written like a command line: NAME ARG..., words separated by blanks,\n"
    "\"double quotes\" (with \\n, \\t, \\\" and \\\\) or 'single quotes' around words with "
    "blanks,\n"
    "# starts a comment. $name passes a variable: a written argument (out-string, ref-long,\n"
    "array, variant) stores into it, a read argument uses its value. $name = NAME ARG... keeps\n"
    "the result. The exit status is 0 when every call succeeded.\n";

} // namespace kestrun_cli
