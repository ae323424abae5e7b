#include "kestrun/shell/desktop_folder_seam.h"

#include <windows.h>

#include <shlobj.h>

namespace kestrun::shell {

std::u16string DesktopFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_DESKTOPDIRECTORY, FALSE)) {
        return {};
    }
    return std::u16string(reinterpret_cast<const char16_t *>(buffer));
}

} // namespace kestrun::shell
