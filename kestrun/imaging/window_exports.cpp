// SetFormIcon, LoadPNG.
#include "kestrun.h"
#include "kestrun/imaging/window_decor.h"
#include "kestrun/interop/frame.h"

#include <optional>

using namespace kestrun::interop;
namespace window = kestrun::imaging::window;

namespace {

// A window handle from the caller's variable: a server window id, nothing for a null variable,
// 0, or a value no window id can have.
std::optional<window::WindowId> WindowFrom(const intptr_t *variable) {
    if (variable == nullptr || *variable <= 0 || uint64_t(*variable) > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return window::WindowId(*variable);
}

} // namespace

KESTRUN_EXPORT void KESTRUN_CALL SetFormIcon(intptr_t *hwnd, BSTR *iconFile, BSTR *skinFolder) {
    Guard(0, [&] {
        const auto id = WindowFrom(hwnd);
        if (!id) {
            return 0;
        }
        if (auto session = window::OpenSession()) {
            kestrun::imaging::SetFormIcon(*session, *id, RefString(iconFile), RefString(skinFolder),
                                          ModuleFolder());
        }
        return 0;
    });
}

KESTRUN_EXPORT void KESTRUN_CALL LoadPNG(intptr_t *hwnd, BSTR *imageFile, int32_t left, int32_t top,
                                         int32_t width, int32_t height, BSTR *skinFolder) {
    Guard(0, [&] {
        const auto id = WindowFrom(hwnd);
        if (!id) {
            return 0;
        }
        if (auto session = window::OpenSession()) {
            kestrun::imaging::LoadPng(*session, *id, RefString(imageFile), left, top, width, height,
                                      RefString(skinFolder), ModuleFolder());
        }
        return 0;
    });
}
