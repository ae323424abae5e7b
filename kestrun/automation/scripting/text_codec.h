// The character sets a stream reads and writes text in: UTF-8, UTF-16LE ("unicode"), code page
// 936 (gb2312, gbk, gb18030), US-ASCII, ISO-8859-1 and Windows-1252.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrun::scripting {

enum class Charset { Utf8, Utf16Le, Gbk, Ascii, Latin1, Windows1252 };

// The character set a name (case-insensitive) stands for; nullopt for a name not supported.
std::optional<Charset> CharsetNamed(std::u16string_view name);

// The byte-order mark written before text in the set (UTF-8 and UTF-16LE); empty for others.
std::string_view ByteOrderMark(Charset set);

// Text to bytes. A character the set cannot hold becomes "?"; U+0000 is kept.
std::string EncodeText(Charset set, std::u16string_view text);
// Bytes to text. An invalid sequence becomes U+FFFD (code page 936: as the system converts it);
// zero bytes are kept.
std::u16string DecodeText(Charset set, std::string_view bytes);

// The number of bytes from the start of `bytes` that hold the first `chars` characters (UTF-16
// units for "unicode"); all of `bytes` when it holds fewer.
size_t BytesOfChars(Charset set, std::string_view bytes, size_t chars);

// The line separator in the set's bytes: `separator` is -1 (CR LF), 13 (CR) or 10 (LF).
std::string LineSeparatorBytes(Charset set, int separator);

} // namespace kestrun::scripting
