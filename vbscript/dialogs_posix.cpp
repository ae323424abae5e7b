// MsgBox and InputBox on the desktop: a zenity dialog when a display is present, otherwise the
// answer a user would give by pressing Enter (OK, or the default text).
#include "interp.h"

#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace kestrun::vbscript {

namespace {

bool displayPresent() {
    const char *x = std::getenv("DISPLAY");
    const char *w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

// Runs zenity with `args`; returns its exit status (-1 when it could not run) and its output.
int runZenity(const std::vector<std::string> &args, std::string &out) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> all{"zenity"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "zenity", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (!WIFEXITED(status))
        return -1;
    int code = WEXITSTATUS(status);
    return code == 127 ? -1 : code;
}

class ZenityDialogs : public DialogHost {
public:
    int messageBox(const std::u16string &prompt, int buttons,
                   const std::u16string &title) override {
        constexpr int kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7;
        if (!displayPresent())
            return defaultMessageBoxAnswer(buttons);
        std::vector<std::string> args{"--no-markup", "--title=" + u16ToUtf8(title),
                                      "--text=" + u16ToUtf8(prompt)};
        int kind = buttons & 7;
        struct Choice {
            const char *label;
            int result;
        };
        std::vector<Choice> choices;
        switch (kind) {
        case 1:
            choices = {{"OK", kOk}, {"Cancel", kCancel}};
            break;
        case 2:
            choices = {{"Retry", kRetry}, {"Abort", kAbort}, {"Ignore", kIgnore}};
            break;
        case 3:
            choices = {{"Yes", kYes}, {"No", kNo}, {"Cancel", kCancel}};
            break;
        case 4:
            choices = {{"Yes", kYes}, {"No", kNo}};
            break;
        case 5:
            choices = {{"Retry", kRetry}, {"Cancel", kCancel}};
            break;
        default:
            break;
        }
        std::string out;
        if (choices.empty()) {
            int icon = buttons & 0x70;
            args.insert(args.begin(), icon == 16 ? "--error" : icon == 48 ? "--warning" : "--info");
            return runZenity(args, out) < 0 ? kOk : kOk;
        }
        args.insert(args.begin(), "--question");
        args.push_back(std::string("--ok-label=") + choices[0].label);
        args.push_back(std::string("--cancel-label=") + choices[1].label);
        if (choices.size() > 2)
            args.push_back(std::string("--extra-button=") + choices[2].label);
        int rc = runZenity(args, out);
        if (rc < 0)
            return defaultMessageBoxAnswer(kind);
        if (rc == 0)
            return choices[0].result;
        if (choices.size() > 2 && out.find(choices[2].label) != std::string::npos)
            return choices[2].result;
        return choices[1].result;
    }

    bool inputBox(const std::u16string &prompt, const std::u16string &title,
                  std::u16string &text) override {
        if (!displayPresent())
            return true;
        std::string out;
        int rc = runZenity({"--entry", "--title=" + u16ToUtf8(title), "--text=" + u16ToUtf8(prompt),
                            "--entry-text=" + u16ToUtf8(text)},
                           out);
        if (rc < 0)
            return true; // no dialog program: keep the default text
        if (rc != 0)
            return false;
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
            out.pop_back();
        text = utf8ToU16(out);
        return true;
    }
};

} // namespace

std::unique_ptr<DialogHost> makeDesktopDialogs() {
    return std::make_unique<ZenityDialogs>();
}

} // namespace kestrun::vbscript
