// One operating-system thread per task, for RunVBFunction_MT.
#pragma once

#include <cstddef>
#include <functional>

namespace kestrun::vbscript {

// Runs task(0) .. task(count - 1), each on a thread of its own, all started in one batch, and
// returns when every one has ended. A task whose thread cannot be started runs on the calling
// thread once the others are running. `task` must not throw.
void RunOnThreads(size_t count, const std::function<void(size_t)> &task);

} // namespace kestrun::vbscript
