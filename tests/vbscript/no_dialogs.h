// Keeps desktop dialogs from waiting for a user while a test runs. Without a display the
// dialogs answer by themselves; on a Windows desktop a watcher presses each message box's or
// input box's default button (as Enter would) as soon as it appears, so a test never hangs.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <thread>
#else
#include <cstdlib>
#endif

namespace vbtest {

#ifdef _WIN32
class NoDesktopDialogs {
public:
    NoDesktopDialogs()
        : watcher_([this] {
              while (!stop_) {
                  EnumWindows(PressDefault, 0);
                  Sleep(20);
              }
          }) {}
    ~NoDesktopDialogs() {
        stop_ = true;
        watcher_.join();
    }
    NoDesktopDialogs(const NoDesktopDialogs &) = delete;
    NoDesktopDialogs &operator=(const NoDesktopDialogs &) = delete;

private:
    static BOOL CALLBACK PressDefault(HWND window, LPARAM) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t name[16] = {};
        if (process != GetCurrentProcessId() || !IsWindowVisible(window) ||
            GetClassNameW(window, name, 16) == 0 || std::wcscmp(name, L"#32770") != 0)
            return TRUE;
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer);
        const WORD id = HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : IDOK;
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
        return TRUE;
    }

    std::atomic<bool> stop_{false};
    std::thread watcher_;
};
#else
class NoDesktopDialogs {
public:
    NoDesktopDialogs() {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
};
#endif

} // namespace vbtest
