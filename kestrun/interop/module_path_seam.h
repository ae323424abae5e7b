// Where the library file lives. On Windows: GetModuleFileNameA of the library's own module.
#pragma once

#include <string>

namespace kestrun::platform {

inline constexpr char kPathSeparator = '/';

// Full path of the shared object that holds this code ("" if the platform cannot tell).
std::string ModuleFileName();

} // namespace kestrun::platform
