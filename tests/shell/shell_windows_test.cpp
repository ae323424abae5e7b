// The shell exports on Windows: the file list and copy effect read back through the clipboard
// API, the dialog records, and the dialogs themselves driven from another thread. Wine without a
// display has a clipboard but no windows; the dialog tests skip there and run under Xvfb.
#include "kestrun/shell/clipboard_seam.h"
#include "kestrun/shell/dialogs_win32.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <thread>

namespace {

namespace fs = std::filesystem;
namespace shell = kestrun::shell;
using namespace std::chrono_literals;
using vbhost::Gbk;
using vbhost::String;
using vbhost::TakeText;

std::string Ansi(const std::wstring &wide) {
    if (wide.empty()) {
        return {};
    }
    const int need = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(need), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), need,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(std::string_view utf8) {
    const int need =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(need), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), need);
    return out;
}

// A private folder with a Chinese name, removed afterwards.
class Folder {
public:
    Folder() {
        path_ = fs::temp_directory_path() /
                (L"kestrun-外壳-" + std::to_wstring(std::random_device{}()));
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;
    std::wstring Path(std::string_view utf8Name = {}) const {
        return utf8Name.empty() ? path_.wstring() : (path_ / Wide(utf8Name)).wstring();
    }
    void Touch(std::string_view utf8Name) const { std::ofstream(path_ / Wide(utf8Name)) << "x"; }

private:
    fs::path path_;
};

// What the clipboard holds: the CF_HDROP names and record, and the "Preferred DropEffect" value.
struct ClipboardFiles {
    bool hasList = false;
    std::vector<std::wstring> names;   // read from the block itself
    std::vector<std::wstring> queried; // through DragQueryFileW (non-empty lists only)
    DROPFILES record{};
    SIZE_T blockSize = 0;
    std::optional<DWORD> effect;
    std::wstring text;
};

ClipboardFiles ReadClipboard() {
    ClipboardFiles files;
    if (!OpenClipboard(nullptr)) {
        ADD_FAILURE() << "the clipboard cannot be opened";
        return files;
    }
    if (HANDLE list = GetClipboardData(CF_HDROP)) {
        files.hasList = true;
        files.blockSize = GlobalSize(list);
        if (const auto *data = static_cast<const char *>(GlobalLock(list))) {
            std::memcpy(&files.record, data, sizeof files.record);
            // The names as the block holds them, up to the empty one that ends the list.
            std::wstring units((files.blockSize - sizeof files.record) / sizeof(wchar_t), L'\0');
            std::memcpy(units.data(), data + sizeof files.record, units.size() * sizeof(wchar_t));
            GlobalUnlock(list);
            for (size_t start = 0; start < units.size() && units[start] != L'\0';) {
                const size_t end = units.find(L'\0', start);
                files.names.push_back(units.substr(start, end - start));
                start = end == std::wstring::npos ? units.size() : end + 1;
            }
        }
        // What a program that pastes reads.
        const auto drop = static_cast<HDROP>(list);
        const UINT count = files.names.empty() ? 0 : DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            std::wstring name(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
            name.resize(DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
            files.queried.push_back(name);
        }
    }
    const UINT format = RegisterClipboardFormatW(L"Preferred DropEffect");
    if (HANDLE effect = GetClipboardData(format)) {
        if (const void *data = GlobalLock(effect)) {
            DWORD value = 0;
            std::memcpy(&value, data, sizeof value);
            files.effect = value;
            GlobalUnlock(effect);
        }
    }
    if (HANDLE text = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto *data = static_cast<const wchar_t *>(GlobalLock(text))) {
            files.text = data;
            GlobalUnlock(text);
        }
    }
    CloseClipboard();
    return files;
}

bool PutText(const std::wstring &text) {
    if (!OpenClipboard(nullptr)) {
        return false;
    }
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool placed = false;
    if (block != nullptr) {
        std::memcpy(GlobalLock(block), text.c_str(), bytes);
        GlobalUnlock(block);
        placed = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        if (!placed) {
            GlobalFree(block);
        }
    }
    CloseClipboard();
    return placed;
}

TEST(WindowsClipboard, FileListAndCopyEffectReadBack) {
    Folder dir;
    dir.Touch("报告.txt");
    // An existing file with a Chinese name: its wide path, the wide-name record, copy.
    const std::string path = Ansi(dir.Path("报告.txt"));
    ASSERT_EQ(Win_CopyFileToClipBoard(path.c_str()), 1);
    ClipboardFiles files = ReadClipboard();
    ASSERT_TRUE(files.hasList);
    EXPECT_EQ(files.names, std::vector<std::wstring>{dir.Path("报告.txt")});
    EXPECT_EQ(files.queried, files.names);
    EXPECT_EQ(files.record.pFiles, sizeof(DROPFILES));
    EXPECT_EQ(files.record.pt.x, 0);
    EXPECT_EQ(files.record.pt.y, 0);
    EXPECT_FALSE(files.record.fNC);
    EXPECT_TRUE(files.record.fWide);
    EXPECT_GE(files.blockSize, 2 * dir.Path("报告.txt").size() + 24);
    EXPECT_EQ(files.effect, std::optional<DWORD>(DROPEFFECT_COPY));

    // A missing file and a relative name go on the list as written; each call replaces the list.
    const std::string missing = Ansi(dir.Path("没有.txt"));
    EXPECT_EQ(Win_CopyFileToClipBoard(missing.c_str()), 1);
    EXPECT_EQ(ReadClipboard().names, std::vector<std::wstring>{dir.Path("没有.txt")});
    EXPECT_EQ(Win_CopyFileToClipBoard(Gbk("子目录\\文件.txt").c_str()), 1);
    EXPECT_EQ(ReadClipboard().names, std::vector<std::wstring>{L"子目录\\文件.txt"});

    // The empty string: an empty list, still offered as a copy.
    EXPECT_EQ(Win_CopyFileToClipBoard(""), 1);
    files = ReadClipboard();
    EXPECT_TRUE(files.hasList);
    EXPECT_TRUE(files.names.empty());
    EXPECT_EQ(files.blockSize, 24u);
    EXPECT_EQ(files.effect, std::optional<DWORD>(DROPEFFECT_COPY));

    // A null path leaves the clipboard as it was.
    ASSERT_TRUE(PutText(L"留下"));
    EXPECT_EQ(Win_CopyFileToClipBoard(nullptr), 0);
    files = ReadClipboard();
    EXPECT_FALSE(files.hasList);
    EXPECT_EQ(files.text, L"留下");

    // A huge path goes on the list whole.
    const std::string huge = "C:\\" + std::string(100000, 'x');
    EXPECT_EQ(Win_CopyFileToClipBoard(huge.c_str()), 1);
    files = ReadClipboard();
    ASSERT_EQ(files.names.size(), 1u);
    EXPECT_EQ(files.names[0].size(), huge.size());

    // Several files through the seam: all of them, in order.
    const auto clipboard = shell::SystemClipboard();
    EXPECT_TRUE(clipboard->PutFiles({"C:\\a.txt", "C:\\\xE4\xB8\xAD\\b.txt", "c"}));
    files = ReadClipboard();
    EXPECT_EQ(files.names, (std::vector<std::wstring>{L"C:\\a.txt", L"C:\\中\\b.txt", L"c"}));
    EXPECT_EQ(files.queried, files.names);
}

TEST(WindowsClipboard, HeldByAnotherThreadGivesZeroAndChangesNothing) {
    ASSERT_TRUE(PutText(L"原样"));
    std::promise<bool> opened;
    std::promise<void> release;
    // The holder opens the clipboard for a window of its own, as another program would (a
    // message-only window, which Wine makes also without a display).
    std::thread holder([&] {
        HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
        const bool open = window != nullptr && OpenClipboard(window) != FALSE;
        opened.set_value(open);
        release.get_future().wait_for(30s);
        if (open) {
            CloseClipboard();
        }
        if (window != nullptr) {
            DestroyWindow(window);
        }
    });
    const bool held = opened.get_future().get();
    const int32_t result = held ? Win_CopyFileToClipBoard("C:\\x.txt") : -1;
    release.set_value();
    holder.join();
    ASSERT_TRUE(held);
    EXPECT_EQ(result, 0);
    const ClipboardFiles files = ReadClipboard();
    EXPECT_FALSE(files.hasList);
    EXPECT_EQ(files.text, L"原样");
}

shell::DialogRequest Request(shell::DialogKind kind) {
    shell::DialogRequest request;
    request.kind = kind;
    request.owner = 0x1234;
    request.filter = std::u16string(u"Text\0*.txt\0All\0*.*\0\0", 20);
    request.initialFolder = u"C:\\Data";
    request.title = u"选择";
    request.defaultExtension = u"txt";
    return request;
}

TEST(WindowsDialogRecords, FileDialogsGetTheirFlagsBuffersAndFilter) {
    shell::FileDialogRecord open(Request(shell::DialogKind::Open));
    const OPENFILENAMEW &record = open.Record();
    EXPECT_EQ(record.lStructSize, sizeof(OPENFILENAMEW));
    EXPECT_EQ(record.Flags, 0x81800u);
    EXPECT_EQ(record.hwndOwner, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(record.nMaxFile, 26000u);
    EXPECT_EQ(record.lpstrFile[0], L'\0');
    EXPECT_EQ(record.nFilterIndex, 1u);
    EXPECT_EQ(std::wstring(record.lpstrFilter, 20), std::wstring(L"Text\0*.txt\0All\0*.*\0\0", 20));
    EXPECT_STREQ(record.lpstrInitialDir, L"C:\\Data");
    EXPECT_EQ(record.lpstrDefExt, nullptr);
    EXPECT_EQ(record.lpstrTitle, nullptr);
    EXPECT_EQ(record.lpstrFileTitle, nullptr);
    // What a confirmed dialog leaves: the path.
    wcscpy(open.Record().lpstrFile, L"C:\\Data\\甲.txt");
    EXPECT_EQ(open.Paths(), std::vector<std::u16string>{u"C:\\Data\\甲.txt"});

    shell::FileDialogRecord several(Request(shell::DialogKind::OpenMultiple));
    EXPECT_EQ(several.Record().Flags, 0x81A00u);
    EXPECT_EQ(several.Record().nMaxFile, 26000u);
    std::memcpy(several.Record().lpstrFile, L"C:\\Data\0a\0b\0", 13 * sizeof(wchar_t));
    several.Record().nFileOffset = 8;
    EXPECT_EQ(several.Paths(), (std::vector<std::u16string>{u"C:\\Data\\a", u"C:\\Data\\b"}));

    auto request = Request(shell::DialogKind::Save);
    request.filter.clear();
    request.owner = 0;
    request.initialFolder = std::u16string(300, u'x');
    shell::FileDialogRecord save(request);
    EXPECT_EQ(save.Record().Flags, 0x80000u);
    EXPECT_EQ(save.Record().nMaxFile, 260u);
    EXPECT_EQ(save.Record().lpstrFilter, nullptr);
    EXPECT_EQ(save.Record().hwndOwner, nullptr);
    EXPECT_STREQ(save.Record().lpstrDefExt, L"txt");
    EXPECT_EQ(wcslen(save.Record().lpstrInitialDir), 259u);
    EXPECT_TRUE(save.Paths().empty()); // nothing chosen
}

TEST(WindowsDialogRecords, FolderDialogStartsAtTheDesktopWithoutCallback) {
    shell::FolderDialogRecord folder(Request(shell::DialogKind::Folder));
    const BROWSEINFOW &record = folder.Record();
    EXPECT_EQ(record.ulFlags, 0x50u);
    EXPECT_EQ(record.pidlRoot, nullptr);
    EXPECT_EQ(record.lpfn, nullptr);
    EXPECT_EQ(record.pszDisplayName, folder.Path());
    EXPECT_STREQ(record.lpszTitle, L"选择");
    EXPECT_EQ(record.hwndOwner, reinterpret_cast<HWND>(0x1234));
    auto untitled = Request(shell::DialogKind::Folder);
    untitled.title.clear();
    shell::FolderDialogRecord plain(untitled);
    EXPECT_EQ(plain.Record().lpszTitle, nullptr);
}

// Whether this Wine (or Windows) can create windows at all: headless Wine cannot.
bool CanCreateWindows() {
    HWND probe =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) {
        return false;
    }
    DestroyWindow(probe);
    return true;
}

// Window enumeration callbacks are __stdcall on 32-bit Windows, which lambdas cannot be.
BOOL CALLBACK AddDialogWindow(HWND window, LPARAM list) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring_view(name) == L"#32770" && IsWindowVisible(window)) {
        reinterpret_cast<std::vector<HWND> *>(list)->push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK FindFolderTitle(HWND child, LPARAM found) {
    wchar_t text[64] = {};
    GetWindowTextW(child, text, 64);
    if (std::wstring_view(text) == L"选择一个文件夹") {
        *reinterpret_cast<std::wstring *>(found) = text;
    }
    return TRUE;
}

// The visible dialog windows (class #32770) of a thread, topmost first.
std::vector<HWND> DialogWindows(DWORD thread) {
    std::vector<HWND> found;
    EnumThreadWindows(thread, AddDialogWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Keeps this thread's windows answering while waiting for `ready`, up to `limit`.
bool PumpUntil(const std::function<bool()> &ready, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(20);
    }
    return true;
}

void Press(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

// The dialog's file name field (the combo box cmb13 of the explorer-style dialogs).
void TypeName(HWND dialog, const std::wstring &name) {
    SetDlgItemTextW(dialog, 0x47C, name.c_str());
}

struct Driven {
    std::string result;
    bool shown = false;
    bool leftOpen = false; // the dialog did not close after `act` and had to be cancelled
};

// Calls `call` on a thread of its own (the dialog's thread); once its dialog shows, `act` works
// it from here. Every wait is bounded: a dialog that stays open is cancelled, and a call that
// still does not return ends the test program.
Driven Drive(const std::function<BSTR()> &call, const std::function<void(HWND, DWORD)> &act) {
    Driven driven;
    std::promise<DWORD> threadId;
    std::packaged_task<std::string()> task([&] {
        threadId.set_value(GetCurrentThreadId());
        return TakeText(call());
    });
    auto result = task.get_future();
    std::thread worker(std::move(task));
    const DWORD thread = threadId.get_future().get();
    const auto finished = [&] { return result.wait_for(0s) == std::future_status::ready; };
    HWND dialog = nullptr;
    PumpUntil(
        [&] {
            const auto windows = DialogWindows(thread);
            dialog = windows.empty() ? nullptr : windows.front();
            return dialog != nullptr || finished();
        },
        30s);
    driven.shown = dialog != nullptr;
    if (dialog != nullptr) {
        act(dialog, thread);
        if (!PumpUntil(finished, 15s)) {
            driven.leftOpen = true;
            PumpUntil(
                [&] {
                    for (HWND window : DialogWindows(thread)) {
                        Press(window, IDCANCEL);
                    }
                    return finished();
                },
                15s);
        }
    }
    if (!PumpUntil(finished, 30s)) {
        ADD_FAILURE() << "the dialog call did not return";
        std::fflush(nullptr);
        std::_Exit(1); // a thread blocked in a dialog cannot be joined
    }
    worker.join();
    driven.result = result.get();
    return driven;
}

TEST(WindowsDialogsHeadless, WithoutWindowsTheCallsAnswerEmptyAtOnce) {
    if (CanCreateWindows()) {
        GTEST_SKIP() << "this display can show the dialogs: WindowsDialogs.* cover them";
    }
    String filter("Text|*.txt");
    String empty("");
    String separator("|");
    int32_t multiSelect = 1;
    const auto none = [](HWND, DWORD) { ADD_FAILURE() << "no dialog can show here"; };
    EXPECT_EQ(Drive(
                  [&] {
                      return ShowOpenFile(0, filter.ref(), empty.ref(), empty.ref(),
                                          separator.ref(), &multiSelect);
                  },
                  none)
                  .result,
              "");
    EXPECT_EQ(
        Drive([&] { return ShowSaveFile(0, filter.ref(), empty.ref(), empty.ref(), empty.ref()); },
              none)
            .result,
        "");
    EXPECT_EQ(Drive([&] { return ShowBrowserFolder(0, empty.ref(), empty.ref()); }, none).result,
              "");
    // Huge texts are converted and cut to the buffers, not read past.
    String huge(std::string(300000, 'a'));
    EXPECT_EQ(
        TakeText(ShowOpenFile(0, huge.ref(), huge.ref(), huge.ref(), huge.ref(), &multiSelect)),
        "");
    EXPECT_EQ(TakeText(ShowSaveFile(0, huge.ref(), huge.ref(), huge.ref(), huge.ref())), "");
    EXPECT_EQ(TakeText(ShowBrowserFolder(0, huge.ref(), huge.ref())), "");
    // Unset strings and a null flag are read as empty.
    EXPECT_EQ(TakeText(ShowOpenFile(0, nullptr, nullptr, nullptr, nullptr, nullptr)), "");
    EXPECT_EQ(TakeText(ShowSaveFile(0, nullptr, nullptr, nullptr, nullptr)), "");
    EXPECT_EQ(TakeText(ShowBrowserFolder(0, nullptr, nullptr)), "");
}

class WindowsDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanCreateWindows()) {
            GTEST_SKIP() << "Wine has no display here, so no window or dialog can be shown; "
                            "the test shell_windows_dialogs_test runs these under Xvfb";
        }
        dir_.Touch("甲.txt");
        dir_.Touch("乙.txt");
        dir_.Touch("丙.txt");
    }
    // A path in the test folder as code page 936 bytes.
    std::string InDir(std::string_view utf8Name = {}) const { return Ansi(dir_.Path(utf8Name)); }
    Folder dir_;
};

