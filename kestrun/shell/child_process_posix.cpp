#include "kestrun/shell/child_process.h"

#include "kestrun/interop/strings.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace kestrun::shell {
namespace {

class SpawnActions {
public:
    SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
    }
    SpawnActions(const SpawnActions &) = delete;
    SpawnActions &operator=(const SpawnActions &) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t *get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = posix_spawnattr_init(&attributes_) == 0; }
    ~SpawnAttributes() {
        if (ok_) {
            posix_spawnattr_destroy(&attributes_);
        }
    }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t *get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
    bool ok_ = false;
};

bool IsExecutableFile(const std::string &path) {
    return ::access(path.c_str(), X_OK) == 0 && ::access((path + "/.").c_str(), F_OK) != 0;
}

} // namespace

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void UniqueFd::Reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::optional<std::string> FindHelper(const std::string &name) {
    const std::string folder = interop::ModuleFolder();
    if (folder.empty()) {
        return std::nullopt;
    }
    for (const std::string &candidate : {folder + "kestrun/" + name, folder + name}) {
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<ChildProcess> ChildProcess::Start(const std::string &program,
                                                const std::vector<std::string> &arguments,
                                                bool newSession) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);

    SpawnActions actions;
    SpawnAttributes attributes;
    if (!actions.ok() || !attributes.ok() ||
        posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), 1) != 0 ||
        posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0) != 0) {
        return std::nullopt;
    }
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM}) {
        sigaddset(&defaults, signal);
    }
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) {
        flags |= POSIX_SPAWN_SETSID;
    }
    if (posix_spawnattr_setsigmask(attributes.get(), &none) != 0 ||
        posix_spawnattr_setsigdefault(attributes.get(), &defaults) != 0 ||
        posix_spawnattr_setflags(attributes.get(), flags) != 0) {
        return std::nullopt;
    }

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ) !=
        0) {
        return std::nullopt;
    }
    // Only the child keeps the writing end, so the pipe reads as closed once it is gone.
    writeEnd.Reset();
    return ChildProcess(pid, std::move(readEnd), newSession);
}

ChildProcess::ChildProcess(ChildProcess &&other) noexcept
    : pid_(other.pid_), output_(std::move(other.output_)), ownGroup_(other.ownGroup_) {
    other.pid_ = -1;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        Kill();
        Wait();
    }
}

std::optional<std::string> ChildProcess::ReadOutput(std::optional<std::chrono::milliseconds> limit,
                                                    std::optional<char> endOfAnswer) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
    std::string output;
    char buffer[4096];
    while (output_.get() >= 0) {
        int timeout = -1;
        if (limit) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return std::nullopt;
            }
            timeout = int(left.count());
        }
        pollfd waiting{output_.get(), POLLIN, 0};
        const int ready = ::poll(&waiting, 1, timeout);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            break;
        }
        if (ready == 0) {
            continue; // the loop head sees the deadline
        }
        const ssize_t got = ::read(output_.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        output.append(buffer, size_t(got));
        if (endOfAnswer && output.find(*endOfAnswer) != std::string::npos) {
            break;
        }
    }
    output_.Reset();
    return output;
}

int ChildProcess::Wait() {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid_, &status, 0);
    } while (done < 0 && errno == EINTR);
    pid_ = -1;
    output_.Reset();
    if (done < 0 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

void ChildProcess::Kill() {
    if (pid_ > 0) {
        ::kill(ownGroup_ ? -pid_ : pid_, SIGKILL);
    }
}

} // namespace kestrun::shell
