// Test helpers for driving programs as a user does: a scratch folder and a shell command whose
// exit status and output are captured.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(std::string_view prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string operator/(std::string_view name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct CommandResult {
    int status = -1; // the exit status, or -1 when the command did not exit normally
    std::string output;
};

// Runs `command` through /bin/sh and collects its standard output (and standard error when the
// command itself redirects it).
CommandResult RunCommand(const std::string &command);

// `text` quoted for /bin/sh.
std::string ShellQuote(std::string_view text);

// Writes `text` to the file at `path`, replacing it.
void WriteFile(const std::string &path, std::string_view text);

} // namespace testsupport
