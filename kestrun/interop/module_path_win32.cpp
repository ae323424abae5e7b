// The library's own folder: GetModuleFileNameW of the module that holds this code, cut at its
// last backslash while still UTF-16 (in GBK bytes a backslash can also be the second byte of a
// character), then given in the ANSI code page as the library's paths are.
#include "module_path_seam.h"

#include "kestrun/interop/codepage.h"

#include <windows.h>

namespace kestrun::platform {
namespace {

std::u16string ModuleFileName() {
    HMODULE module = nullptr;
    // Any address inside this DLL identifies it, whatever program loaded it.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModuleFileName), &module)) {
        return {};
    }
    std::u16string name(MAX_PATH, u'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(name.size());
        const DWORD length =
            GetModuleFileNameW(module, reinterpret_cast<wchar_t *>(name.data()), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            name.resize(length);
            return name;
        }
        if (name.size() >= 32768) {
            return {};
        }
        name.resize(name.size() * 2); // truncated: try again with more room
    }
}

} // namespace

std::string ModuleFolderName() {
    const std::u16string file = ModuleFileName();
    const size_t slash = file.rfind(u'\\');
    return slash == std::u16string::npos ? std::string()
                                         : interop::WideToAnsi(file.substr(0, slash + 1));
}

} // namespace kestrun::platform
