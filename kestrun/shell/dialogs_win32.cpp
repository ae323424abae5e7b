// The dialog seam on Windows: GetOpenFileNameW, GetSaveFileNameW and SHBrowseForFolderW on the
// calling thread, which they block until the user closes the modal dialog.
#include "kestrun/shell/dialogs_win32.h"

#include "kestrun/shell/dialogs.h"

#include <algorithm>
#include <memory>
#include <string_view>

namespace kestrun::shell {
namespace {

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

// `text` cut to fit a buffer of N units with its terminator.
template <size_t N> void CopyInto(std::array<wchar_t, N> &buffer, std::u16string_view text) {
    const size_t count = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), count, buffer.begin());
    buffer[count] = L'\0';
}

HWND OwnerHandle(uint64_t owner) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(owner));
}

// COM on the calling thread for the folder dialog's new style, released when it was taken here;
// a thread already in another apartment keeps it.
class ComApartment {
public:
    ComApartment()
        : initialised_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (initialised_) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;

private:
    bool initialised_;
};

struct TaskMemoryFree {
    void operator()(ITEMIDLIST *item) const { CoTaskMemFree(item); }
};
using UniqueItem = std::unique_ptr<ITEMIDLIST, TaskMemoryFree>;

DialogAnswer Confirmed(std::vector<std::u16string> paths) {
    DialogAnswer answer;
    answer.confirmed = !paths.empty();
    answer.paths = std::move(paths);
    return answer;
}

class Win32Dialogs final : public DialogSeam {
public:
    DialogAnswer Show(const DialogRequest &request) override {
        if (request.kind == DialogKind::Folder) {
            return ShowFolder(request);
        }
        FileDialogRecord file(request);
        const BOOL chosen = request.kind == DialogKind::Save ? GetSaveFileNameW(&file.Record())
                                                             : GetOpenFileNameW(&file.Record());
        return chosen ? Confirmed(file.Paths()) : DialogAnswer{};
    }

private:
    static DialogAnswer ShowFolder(const DialogRequest &request) {
        ComApartment com;
        FolderDialogRecord folder(request);
        const UniqueItem item(SHBrowseForFolderW(&folder.Record()));
        if (!item) {
            return {};
        }
        // An item outside the file system (a virtual folder) has no path to give.
        if (!SHGetPathFromIDListW(item.get(), folder.Path())) {
            return {};
        }
        const std::u16string path(reinterpret_cast<const char16_t *>(folder.Path()));
        return path.empty() ? DialogAnswer{} : Confirmed({path});
    }
};

} // namespace

FileDialogRecord::FileDialogRecord(const DialogRequest &request)
    : multiple_(request.kind == DialogKind::OpenMultiple), filter_(Wide(request.filter)),
      defaultExtension_(Wide(request.defaultExtension)),
      file_(request.kind == DialogKind::Save ? kPathUnits : kOpenFileUnits, L'\0') {
    CopyInto(initialFolder_, request.initialFolder);
    record_.lStructSize = sizeof record_;
    record_.hwndOwner = OwnerHandle(request.owner);
    record_.lpstrFilter = filter_.empty() ? nullptr : filter_.c_str();
    record_.nFilterIndex = 1;
    record_.lpstrFile = file_.data();
    record_.nMaxFile = static_cast<DWORD>(file_.size());
    record_.lpstrInitialDir = initialFolder_.data();
    switch (request.kind) {
    case DialogKind::Save:
        // No overwrite prompt and no existence checks.
        record_.Flags = OFN_EXPLORER;
        record_.lpstrDefExt = defaultExtension_.empty() ? nullptr : defaultExtension_.c_str();
        break;
    case DialogKind::OpenMultiple:
        record_.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT;
        break;
    default:
        record_.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
        break;
    }
}

std::vector<std::u16string> FileDialogRecord::Paths() const {
    const std::u16string_view buffer(reinterpret_cast<const char16_t *>(file_.data()),
                                     file_.size());
    if (multiple_) {
        return SelectionPaths(buffer, record_.nFileOffset);
    }
    const std::u16string_view path = buffer.substr(0, buffer.find(u'\0'));
    if (path.empty()) {
        return {};
    }
    return {std::u16string(path)};
}

FolderDialogRecord::FolderDialogRecord(const DialogRequest &request) : title_(Wide(request.title)) {
    CopyInto(initialFolder_, request.initialFolder);
    record_.hwndOwner = OwnerHandle(request.owner);
    record_.pidlRoot = nullptr;
    record_.pszDisplayName = path_.data();
    record_.lpszTitle = title_.empty() ? nullptr : title_.c_str();
    record_.ulFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
    record_.lpfn = nullptr;
    // Only a callback would read this, and there is none.
    record_.lParam = reinterpret_cast<LPARAM>(initialFolder_.data());
}

std::unique_ptr<DialogSeam> SystemDialogs() {
    return std::make_unique<Win32Dialogs>();
}

} // namespace kestrun::shell
