// The dialogs and the clipboard on a private X server. Dialogs are driven with xdotool; paths go
// in through the clipboard and the location field (ctrl+L), since typed text loses CJK
// characters. The clipboard is read back with xclip after the calling process has ended.
#include "desktop_session.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using vbhost::String;
using vbhost::TakeText;
using Clock = std::chrono::steady_clock;

namespace {

std::optional<std::string> Run(const std::vector<std::string> &argv, const std::string &input = "",
                               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return desktop_test::Run(argv, input, limit);
}

struct Free {
    void operator()(void *p) const { std::free(p); }
};

long Milliseconds(Clock::duration d) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// The id of the first window with exactly this title, waiting for it to appear.
std::string WaitForWindow(const std::string &title) {
    const auto found = Run({"xdotool", "search", "--sync", "--name", "^" + title + "$"}, "",
                           std::chrono::seconds(20));
    if (!found) {
        return {};
    }
    return found->substr(0, found->find('\n'));
}

bool WindowExists(const std::string &title) {
    const auto found = Run({"xdotool", "search", "--name", "^" + title + "$"});
    return found && !found->empty();
}

void PutOnClipboard(const std::string &text) {
    Run({"xclip", "-selection", "clipboard", "-i"}, text);
}

void Keys(const std::string &window, std::vector<std::string> keys) {
    std::vector<std::string> argv{"xdotool", "windowfocus", "--sync", window};
    for (auto &key : keys) {
        argv.push_back("key");
        argv.push_back(key);
        argv.push_back("sleep");
        argv.push_back("0.3");
    }
    Run(argv);
}

// Runs `steps` against the dialog titled `title` while `call` shows it; a dialog still open ten
// seconds after the steps is closed by force, so that a failed step cannot hang the test.
std::string WithDialog(const std::string &title, const std::function<std::string()> &call,
                       const std::function<void(const std::string &)> &steps) {
    std::atomic<bool> returned{false};
    const auto start = Clock::now();
    std::thread driver([&] {
        const std::string window = WaitForWindow(title);
        std::cout << "[ timing ] " << title << " dialog shown after "
                  << Milliseconds(Clock::now() - start) << " ms\n";
        if (!window.empty()) {
            steps(window);
        }
        for (int i = 0; i < 100 && !returned; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!returned) {
            Run({"xdotool", "search", "--name", "^" + title + "$", "windowkill"});
        }
    });
    std::string result = call();
    returned = true;
    driver.join();
    std::cout << "[ timing ] " << title << " dialog round trip "
              << Milliseconds(Clock::now() - start) << " ms\n";
    return result;
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    return parts;
}

xcb_atom_t Atom(xcb_connection_t *c, const std::string &name) {
    std::unique_ptr<xcb_intern_atom_reply_t, Free> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Whether the window's _NET_WM_STATE lists `state`.
bool HasState(xcb_connection_t *c, xcb_window_t window, const std::string &state) {
    const xcb_atom_t wanted = Atom(c, state);
    std::unique_ptr<xcb_get_property_reply_t, Free> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, Atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
        nullptr));
    if (!reply || reply->format != 32) {
        return false;
    }
    const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::find(atoms, atoms + count, wanted) != atoms + count;
}

// Children of this process that have ended but were not reaped.
int Zombies() {
    int count = 0;
    std::unique_ptr<DIR, int (*)(DIR *)> proc(opendir("/proc"), closedir);
    while (dirent *entry = readdir(proc.get())) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        const auto close = line.rfind(')');
        std::istringstream fields(line.substr(close + 2));
        char state = 0;
        long parent = 0;
        fields >> state >> parent;
        count += state == 'Z' && parent == long(getpid());
    }
    return count;
}

class ShellDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        session_ = desktop_test::Session::Start({"xdotool", "xclip"}, whyNot);
        if (!session_) {
            GTEST_SKIP() << whyNot;
        }
        data_ = session_->home() + "/data";
        ::mkdir(data_.c_str(), 0755);
        for (const char *name : {"a.txt", "b.TXT", "c.log", "\xE6\x8A\xA5\xE5\x91\x8A.txt"}) {
            std::ofstream(data_ + "/" + name) << "x";
        }
    }
    void TearDown() override { session_.reset(); }

    std::unique_ptr<desktop_test::Session> session_;
    std::string data_;
};

} // namespace

