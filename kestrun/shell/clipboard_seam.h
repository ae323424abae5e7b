// The platform clipboard as the file-copy export uses it. On Windows: OpenClipboard,
// EmptyClipboard and SetClipboardData with CF_HDROP and "Preferred DropEffect". Here: a helper
// program that owns the X11 CLIPBOARD selection (clipboard_x11_helper.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kestrun::shell {

class ClipboardSeam {
public:
    virtual ~ClipboardSeam() = default;
    // Offers `files` (absolute local paths; empty for an empty list) for a later paste as a copy.
    // True once the clipboard holds the list.
    virtual bool PutFiles(const std::vector<std::string> &files) = 0;
};

std::unique_ptr<ClipboardSeam> SystemClipboard();

} // namespace kestrun::shell
