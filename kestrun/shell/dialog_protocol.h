// How the library and the dialog helper program talk: the command line the helper gets and the
// answer it writes. Shared by both sides.
//
//   kestrun-dialog KIND OWNER FOLDER TITLE [DESCRIPTION PATTERNS]...
//
// KIND is one of the names below, OWNER a decimal window id (0 for none), texts are UTF-8 and
// PATTERNS holds ";"-separated shell patterns. A confirmed dialog writes every chosen path
// followed by a NUL to standard output and exits with kChosen.
#pragma once

namespace kestrun::shell::dialog_protocol {

inline constexpr char kOpen[] = "open";
inline constexpr char kOpenMultiple[] = "open-multiple";
inline constexpr char kSave[] = "save";
inline constexpr char kFolder[] = "folder";

inline constexpr int kChosen = 0;
inline constexpr int kCancelled = 1;
inline constexpr int kNoDisplay = 2;
inline constexpr int kUsage = 3;

// Fixed arguments before the filter pairs.
inline constexpr int kFixedArguments = 4;

inline constexpr char kProgramName[] = "kestrun-dialog";

} // namespace kestrun::shell::dialog_protocol