TEST_F(WindowsDialogs, OpenOneFileFromTheInitialFolderWithTheFilter) {
    String filter("Text|*.txt|All|*.*|");
    String initial(InDir());
    String title("t");
    String separator("|");
    int32_t multiSelect = 2; // anything but 1: one file
    std::wstring firstFilter;
    LRESULT filterCount = 0;
    const Driven driven = Drive(
        [&] {
            return ShowOpenFile(0, filter.ref(), initial.ref(), title.ref(), separator.ref(),
                                &multiSelect);
        },
        [&](HWND dialog, DWORD) {
            filterCount = SendDlgItemMessageW(dialog, 0x470, CB_GETCOUNT, 0, 0);
            wchar_t text[64] = {};
            SendDlgItemMessageW(dialog, 0x470, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
            firstFilter = text;
            TypeName(dialog, L"甲.txt");
            Press(dialog, IDOK);
        });
    ASSERT_TRUE(driven.shown);
    EXPECT_FALSE(driven.leftOpen);
    EXPECT_EQ(driven.result, InDir("甲.txt"));
    EXPECT_EQ(filterCount, 2);
    EXPECT_EQ(firstFilter, L"Text");
}

TEST_F(WindowsDialogs, OpenSeveralFilesJoinsFullPathsEachFollowedByTheSeparator) {
    String filter("");
    String initial(InDir());
    String empty("");
    String separator(";");
    int32_t multiSelect = 1;
    const Driven driven = Drive(
        [&] {
            return ShowOpenFile(0, filter.ref(), initial.ref(), empty.ref(), separator.ref(),
                                &multiSelect);
        },
        [&](HWND dialog, DWORD) {
            TypeName(dialog, L"\"甲.txt\" \"乙.txt\" \"丙.txt\"");
            Press(dialog, IDOK);
        });
    ASSERT_TRUE(driven.shown);
    EXPECT_FALSE(driven.leftOpen);
    EXPECT_EQ(driven.result, InDir("甲.txt") + ";" + InDir("乙.txt") + ";" + InDir("丙.txt") + ";");

    // One file in this mode: its path, followed by the separator.
    const Driven one = Drive(
        [&] {
            return ShowOpenFile(0, filter.ref(), initial.ref(), empty.ref(), separator.ref(),
                                &multiSelect);
        },
        [&](HWND dialog, DWORD) {
            TypeName(dialog, L"乙.txt");
            Press(dialog, IDOK);
        });
    EXPECT_EQ(one.result, InDir("乙.txt") + ";");
}

TEST_F(WindowsDialogs, OpenRefusesAMissingFileAndCancelAnswersEmpty) {
    String filter("");
    String initial(InDir());
    String empty("");
    int32_t multiSelect = 0;
    bool refused = false;
    const Driven driven = Drive(
        [&] {
            return ShowOpenFile(0, filter.ref(), initial.ref(), empty.ref(), empty.ref(),
                                &multiSelect);
        },
        [&](HWND dialog, DWORD thread) {
            TypeName(dialog, L"没有.txt");
            Press(dialog, IDOK);
            // The dialog says that the file does not exist, in a message box of its own.
            refused = PumpUntil([&] { return DialogWindows(thread).size() > 1; }, 10s);
            for (HWND window : DialogWindows(thread)) {
                if (window != dialog) {
                    Press(window, IDOK);
                }
            }
            PumpUntil([&] { return DialogWindows(thread).size() == 1; }, 10s);
            Press(dialog, IDCANCEL);
        });
    ASSERT_TRUE(driven.shown);
    EXPECT_TRUE(refused);
    EXPECT_EQ(driven.result, "");

    const Driven cancelled = Drive(
        [&] {
            return ShowOpenFile(0, filter.ref(), empty.ref(), empty.ref(), empty.ref(),
                                &multiSelect);
        },
        [&](HWND dialog, DWORD) { Press(dialog, IDCANCEL); });
    ASSERT_TRUE(cancelled.shown);
    EXPECT_FALSE(cancelled.leftOpen);
    EXPECT_EQ(cancelled.result, "");
}

TEST_F(WindowsDialogs, SaveCompletesTheExtensionAndDoesNotAskBeforeOverwriting) {
    String filter("Text|*.txt");
    String initial(InDir());
    String empty("");
    String extension("txt");
    const auto save = [&] {
        return ShowSaveFile(0, filter.ref(), initial.ref(), empty.ref(), extension.ref());
    };
    const auto typing = [](std::wstring name) {
        return [name](HWND dialog, DWORD) {
            TypeName(dialog, name);
            Press(dialog, IDOK);
        };
    };
    Driven driven = Drive(save, typing(L"报告"));
    ASSERT_TRUE(driven.shown);
    EXPECT_EQ(driven.result, InDir("报告.txt"));
    // An existing file comes back at once: no overwrite prompt keeps the dialog open.
    driven = Drive(save, typing(L"甲.txt"));
    EXPECT_FALSE(driven.leftOpen);
    EXPECT_EQ(driven.result, InDir("甲.txt"));
    driven = Drive(save, [](HWND dialog, DWORD) { Press(dialog, IDCANCEL); });
    EXPECT_EQ(driven.result, "");
}

TEST_F(WindowsDialogs, BrowseForFolderShowsTheTitleAndAnswersThePath) {
    String initial(InDir());
    String title(Gbk("选择一个文件夹"));
    std::wstring shownTitle;
    const auto browse = [&] { return ShowBrowserFolder(0, initial.ref(), title.ref()); };
    Driven driven = Drive(browse, [&](HWND dialog, DWORD) {
        EnumChildWindows(dialog, FindFolderTitle, reinterpret_cast<LPARAM>(&shownTitle));
        Press(dialog, IDCANCEL);
    });
    ASSERT_TRUE(driven.shown);
    EXPECT_EQ(shownTitle, L"选择一个文件夹");
    EXPECT_EQ(driven.result, "");

    // Confirmed at once: the tree starts at the desktop, whatever the folder argument said.
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
    driven = Drive(browse, [](HWND dialog, DWORD) { Press(dialog, IDOK); });
    EXPECT_FALSE(driven.leftOpen);
    EXPECT_EQ(driven.result, Ansi(desktop));
}

TEST_F(WindowsDialogs, AnOwnerWindowOwnsTheDialog) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    String empty("");
    HWND dialogOwner = nullptr;
    const Driven driven = Drive(
        [&] {
            return ShowSaveFile(static_cast<intptr_t>(reinterpret_cast<uintptr_t>(owner)),
                                empty.ref(), empty.ref(), empty.ref(), empty.ref());
        },
        [&](HWND dialog, DWORD) {
            dialogOwner = GetWindow(dialog, GW_OWNER);
            Press(dialog, IDCANCEL);
        });
    DestroyWindow(owner);
    ASSERT_TRUE(driven.shown);
    EXPECT_EQ(dialogOwner, owner);
    EXPECT_EQ(driven.result, "");
}

} // namespace
