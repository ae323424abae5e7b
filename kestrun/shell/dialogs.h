// ShowOpenFile, ShowSaveFile and ShowBrowserFolder over byte strings: argument conversion, the
// filter list, the desktop folder default, the result format and the failure notes.
#pragma once

#include "kestrun/shell/dialog_seam.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::shell {

// The caller's filter list ("Text files|*.txt|All files|*.*") in the platform's format: every
// "|" becomes a NUL and two NULs end the list. An empty list stays empty (no filter).
std::u16string FilterList(std::u16string_view filter);

// The description/pattern pairs of a list in the platform's format, up to the first empty text;
// a description without a pattern is dropped.
std::vector<std::pair<std::u16string, std::u16string>> FilterPairs(std::u16string_view list);

// A multiple selection as one text: every path followed by the separator, the last one too.
std::u16string JoinSelection(const std::vector<std::u16string> &paths,
                             std::u16string_view separator);

// The full paths of a multiple selection as the Windows open dialog reports it: `buffer` holds
// the folder and the file names as NUL-ended texts (one full path when one file was chosen) and
// `firstName` is the offset of the first name. The folder is the first `firstName` - 1 units,
// given a trailing backslash when it has none; the names run up to the first empty one. An
// offset outside the buffer gives no paths.
std::vector<std::u16string> SelectionPaths(std::u16string_view buffer, size_t firstName);

// `path` with "." and the default extension appended when its file name has no extension (a
// leading dot of the extension is not doubled). An empty extension changes nothing.
std::u16string WithDefaultExtension(std::u16string path, std::u16string_view extension);

// Where the dialogs get the desktop folder from.
using DesktopFolderSource = std::function<std::u16string()>;

std::string ShowOpenFile(DialogSeam &dialogs, const DesktopFolderSource &desktop, uint64_t owner,
                         std::string_view filter, std::string_view initialFolder,
                         std::string_view fileTitle, std::string_view separator,
                         int32_t multiSelect);
std::string ShowSaveFile(DialogSeam &dialogs, const DesktopFolderSource &desktop, uint64_t owner,
                         std::string_view filter, std::string_view initialFolder,
                         std::string_view fileTitle, std::string_view defaultExtension);
std::string ShowBrowserFolder(DialogSeam &dialogs, const DesktopFolderSource &desktop,
                              uint64_t owner, std::string_view initialFolder,
                              std::string_view title);

} // namespace kestrun::shell
