// How the library and the clipboard helper program talk.
//
//   kestrun-clipboard [URI]...
//
// The helper leaves the caller at once (the caller reaps it), and a process of its own takes the
// CLIPBOARD selection for the URIs (none: an empty file list). That process writes kOwned or
// kNotOwned to standard output, closes it, and serves the selection until another client takes
// it or the display goes away.
#pragma once

namespace kestrun::shell::clipboard_protocol {

inline constexpr char kProgramName[] = "kestrun-clipboard";
inline constexpr char kOwned[] = "1\n";
inline constexpr char kNotOwned[] = "0\n";
// How long the library waits for the helper's answer.
inline constexpr int kAnswerMilliseconds = 5000;

} // namespace kestrun::shell::clipboard_protocol
