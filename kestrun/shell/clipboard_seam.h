// The platform clipboard as the file-copy export uses it. On Windows: OpenClipboard,
// EmptyClipboard and SetClipboardData with CF_HDROP and "Preferred DropEffect"
// (clipboard_win32.cpp). On Linux: a helper program that owns the X11 CLIPBOARD selection
// (clipboard_posix.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kestrun::shell {

class ClipboardSeam {
public:
    virtual ~ClipboardSeam() = default;
    // Offers `files` (UTF-8 local paths; empty for an empty list) for a later paste as a copy.
    // True once the clipboard holds the list.
    virtual bool PutFiles(const std::vector<std::string> &files) = 0;
};

std::unique_ptr<ClipboardSeam> SystemClipboard();

// The folder (UTF-8) a relative path is made absolute against before it goes on the clipboard:
// the current folder where the file list needs absolute names (file URIs), empty where the list
// holds the path as the caller wrote it.
std::string RelativePathBase();

} // namespace kestrun::shell
