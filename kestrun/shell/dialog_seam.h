// The platform's file and folder dialogs. On Windows: GetOpenFileNameW, GetSaveFileNameW and
// SHBrowseForFolderW (dialogs_win32.cpp). On Linux: a GTK program beside the library
// (dialogs_posix.cpp), so that the host process never loads a toolkit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrun::shell {

enum class DialogKind { Open, OpenMultiple, Save, Folder };

struct DialogRequest {
    DialogKind kind = DialogKind::Open;
    // Owner window (0 for none): the dialog is modal for it and kept above it.
    uint64_t owner = 0;
    // Description and pattern texts, each ended by a NUL, the list ended by one more NUL; empty
    // for no filter. Patterns are separated by ";" and match names regardless of case. The first
    // pair is selected.
    std::u16string filter;
    // The folder the dialog opens in.
    std::u16string initialFolder;
    // The folder dialog's text above the tree (empty for none).
    std::u16string title;
    // The save dialog appends "." and this extension to a typed name without one (empty for
    // none).
    std::u16string defaultExtension;
};

struct DialogAnswer {
    bool confirmed = false;
    // Full paths: one for the open, save and folder dialogs, one or more for a multiple selection.
    std::vector<std::u16string> paths;
};

class DialogSeam {
public:
    virtual ~DialogSeam() = default;
    // Shows the modal dialog and returns when it closes; a dialog that cannot be shown (no
    // display, no helper) is answered as cancelled.
    virtual DialogAnswer Show(const DialogRequest &request) = 0;
};

// The dialogs of this platform.
std::unique_ptr<DialogSeam> SystemDialogs();

} // namespace kestrun::shell
