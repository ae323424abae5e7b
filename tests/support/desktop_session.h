// A private X server for desktop tests: Xvfb on a display number it picks itself
// (-displayfd), with DISPLAY, a scratch HOME and quiet GTK settings exported to this process
// and its children. Also runs the command-line tools the tests drive the desktop with.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace desktop_test {

// The full path of a program found on PATH, or nothing.
std::optional<std::string> FindProgram(const std::string &name);

// Runs a program (searched on PATH) with `input` on its standard input; its standard output,
// or nothing when it cannot be started, fails, or outlives `limit` (it is then killed).
std::optional<std::string> Run(const std::vector<std::string> &argv, const std::string &input = "",
                               std::chrono::milliseconds limit = std::chrono::seconds(20));

class Session {
public:
    // A running server, or null with `whyNot` saying which program is missing or failed.
    static std::unique_ptr<Session> Start(const std::vector<std::string> &programs,
                                          std::string &whyNot);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const std::string &display() const { return display_; }
    const std::string &home() const { return home_; }

private:
    Session() = default;
    int pid_ = -1;
    std::string display_;
    std::string home_;
    std::optional<std::string> savedDisplay_;
    std::optional<std::string> savedHome_;
};

} // namespace desktop_test
