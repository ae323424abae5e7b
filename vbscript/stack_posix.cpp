// The calling thread's stack bounds from the thread library.
#include "ast.h"

#include <pthread.h>

namespace kestrun::vbscript {

// Threads differ in stack size (a host's worker threads are often smaller than the main
// thread's), so the limits follow the thread that runs the script. Asked once per thread: the
// answer never changes while the thread lives.
uintptr_t threadStackLow() {
    thread_local const uintptr_t low = [] {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0)
            return uintptr_t{0};
        void *addr = nullptr;
        size_t size = 0;
        uintptr_t r = 0;
        if (pthread_attr_getstack(&attr, &addr, &size) == 0)
            r = reinterpret_cast<uintptr_t>(addr);
        pthread_attr_destroy(&attr);
        return r;
    }();
    return low;
}

} // namespace kestrun::vbscript
