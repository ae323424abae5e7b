// The library's own file name through the dynamic loader.
#include "module_path_seam.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>

namespace kestrun::platform {
namespace {

std::string ModuleFileName() {
    Dl_info info{};
    // Any address inside this shared object identifies it, whatever program loaded it.
    if (dladdr(reinterpret_cast<const void *>(&ModuleFileName), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) != nullptr) {
        return resolved;
    }
    return info.dli_fname;
}

} // namespace

std::string ModuleFolderName() {
    const std::string file = ModuleFileName();
    const size_t slash = file.rfind(kPathSeparator);
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

} // namespace kestrun::platform
