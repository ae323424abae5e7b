// Conversions between the ANSI code page (936, GBK), UTF-16 and UTF-8.
//
// Every conversion reads its input up to the first zero unit, never fails and never stops early:
// a character the target cannot hold becomes one "?", an invalid UTF-8 sequence becomes U+FFFD
// (and so "?" in GBK), and an empty input gives an empty output.
#pragma once

#include <string>
#include <string_view>

namespace kestrun::interop {

std::u16string AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::u16string_view wide);
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// UTF-8 <-> UTF-16 without the code page, for callers that need the UTF-16 form of UTF-8 text.
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view wide);

// The text up to (not including) its first zero byte / unit.
std::string_view UpToZero(std::string_view text);
std::u16string_view UpToZero(std::u16string_view text);

} // namespace kestrun::interop
