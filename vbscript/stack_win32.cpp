// The calling thread's stack bounds from the memory manager: a thread's stack is one reserved
// region whose base is the stack's lowest address (the guard pages sit just above it, inside the
// reserve the engine keeps free).
#include "ast.h"

#include <windows.h>

namespace kestrun::vbscript {

// Asked once per thread, like on every platform: the region never moves while the thread lives.
uintptr_t threadStackLow() {
    thread_local const uintptr_t low = [] {
        MEMORY_BASIC_INFORMATION info{};
        const char probe = 0;
        if (VirtualQuery(&probe, &info, sizeof info) != sizeof info)
            return uintptr_t{0};
        return reinterpret_cast<uintptr_t>(info.AllocationBase);
    }();
    return low;
}

} // namespace kestrun::vbscript
