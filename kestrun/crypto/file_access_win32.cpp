// File identity on Windows: the volume serial number and file index of an open handle (the C
// library's stat() reports no inode there); GBK paths become UTF-16 names.
#include "kestrun/crypto/file_access.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/regular_file_seam.h"

#include <windows.h>

#include <string>

namespace kestrun::crypto {
namespace {

std::wstring WidePath(std::string_view ansiPath) {
    const std::u16string wide = interop::AnsiToWide(ansiPath);
    return std::wstring(wide.begin(), wide.end());
}

struct HandleClose {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleClose>;

// Volume serial number and file index of an existing file or folder.
bool FileIdentity(std::string_view ansiPath, BY_HANDLE_FILE_INFORMATION &info) {
    const std::wstring path = WidePath(ansiPath);
    if (path.empty() || platform::IsPipePath(interop::AnsiToUtf8(ansiPath))) {
        return false;
    }
    // No access rights are needed to read the identity; backup semantics open folders too.
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    const UniqueHandle owner(h);
    return GetFileInformationByHandle(h, &info) != 0;
}

} // namespace

bool IsSameExistingFile(std::string_view ansiPathA, std::string_view ansiPathB) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    if (!FileIdentity(ansiPathA, a) || !FileIdentity(ansiPathB, b)) {
        return false;
    }
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace kestrun::crypto
