// Where the library file lives: on Windows GetModuleFileNameW of the library's own module.
#pragma once

#include <string>

namespace kestrun::platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The folder of the shared object that holds this code, ending in its path separator ("" if the
// platform cannot tell).
std::string ModuleFolderName();

} // namespace kestrun::platform
