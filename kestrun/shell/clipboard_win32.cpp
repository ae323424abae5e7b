// The clipboard seam on Windows: the file list as CF_HDROP (a DROPFILES block with wide names)
// and the registered "Preferred DropEffect" format holding DROPEFFECT_COPY, as a file manager's
// "copy" leaves them. Each block is freed here until SetClipboardData has taken it over.
#include "kestrun/shell/clipboard_seam.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/shell/clipboard.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace kestrun::shell {
namespace {

struct GlobalFreeDeleter {
    void operator()(void *block) const { GlobalFree(block); }
};
using UniqueGlobal = std::unique_ptr<void, GlobalFreeDeleter>;

// A movable, zero-filled, shareable block holding `bytes`; null when memory is short.
UniqueGlobal SharedBlock(std::string_view bytes) {
    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, bytes.size()));
    if (!block) {
        return block;
    }
    void *data = GlobalLock(block.get());
    if (data == nullptr) {
        return nullptr;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    GlobalUnlock(block.get());
    return block;
}

// The clipboard held open, with no owner window, for the life of the object.
class OpenClipboardScope {
public:
    OpenClipboardScope() : open_(OpenClipboard(nullptr) != FALSE) {}
    ~OpenClipboardScope() {
        if (open_) {
            CloseClipboard();
        }
    }
    OpenClipboardScope(const OpenClipboardScope &) = delete;
    OpenClipboardScope &operator=(const OpenClipboardScope &) = delete;
    explicit operator bool() const { return open_; }

private:
    bool open_;
};

// Hands `block` to the clipboard under `format`; it stays ours (and is freed) if refused.
bool Place(UINT format, UniqueGlobal &block) {
    if (SetClipboardData(format, block.get()) == nullptr) {
        return false;
    }
    (void)block.release();
    return true;
}

class Win32Clipboard final : public ClipboardSeam {
public:
    bool PutFiles(const std::vector<std::string> &files) override {
        const UINT effectFormat = RegisterClipboardFormatW(L"Preferred DropEffect");
        const DWORD copy = 1; // DROPEFFECT_COPY
        UniqueGlobal effect =
            SharedBlock(std::string_view(reinterpret_cast<const char *>(&copy), sizeof copy));
        std::vector<std::u16string> wide;
        wide.reserve(files.size());
        for (const auto &file : files) {
            wide.push_back(interop::Utf8ToWide(file));
        }
        UniqueGlobal list = SharedBlock(DropFilesBlock(wide));
        if (!effect || !list) {
            return false;
        }
        const OpenClipboardScope clipboard;
        if (!clipboard || !EmptyClipboard()) {
            return false;
        }
        // Without the list the clipboard holds no file: that is a failure, not a copy.
        if (!Place(CF_HDROP, list)) {
            return false;
        }
        if (effectFormat != 0) {
            (void)Place(effectFormat, effect);
        }
        return true;
    }
};

} // namespace

std::unique_ptr<ClipboardSeam> SystemClipboard() {
    return std::make_unique<Win32Clipboard>();
}

std::string RelativePathBase() {
    return {}; // the file list holds the path as the caller wrote it
}

} // namespace kestrun::shell
