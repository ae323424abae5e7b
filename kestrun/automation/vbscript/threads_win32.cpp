// Tasks on threads of the system's own: CreateThread, and WaitForMultipleObjects over the
// handles in groups of at most MAXIMUM_WAIT_OBJECTS, so that a batch of any size is waited for
// completely before its tasks' data is touched again.
#include "kestrun/automation/vbscript/threads.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrun::vbscript {

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct Job {
    const std::function<void(size_t)> *task;
    size_t index;
};

DWORD WINAPI JobThread(LPVOID parameter) {
    const Job &job = *static_cast<const Job *>(parameter);
    (*job.task)(job.index);
    return 0;
}

} // namespace

void RunOnThreads(size_t count, const std::function<void(size_t)> &task) {
    std::vector<Job> jobs(count); // never resized once threads refer to its elements
    std::vector<UniqueHandle> threads;
    std::vector<HANDLE> handles;
    std::vector<size_t> inlineTasks;
    threads.reserve(count);
    handles.reserve(count);
    inlineTasks.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        jobs[i] = Job{&task, i};
        HANDLE h = CreateThread(nullptr, 0, JobThread, &jobs[i], 0, nullptr);
        if (!h) {
            inlineTasks.push_back(i);
            continue;
        }
        threads.emplace_back(h);
        handles.push_back(h);
    }
    for (size_t i : inlineTasks)
        task(i);
    for (size_t done = 0; done < handles.size();) {
        const DWORD group =
            static_cast<DWORD>(std::min<size_t>(handles.size() - done, MAXIMUM_WAIT_OBJECTS));
        const DWORD rc = WaitForMultipleObjects(group, handles.data() + done, TRUE, INFINITE);
        if (rc == WAIT_FAILED) {
            // Never expected with valid handles; wait for each on its own rather than leave
            // while a thread may still use its job.
            for (DWORD k = 0; k < group; ++k)
                WaitForSingleObject(handles[done + k], INFINITE);
        }
        done += group;
    }
}

} // namespace kestrun::vbscript
