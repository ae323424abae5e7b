// Win_CopyFileToClipBoard over byte strings.
#pragma once

#include "kestrun/shell/clipboard_seam.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::shell {

// The file list for an ANSI path: empty for an empty path, else the local name in UTF-8. A
// relative name is made absolute against `currentFolder` unless that is empty, which keeps the
// name as given. The file itself is not looked at.
std::vector<std::string> ClipboardFileList(std::string_view ansiPath,
                                           std::string_view currentFolder);

// A "file://" URI for an absolute local path: every byte other than an unreserved character or
// "/" is percent-encoded (upper-case hexadecimal).
std::string FileUri(std::string_view absolutePath);

// The Windows drop-files block (CF_HDROP) for `files`: the 20-byte DROPFILES record (list offset
// 20, drop point (0, 0), non-client flag 0, wide-character flag 1), then each path in UTF-16
// little-endian with its NUL, then the NUL that ends the list (two NULs for an empty list).
std::string DropFilesBlock(const std::vector<std::u16string> &files);

// 1 when the clipboard now holds the file, 0 for a null path or a clipboard that was not taken.
int32_t CopyFileToClipboard(ClipboardSeam &clipboard, const char *ansiPath,
                            std::string_view currentFolder);

} // namespace kestrun::shell
