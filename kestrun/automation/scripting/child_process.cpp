#include "kestrun/automation/scripting/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace kestrun::scripting {

void Fd::Reset() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

namespace {

// The lowest descriptor the pipes are moved to, so that placing them at 0 to 3 in the child
// never overwrites one another.
constexpr int kHighFd = 10;

Fd High(int fd) {
    Fd low(fd);
    return Fd(fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, kHighFd));
}

// A pipe: [0] read end, [1] write end, both close-on-exec and above kHighFd.
bool MakePipe(Fd (&ends)[2]) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    ends[0] = High(fds[0]);
    ends[1] = High(fds[1]);
    return ends[0].valid() && ends[1].valid();
}

// The input side: a socket pair, so that writing after the program has gone fails with EPIPE
// instead of raising SIGPIPE in the host.
bool MakeInputPair(Fd (&ends)[2]) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    ends[0] = High(fds[0]);
    ends[1] = High(fds[1]);
    if (ends[0].valid())
        ::shutdown(ends[0].get(), SHUT_WR); // the program's end only reads
    return ends[0].valid() && ends[1].valid();
}

void SetNonBlocking(const Fd &fd) {
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
}

class FileActions {
public:
    FileActions() { ok_ = posix_spawn_file_actions_init(&fa_) == 0; }
    ~FileActions() {
        if (ok_)
            posix_spawn_file_actions_destroy(&fa_);
    }
    FileActions(const FileActions &) = delete;
    FileActions &operator=(const FileActions &) = delete;
    posix_spawn_file_actions_t *get() { return ok_ ? &fa_ : nullptr; }

private:
    posix_spawn_file_actions_t fa_;
    bool ok_;
};

class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
    ~SpawnAttributes() {
        if (ok_)
            posix_spawnattr_destroy(&attr_);
    }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;
    posix_spawnattr_t *get() { return ok_ ? &attr_ : nullptr; }

private:
    posix_spawnattr_t attr_;
    bool ok_;
};

