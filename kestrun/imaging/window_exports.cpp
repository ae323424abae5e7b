// SetFormIcon, LoadPNG.
#include "kestrun.h"
#include "kestrun/imaging/window_seam.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
namespace window = kestrun::imaging::window;

KESTRUN_EXPORT void KESTRUN_CALL SetFormIcon(intptr_t *hwnd, BSTR *iconFile, BSTR *skinFolder) {
    Guard(0, [&] {
        window::SetFormIconOn(hwnd, RefString(iconFile), RefString(skinFolder), ModuleFolder());
        return 0;
    });
}

KESTRUN_EXPORT void KESTRUN_CALL LoadPNG(intptr_t *hwnd, BSTR *imageFile, int32_t left, int32_t top,
                                         int32_t width, int32_t height, BSTR *skinFolder) {
    Guard(0, [&] {
        window::LoadPngOn(hwnd, RefString(imageFile), left, top, width, height,
                          RefString(skinFolder), ModuleFolder());
        return 0;
    });
}
