// The user's desktop folder. On Windows: SHGetSpecialFolderPathW(CSIDL_DESKTOPDIRECTORY) without
// creating it (desktop_folder_win32.cpp). On Linux: XDG_DESKTOP_DIR of the user-dirs file, else
// $HOME/Desktop, never created (desktop_folder_posix.cpp).
#pragma once

#include <string>
#include <string_view>

namespace kestrun::shell {

// The desktop folder as UTF-16 (empty when there is no home folder).
std::u16string DesktopFolder();

// Linux: the desktop folder (UTF-8) named by the content of a user-dirs file, with "$HOME" standing
// for `home`; `home` + "/Desktop" when the file names none or names a relative path.
std::string DesktopFolderFrom(std::string_view userDirs, std::string_view home);

} // namespace kestrun::shell
