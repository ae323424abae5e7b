// Kestrun.dll through LoadLibraryW: from the program's own folder first, as Windows looks.
#include "session.h"

#include <windows.h>

namespace kestrun_cli {

Library::~Library() {
    if (handle_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(handle_));
    }
}

void *Library::Symbol(const std::string &name, std::string &error) {
    if (handle_ == nullptr) {
        handle_ = LoadLibraryW(L"Kestrun.dll");
        if (handle_ == nullptr) {
            error = "cannot load Kestrun.dll (error " + std::to_string(GetLastError()) + ")";
            return nullptr;
        }
    }
    void *symbol =
        reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
    if (symbol == nullptr) {
        error = name + " is not available in this build";
    }
    return symbol;
}

} // namespace kestrun_cli
