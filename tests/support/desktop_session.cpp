#include "desktop_session.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace desktop_test {
namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    void Adopt(int fd) {
        Reset();
        fd_ = fd;
    }
    void Reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

struct Pipe {
    Fd read, write;
};

bool MakePipe(Pipe &pipe) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    pipe.read.Adopt(ends[0]);
    pipe.write.Adopt(ends[1]);
    return true;
}

// Waits for `pid` for at most `limit`; kills it when it takes longer. Its exit status, or -1.
int WaitBounded(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        ::usleep(5000);
    }
}

std::optional<std::string> Environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void Restore(const char *name, const std::optional<std::string> &value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

} // namespace

std::optional<std::string> FindProgram(const std::string &name) {
    const auto path = Environment("PATH").value_or("/usr/bin:/bin");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string candidate = path.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> Run(const std::vector<std::string> &argv, const std::string &input,
                               std::chrono::milliseconds limit) {
    const auto program = FindProgram(argv.at(0));
    if (!program) {
        return std::nullopt;
    }
    Pipe in, out;
    if (!MakePipe(in) || !MakePipe(out)) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read.get(), 0);
    posix_spawn_file_actions_adddup2(&actions, out.write.get(), 1);
    std::vector<char *> args;
    for (const auto &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program->c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return std::nullopt;
    }
    in.read.Reset();
    out.write.Reset();
    if (!input.empty()) {
        [[maybe_unused]] const auto written = ::write(in.write.get(), input.data(), input.size());
    }
    in.write.Reset();
    // Tools such as xclip leave a server process behind that keeps the output open: read only
    // until the started process itself is done.
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out.read.get(), POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
            const ssize_t got = ::read(out.read.get(), buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            output.append(buffer, size_t(got));
            continue;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            while (::poll(&p, 1, 0) > 0) {
                const ssize_t got = ::read(out.read.get(), buffer, sizeof buffer);
                if (got <= 0) {
                    break;
                }
                output.append(buffer, size_t(got));
            }
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                return output;
            }
            return std::nullopt;
        }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (WaitBounded(pid, std::max(left, std::chrono::milliseconds(1))) != 0) {
        return std::nullopt;
    }
    return output;
}

std::unique_ptr<Session> Session::Start(const std::vector<std::string> &programs,
                                        std::string &whyNot) {
    for (const auto &name : programs) {
        if (!FindProgram(name)) {
            whyNot = name + " is not installed";
            return nullptr;
        }
    }
    const auto xvfb = FindProgram("Xvfb");
    if (!xvfb) {
        whyNot = "Xvfb is not installed";
        return nullptr;
    }
    Pipe ready;
    if (!MakePipe(ready)) {
        whyNot = "no pipe";
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready.write.get(), 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> argv{*xvfb,        "-displayfd", "3",   "-screen", "0",
                                  "800x600x24", "-nolisten",  "tcp", "-noreset"};
    std::vector<char *> args;
    for (auto &a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    std::unique_ptr<Session> session(new Session());
    const int spawned =
        posix_spawn(&session->pid_, xvfb->c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ready.write.Reset();
    if (spawned != 0) {
        session->pid_ = -1;
        whyNot = "Xvfb did not start";
        return nullptr;
    }
    std::string number;
    char c;
    pollfd p{ready.read.get(), POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0 && ::read(ready.read.get(), &c, 1) == 1 && c != '\n') {
        number.push_back(c);
    }
    if (number.empty()) {
        whyNot = "Xvfb gave no display number";
        return nullptr;
    }
    session->display_ = ":" + number;
    char home[] = "/tmp/kestrun-desktop-XXXXXX";
    if (::mkdtemp(home) == nullptr) {
        whyNot = "no scratch home";
        return nullptr;
    }
    session->home_ = home;
    session->savedDisplay_ = Environment("DISPLAY");
    session->savedHome_ = Environment("HOME");
    ::setenv("DISPLAY", session->display_.c_str(), 1);
    ::setenv("HOME", home, 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    ::setenv("NO_AT_BRIDGE", "1", 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("WAYLAND_DISPLAY");
    return session;
}

Session::~Session() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        WaitBounded(pid_, std::chrono::seconds(5));
    }
    if (!display_.empty()) {
        Restore("DISPLAY", savedDisplay_);
        Restore("HOME", savedHome_);
    }
    if (!home_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(home_, ignored);
    }
}

} // namespace desktop_test
