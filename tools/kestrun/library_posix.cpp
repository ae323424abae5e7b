// libkestrun.so through the dynamic loader, by its soname.
#include "session.h"

#include <dlfcn.h>

namespace kestrun_cli {

Library::~Library() {
    if (handle_ != nullptr) {
        dlclose(handle_);
    }
}

void *Library::Symbol(const std::string &name, std::string &error) {
    if (handle_ == nullptr) {
        handle_ = dlopen(KESTRUN_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char *reason = dlerror();
            error = reason != nullptr ? reason : "cannot open " KESTRUN_SONAME;
            return nullptr;
        }
    }
    void *symbol = dlsym(handle_, name.c_str());
    if (symbol == nullptr) {
        error = name + " is not available in this build";
    }
    return symbol;
}

} // namespace kestrun_cli
