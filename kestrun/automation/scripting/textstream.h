// TextStream: a text file opened for reading, writing or appending, in the ANSI code page (936)
// or as UTF-16LE with a byte-order mark.
#pragma once

#include "vbscript/interp.h"

#include <cstdint>
#include <string>

namespace kestrun::scripting {

using vbscript::Interp;
using vbscript::Value;

enum class IoMode { Read = 1, Write = 2, Append = 8 };

// The format argument: 0 ANSI, -1 Unicode, -2 the system default (ANSI; a file read or appended
// to that begins with the UTF-16LE byte-order mark is read as Unicode).
enum class TextFormat { Ansi = 0, Unicode = -1, Default = -2 };

// Opens `path` (UTF-8) as OpenTextFile does: a missing file is created when `create`, else error
// 53 (76 when its folder is missing). Raises 5 for an unknown mode or format.
Value OpenTextStream(const std::string &path, int32_t ioMode, bool create, int32_t format);
// Creates or truncates `path` as CreateTextFile does: an existing file raises 58 unless
// `overwrite`; a Unicode file starts with its byte-order mark.
Value CreateTextStream(const std::string &path, bool overwrite, bool unicode);
// A stream over standard input (0), output (1) or error (2), left open when the stream closes.
Value StandardStream(int32_t which, bool unicode);

} // namespace kestrun::scripting
