// Win_CopyFileToClipBoard over byte strings.
#pragma once

#include "kestrun/shell/clipboard_seam.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::shell {

// The file list for an ANSI path: empty for an empty path, else the local name (made absolute
// against `currentFolder` when relative). The file itself is not looked at.
std::vector<std::string> ClipboardFileList(std::string_view ansiPath,
                                           std::string_view currentFolder);

// A "file://" URI for an absolute local path: every byte other than an unreserved character or
// "/" is percent-encoded (upper-case hexadecimal).
std::string FileUri(std::string_view absolutePath);

// 1 when the clipboard now holds the file, 0 for a null path or a clipboard that was not taken.
int32_t CopyFileToClipboard(ClipboardSeam &clipboard, const char *ansiPath,
                            std::string_view currentFolder);

} // namespace kestrun::shell