TEST_F(ShellDesktop, OpenReturnsThePathPastedIntoTheLocationField) {
    // An owner window of our own: the dialog must be transient for it and modal.
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t owner = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(c, owner);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    uint32_t transientFor = 0;
    bool modal = false;
    String filter("Text|*.txt");
    String empty("");
    int32_t multi = 0;
    const std::string chosen = WithDialog(
        "Open",
        [&] {
            return TakeText(ShowOpenFile(intptr_t(owner), filter.ref(), empty.ref(), empty.ref(),
                                         empty.ref(), &multi));
        },
        [&](const std::string &window) {
            std::unique_ptr<xcb_get_property_reply_t, Free> reply(xcb_get_property_reply(
                c,
                xcb_get_property(c, 0, xcb_window_t(std::stoul(window)), XCB_ATOM_WM_TRANSIENT_FOR,
                                 XCB_ATOM_WINDOW, 0, 1),
                nullptr));
            if (reply && xcb_get_property_value_length(reply.get()) == 4) {
                transientFor = *static_cast<uint32_t *>(xcb_get_property_value(reply.get()));
            }
            modal = HasState(c, xcb_window_t(std::stoul(window)), "_NET_WM_STATE_MODAL");
            PutOnClipboard(data_ + "/\xE6\x8A\xA5\xE5\x91\x8A.txt");
            Keys(window, {"ctrl+l", "ctrl+v", "Return"});
        });
    xcb_disconnect(c);
    EXPECT_EQ(transientFor, owner);
    EXPECT_TRUE(modal);
    // 报告 comes back in GBK.
    EXPECT_EQ(chosen, data_ + "/\xB1\xA8\xB8\xE6.txt");
}

TEST_F(ShellDesktop, OpenSeveralFilesJoinsThemWithTheSeparatorAfterEach) {
    String filter("Text|*.txt|All|*.*");
    String folder(data_);
    String empty("");
    String separator(";");
    int32_t multi = 1;
    const std::string chosen = WithDialog(
        "Open",
        [&] {
            return TakeText(
                ShowOpenFile(0, filter.ref(), folder.ref(), empty.ref(), separator.ref(), &multi));
        },
        [&](const std::string &window) {
            // The file list fills in after the window shows (later on a loaded machine): until
            // it has, Ctrl+A selects nothing and the dialog stays open, so the keys go again.
            Keys(window, {"ctrl+a", "Return"});
            for (int i = 0; i < 5 && WindowExists("Open"); ++i) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                if (WindowExists("Open")) {
                    Keys(window, {"ctrl+a", "Return"});
                }
            }
        });
    ASSERT_FALSE(chosen.empty());
    EXPECT_EQ(chosen.back(), ';');
    auto paths = Split(chosen, ';');
    std::sort(paths.begin(), paths.end());
    // The filter ignores case and is the first one, so c.log is not offered.
    EXPECT_EQ(paths, (std::vector<std::string>{data_ + "/a.txt", data_ + "/b.TXT",
                                               data_ + "/\xB1\xA8\xB8\xE6.txt"}));
}

TEST_F(ShellDesktop, OpenRefusesAMissingFileAndCancelGivesEmpty) {
    String empty("");
    String folder(data_);
    int32_t multi = 0;
    bool stayedOpen = false;
    const std::string chosen = WithDialog(
        "Open",
        [&] {
            return TakeText(
                ShowOpenFile(0, empty.ref(), folder.ref(), empty.ref(), empty.ref(), &multi));
        },
        [&](const std::string &window) {
            PutOnClipboard(data_ + "/missing.txt");
            Keys(window, {"ctrl+l", "ctrl+v", "Return"});
            stayedOpen = WindowExists("Open");
            for (int i = 0; i < 5 && WindowExists("Open"); ++i) {
                Keys(window, {"Escape"});
            }
        });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(chosen, "");
}

TEST_F(ShellDesktop, SaveAddsTheDefaultExtensionAndDoesNotAskBeforeOverwriting) {
    String filter("Text|*.txt");
    String folder(data_);
    String empty("");
    String extension("txt");
    const auto save = [&](const std::string &name) {
        return WithDialog(
            "Save As",
            [&] {
                return TakeText(
                    ShowSaveFile(0, filter.ref(), folder.ref(), empty.ref(), extension.ref()));
            },
            [&](const std::string &window) {
                PutOnClipboard(name);
                Keys(window, {"ctrl+a", "ctrl+v", "Return"});
            });
    };
    EXPECT_EQ(save("report"), data_ + "/report.txt");
    EXPECT_EQ(save("a.txt"), data_ + "/a.txt"); // exists: returned at once
}

