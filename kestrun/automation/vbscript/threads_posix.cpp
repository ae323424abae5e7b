// Tasks on std::thread (POSIX threads).
#include "kestrun/automation/vbscript/threads.h"

#include <system_error>
#include <thread>
#include <vector>

namespace kestrun::vbscript {

void RunOnThreads(size_t count, const std::function<void(size_t)> &task) {
    std::vector<std::thread> threads;
    std::vector<size_t> inlineTasks;
    threads.reserve(count);
    inlineTasks.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        try {
            threads.emplace_back(task, i);
        } catch (const std::system_error &) {
            inlineTasks.push_back(i);
        }
    }
    for (size_t i : inlineTasks)
        task(i);
    for (auto &t : threads)
        t.join();
}

} // namespace kestrun::vbscript