// Starts /bin/sh with `args` (after argv[0]). `fds` are what the program gets as descriptors 0
// to 3 (-1: /dev/null for 0 to 2, nothing for 3). `newGroup` puts it into a process group of its
// own. Returns the pid, or -1 with `error` set.
pid_t SpawnShell(const ProcessView &view, const std::vector<std::string> &args, const int (&fds)[4],
                 bool newGroup, SpawnError &error) {
    FileActions actions;
    SpawnAttributes attributes;
    if (!actions.get() || !attributes.get()) {
        error.number = ENOMEM;
        return -1;
    }
    for (int i = 0; i < 4; ++i) {
        if (fds[i] >= 0)
            posix_spawn_file_actions_adddup2(actions.get(), fds[i], i);
        else if (i < 3)
            posix_spawn_file_actions_addopen(actions.get(), i, "/dev/null",
                                             i == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    // Nothing else the host has open reaches the program.
    posix_spawn_file_actions_addclosefrom_np(actions.get(), fds[3] >= 0 ? 4 : 3);
    const std::string directory = view.CurrentDirectory();
    posix_spawn_file_actions_addchdir_np(actions.get(), directory.c_str());

    // The program starts with every signal at its default and none blocked, whatever the
    // host's thread had.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(attributes.get(), &none);
    posix_spawnattr_setsigdefault(attributes.get(), &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(attributes.get(), 0);
    }
    posix_spawnattr_setflags(attributes.get(), flags);

    std::vector<std::string> argStore;
    argStore.reserve(args.size() + 1);
    argStore.push_back("sh");
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore = view.Environment();
    std::vector<char *> envp;
    for (std::string &e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, "/bin/sh", actions.get(), attributes.get(), argv.data(), envp.data());
    if (rc != 0) {
        error.number = rc;
        return -1;
    }
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

bool HasNulls(std::string_view s) {
    return s.find('\0') != std::string_view::npos;
}

} // namespace

std::optional<int> RunAndWait(const ProcessView &view, std::string_view command,
                              SpawnError &error) {
    if (HasNulls(command)) {
        error.number = EINVAL;
        return std::nullopt;
    }
    const int fds[4] = {-1, -1, -1, -1};
    const pid_t pid = SpawnShell(view, {"-c", std::string(command)}, fds, false, error);
    if (pid < 0)
        return std::nullopt;
    return WaitExit(pid);
}

bool RunDetached(const ProcessView &view, std::string_view command, SpawnError &error) {
    if (HasNulls(command)) {
        error.number = EINVAL;
        return false;
    }
    // The outer shell starts the command in the background and ends; the command is then no
    // child of this process.
    const int fds[4] = {-1, -1, -1, -1};
    const pid_t pid =
        SpawnShell(view, {"-c", "/bin/sh -c \"$0\" &", std::string(command)}, fds, false, error);
    if (pid < 0)
        return false;
    WaitExit(pid);
    return true;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const ProcessView &view, std::string_view command,
                                                  SpawnError &error) {
    if (HasNulls(command)) {
        error.number = EINVAL;
        return nullptr;
    }
    Fd input[2], out[2], err[2], status[2];
    if (!MakeInputPair(input) || !MakePipe(out) || !MakePipe(err) || !MakePipe(status)) {
        error.number = errno ? errno : EMFILE;
        return nullptr;
    }
    // The outer shell keeps the program's input at 4 (a background list's input would be
    // /dev/null), starts a subshell that runs the command and reports its exit status on 3, reports
    // the subshell's pid, and ends.
    const char *outer =
        "exec 4<&0; ( /bin/sh -c \"$0\" <&4 3>&- 4<&-; echo \"x$?\" >&3 ) & echo \"p$!\" >&3";
    const int fds[4] = {input[0].get(), out[1].get(), err[1].get(), status[1].get()};
    const pid_t pid = SpawnShell(view, {"-c", outer, std::string(command)}, fds, true, error);
    if (pid < 0)
        return nullptr;
    WaitExit(pid);
    std::unique_ptr<ChildProcess> child(new ChildProcess);
    child->group_ = pid;
    child->input_ = std::move(input[1]);
    child->outputs_[Out] = std::move(out[0]);
    child->outputs_[Err] = std::move(err[0]);
    child->status_ = std::move(status[0]);
    for (const Fd *fd : {&child->input_, &child->outputs_[0], &child->outputs_[1], &child->status_})
        SetNonBlocking(*fd);
    // The subshell's pid comes first on the status pipe.
    while (child->pid_ == 0 && child->status_.valid())
        child->Pump(-1);
    return child;
}

ChildProcess::~ChildProcess() = default;

bool ChildProcess::Pump(int timeoutMs, bool writable) {
    pollfd polls[4];
    Fd *sources[4];
    int n = 0;
    for (Fd *fd : {&outputs_[0], &outputs_[1], &status_}) {
        if (fd->valid()) {
            polls[n] = {fd->get(), POLLIN, 0};
            sources[n++] = fd;
        }
    }
    if (writable && input_.valid()) {
        polls[n] = {input_.get(), POLLOUT, 0};
        sources[n++] = nullptr;
    }
    if (n == 0)
        return false;
    int ready;
    do {
        ready = ::poll(polls, static_cast<nfds_t>(n), timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return false;
    char chunk[65536];
    for (int i = 0; i < n; ++i) {
        if (!sources[i] || polls[i].revents == 0)
            continue;
        Fd &fd = *sources[i];
        std::string &into = &fd == &status_ ? statusText_ : buffers_[&fd == &outputs_[0] ? 0 : 1];
        for (;;) {
            const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
            if (got > 0) {
                into.append(chunk, static_cast<size_t>(got));
                if (static_cast<size_t>(got) < sizeof chunk)
                    break;
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            fd.Reset(); // end of the stream, or an error that ends it
            break;
        }
    }
    ParseStatus();
    return true;
}

void ChildProcess::ParseStatus() {
    size_t end;
    while ((end = statusText_.find('\n')) != std::string::npos) {
        const std::string line = statusText_.substr(0, end);
        statusText_.erase(0, end + 1);
        if (line.size() > 1 && line[0] == 'p')
            pid_ = static_cast<int32_t>(std::strtol(line.c_str() + 1, nullptr, 10));
        else if (line.size() > 1 && line[0] == 'x')
            exitCode_ = static_cast<int>(std::strtol(line.c_str() + 1, nullptr, 10));
    }
    if (!status_.valid() && pid_ == 0)
        pid_ = -1; // the shell ended before it could say
}

void ChildProcess::WaitFor(Stream stream, size_t bytes, bool line) {
    for (;;) {
        const std::string &b = buffers_[stream];
        if (b.size() >= bytes || (line && b.find('\n') != std::string::npos) || Ended(stream))
            return;
        Pump(-1);
    }
}

bool ChildProcess::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        if (!input_.valid())
            return false;
        const ssize_t n = ::send(input_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The program is not reading yet: take in what it writes meanwhile, so that it is
            // never stuck on a full output while this waits on its input.
            if (!Pump(-1, true) && !input_.valid())
                return false;
            continue;
        }
        return false;
    }
    return true;
}

bool ChildProcess::Done() {
    // Takes in what is waiting (a bounded number of rounds: a program that writes without pause
    // does not hold this check up).
    for (int round = 0; round < 64 && status_.valid() && Pump(0); ++round) {
    }
    return exitCode_.has_value() || !status_.valid();
}

int ChildProcess::ExitCode() {
    if (!Done())
        return 0;
    if (exitCode_)
        return *exitCode_;
    return terminated_ ? 128 + SIGTERM : -1;
}

void ChildProcess::Terminate() {
    if (Done())
        return;
    terminated_ = true;
    ::kill(-group_, SIGTERM);
}

} // namespace kestrun::scripting
