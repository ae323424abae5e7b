// Helper programs started without a shell (posix_spawn), read through a pipe on their standard
// output, and always reaped: the host is left with no zombie and no stray descriptor.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrun::shell {

// An owned file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    int get() const { return fd_; }
    void Reset();

private:
    int fd_ = -1;
};

// The full path of a helper program: <library folder>kestrun/<name>, else <library folder><name>,
// whichever is an executable file first; nothing when neither is.
std::optional<std::string> FindHelper(const std::string &name);

// A running helper. Its standard input and error are /dev/null, its standard output a pipe to us,
// and it gets the default signal dispositions and an empty signal mask.
class ChildProcess {
public:
    // Starts `program` with `arguments` (argv[1]...), in a session of its own when `newSession`.
    // Nothing when it cannot be started.
    static std::optional<ChildProcess>
    Start(const std::string &program, const std::vector<std::string> &arguments, bool newSession);
    ChildProcess(ChildProcess &&other) noexcept;
    ChildProcess &operator=(ChildProcess &&) = delete;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    // Kills and reaps a child that was not waited for.
    ~ChildProcess();

    // Everything the child writes until it closes its output, or up to and including the first
    // `endOfAnswer` byte when one is given; nothing when `limit` passes first. Without a limit it
    // waits as long as the child keeps the pipe open.
    std::optional<std::string> ReadOutput(std::optional<std::chrono::milliseconds> limit,
                                          std::optional<char> endOfAnswer = std::nullopt);
    // Waits for the child to end: its exit status, or -1 when it was killed by a signal or
    // cannot be waited for.
    int Wait();
    // Kills the child (and, for a session of its own, every process left in its group).
    void Kill();

private:
    ChildProcess(pid_t pid, UniqueFd output, bool ownGroup)
        : pid_(pid), output_(std::move(output)), ownGroup_(ownGroup) {}

    pid_t pid_ = -1;
    UniqueFd output_;
    bool ownGroup_ = false;
};

} // namespace kestrun::shell