TEST_F(ShellDesktop, BrowseForFolderReturnsTheChosenFolder) {
    String initial("/nowhere");
    // 选择文件夹 in GBK
    String title("\xD1\xA1\xD4\xF1\xCE\xC4\xBC\xFE\xBC\xD0");
    const std::string chosen = WithDialog(
        "Browse For Folder",
        [&] { return TakeText(ShowBrowserFolder(0, initial.ref(), title.ref())); },
        [&](const std::string &window) {
            PutOnClipboard(data_);
            Keys(window, {"ctrl+l", "ctrl+v", "Return"});
        });
    EXPECT_EQ(chosen, data_);
}

TEST_F(ShellDesktop, ClipboardHoldsTheFileAfterTheCallerHasEnded) {
    const std::string file = data_ + "/\xE6\x8A\xA5\xE5\x91\x8A.txt";
    const pid_t caller = fork();
    ASSERT_GE(caller, 0);
    if (caller == 0) {
        _exit(Win_CopyFileToClipBoard((data_ + "/\xB1\xA8\xB8\xE6.txt").c_str()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(caller, &status, 0), caller);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);

    const auto uris = ::Run({"xclip", "-o", "-selection", "clipboard", "-t", "text/uri-list"});
    ASSERT_TRUE(uris);
    EXPECT_EQ(*uris, "file://" + session_->home() + "/data/%E6%8A%A5%E5%91%8A.txt\r\n");
    const auto gnome =
        ::Run({"xclip", "-o", "-selection", "clipboard", "-t", "x-special/gnome-copied-files"});
    ASSERT_TRUE(gnome);
    EXPECT_EQ(*gnome, "copy\nfile://" + session_->home() + "/data/%E6%8A%A5%E5%91%8A.txt");
    const auto targets = ::Run({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"});
    ASSERT_TRUE(targets);
    EXPECT_NE(targets->find("application/x-kde-cutselection"), std::string::npos);

    // In this process: a relative path is made absolute, a missing file is listed, an empty
    // path gives an empty list; no helper is left unreaped.
    const auto start = Clock::now();
    ASSERT_EQ(chdir(data_.c_str()), 0);
    EXPECT_EQ(Win_CopyFileToClipBoard("missing.txt"), 1);
    std::cout << "[ timing ] clipboard call " << Milliseconds(Clock::now() - start) << " ms\n";
    EXPECT_EQ(*::Run({"xclip", "-o", "-selection", "clipboard", "-t", "text/uri-list"}),
              "file://" + session_->home() + "/data/missing.txt\r\n");
    EXPECT_EQ(Win_CopyFileToClipBoard(""), 1);
    EXPECT_EQ(*::Run({"xclip", "-o", "-selection", "clipboard", "-t", "text/uri-list"}), "");
    EXPECT_EQ(Win_CopyFileToClipBoard(nullptr), 0);
    EXPECT_EQ(Zombies(), 0);
    ASSERT_EQ(chdir("/"), 0);
}

TEST(ShellNoDisplay, DialogsAndClipboardGiveUpAtOnce) {
    const char *saved = std::getenv("DISPLAY");
    const std::string keep = saved ? saved : "";
    ::setenv("DISPLAY", ":9999", 1);
    String empty("");
    int32_t multi = 1;
    EXPECT_EQ(TakeText(ShowOpenFile(0, empty.ref(), empty.ref(), empty.ref(), empty.ref(), &multi)),
              "");
    EXPECT_EQ(TakeText(ShowOpenFile(0, nullptr, nullptr, nullptr, nullptr, nullptr)), "");
    EXPECT_EQ(TakeText(ShowSaveFile(0, nullptr, nullptr, nullptr, nullptr)), "");
    EXPECT_EQ(TakeText(ShowBrowserFolder(0, nullptr, nullptr)), "");
    EXPECT_EQ(Win_CopyFileToClipBoard("/tmp/x"), 0);
    EXPECT_EQ(Zombies(), 0);
    if (saved) {
        ::setenv("DISPLAY", keep.c_str(), 1);
    } else {
        ::unsetenv("DISPLAY");
    }
}
