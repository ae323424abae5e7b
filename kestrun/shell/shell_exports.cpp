// ShowOpenFile, ShowSaveFile, ShowBrowserFolder, Win_CopyFileToClipBoard.
#include "kestrun.h"
#include "kestrun/interop/frame.h"
#include "kestrun/shell/clipboard.h"
#include "kestrun/shell/desktop_folder_seam.h"
#include "kestrun/shell/dialogs.h"

using namespace kestrun::interop;
namespace shell = kestrun::shell;

namespace {

// Owner windows are 32-bit window handles (X11 window ids on Linux); any other value means no
// owner.
uint64_t OwnerWindow(intptr_t handle) {
    return handle > 0 && uint64_t(handle) <= 0xFFFFFFFFu ? uint64_t(handle) : 0;
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL ShowOpenFile(intptr_t hwndOwner, BSTR *filter, BSTR *initialDir,
                                              BSTR *fileTitle, BSTR *separator,
                                              int32_t *multiSelect) {
    return GuardString([&] {
        const auto dialogs = shell::SystemDialogs();
        return StringResult(
            shell::ShowOpenFile(*dialogs, shell::DesktopFolder, OwnerWindow(hwndOwner),
                                RefString(filter), RefString(initialDir), RefString(fileTitle),
                                RefString(separator), multiSelect == nullptr ? 0 : *multiSelect));
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ShowSaveFile(intptr_t hwndOwner, BSTR *filter, BSTR *initialDir,
                                              BSTR *fileTitle, BSTR *defaultExt) {
    return GuardString([&] {
        const auto dialogs = shell::SystemDialogs();
        return StringResult(shell::ShowSaveFile(
            *dialogs, shell::DesktopFolder, OwnerWindow(hwndOwner), RefString(filter),
            RefString(initialDir), RefString(fileTitle), RefString(defaultExt)));
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ShowBrowserFolder(intptr_t hwndOwner, BSTR *initialDir,
                                                   BSTR *title) {
    return GuardString([&] {
        const auto dialogs = shell::SystemDialogs();
        return StringResult(shell::ShowBrowserFolder(*dialogs, shell::DesktopFolder,
                                                     OwnerWindow(hwndOwner), RefString(initialDir),
                                                     RefString(title)));
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL Win_CopyFileToClipBoard(const char *filePath) {
    return Guard(int32_t{0}, [&] {
        const auto clipboard = shell::SystemClipboard();
        return shell::CopyFileToClipboard(*clipboard, filePath, shell::RelativePathBase());
    });
}
