// The request records of the Windows file and folder dialogs, built from a DialogRequest, with
// the buffers they point into.
#pragma once

#include "kestrun/shell/dialog_seam.h"

#include <windows.h>

#include <commdlg.h>
#include <shlobj.h>

#include <array>
#include <string>
#include <vector>

namespace kestrun::shell {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// Buffer sizes in UTF-16 units, terminator included.
inline constexpr size_t kPathUnits = 260;
inline constexpr size_t kOpenFileUnits = 26000;

// The record of GetOpenFileNameW or GetSaveFileNameW. It points into itself, so it is neither
// copied nor moved.
class FileDialogRecord {
public:
    explicit FileDialogRecord(const DialogRequest &request);
    FileDialogRecord(const FileDialogRecord &) = delete;
    FileDialogRecord &operator=(const FileDialogRecord &) = delete;

    OPENFILENAMEW &Record() { return record_; }
    // The full paths the confirmed dialog left in the file buffer.
    std::vector<std::u16string> Paths() const;

private:
    bool multiple_;
    std::wstring filter_;
    std::array<wchar_t, kPathUnits> initialFolder_{};
    std::wstring defaultExtension_;
    std::vector<wchar_t> file_;
    OPENFILENAMEW record_{};
};

// The record of SHBrowseForFolderW: root the desktop, no callback, the path buffer as display
// name buffer.
class FolderDialogRecord {
public:
    explicit FolderDialogRecord(const DialogRequest &request);
    FolderDialogRecord(const FolderDialogRecord &) = delete;
    FolderDialogRecord &operator=(const FolderDialogRecord &) = delete;

    BROWSEINFOW &Record() { return record_; }
    // The path buffer (kPathUnits units).
    wchar_t *Path() { return path_.data(); }

private:
    std::wstring title_;
    std::array<wchar_t, kPathUnits> initialFolder_{};
    std::array<wchar_t, kPathUnits> path_{};
    BROWSEINFOW record_{};
};

} // namespace kestrun::shell
