// The library's own file name: GetModuleFileNameW of the module that holds this code, in the
// ANSI code page as the library's paths are.
#include "module_path_seam.h"

#include "kestrun/interop/codepage.h"

#include <windows.h>

namespace kestrun::platform {

std::string ModuleFileName() {
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
            return interop::WideToAnsi(name);
        }
        if (name.size() >= 32768) {
            return {};
        }
        name.resize(name.size() * 2); // truncated: try again with more room
    }
}

} // namespace kestrun::platform
