// Programs started by WScript.Shell: a command line run through /bin/sh -c with a script's
// environment and current directory, either waited for or left running with pipes to its
// standard streams.
#pragma once

#include "kestrun/automation/scripting/process_view.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun::scripting {

// An owned file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd &operator=(Fd &&o) noexcept {
        if (this != &o) {
            Reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Reset();

private:
    int fd_ = -1;
};

// Result of starting a program: errno of the failure, 0 on success.
struct SpawnError {
    int number = 0;
};

// Runs `command` and waits for it: its exit status (128 + the signal's number when a signal
// ended it). The program's standard streams are /dev/null. nullopt with `error` set when it could
// not be started.
std::optional<int> RunAndWait(const ProcessView &view, std::string_view command, SpawnError &error);

// Starts `command` without waiting: it runs on its own (its parent, a shell, ends at once and is
// collected here, so no process is left behind to collect). False when it could not be started.
bool RunDetached(const ProcessView &view, std::string_view command, SpawnError &error);

// A program started with pipes to its standard input, output and error. The program runs on its
// own as with RunDetached; its exit status arrives on a pipe of its own. Reading one output drains
// the other into memory, so a program that fills both pipes never stalls the reader.
class ChildProcess {
public:
    static std::unique_ptr<ChildProcess> Start(const ProcessView &view, std::string_view command,
                                               SpawnError &error);
    ~ChildProcess();

    enum Stream { Out = 0, Err = 1 };
    // Waits until `stream` holds at least `bytes` bytes, a line end (when `line`), or has ended.
    // The bytes received so far stay in Buffer(stream).
    void WaitFor(Stream stream, size_t bytes, bool line);
    std::string &Buffer(Stream stream) { return buffers_[stream]; }
    bool Ended(Stream stream) const { return !outputs_[stream].valid(); }

    // Writes to the program's input (waiting while its pipe is full). False when the program no
    // longer reads it.
    bool Write(std::string_view bytes);
    void CloseInput() { input_ = Fd(); }

    // True once the program has ended (checked without waiting).
    bool Done();
    int ExitCode(); // 0 while running
    int32_t ProcessId() const { return pid_; }
    // Ends the program and everything it started.
    void Terminate();

private:
    ChildProcess() = default;
    // Moves whatever the pipes hold into the buffers; waits up to `timeoutMs` (-1: without limit)
    // for something to arrive. `writable` also returns once the input can take more bytes.
    bool Pump(int timeoutMs, bool writable = false);
    void ParseStatus();

    Fd input_;
    Fd outputs_[2];
    Fd status_;
    std::string buffers_[2];
    std::string statusText_;
    int32_t pid_ = 0;
    int32_t group_ = 0;
    std::optional<int> exitCode_;
    bool terminated_ = false;
};

} // namespace kestrun::scripting
