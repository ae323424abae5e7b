// Where the library file lives: on Windows GetModuleFileNameW of the library's own module.
#pragma once

#include <string>

namespace kestrun::platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Full path of the shared object that holds this code ("" if the platform cannot tell).
std::string ModuleFileName();

} // namespace kestrun::platform
