// The windowing system as the window-decorating exports use it. On Windows (window_win32.cpp):
// LoadImageW and WM_SETICON for icons, GetWindow(GW_OWNER), GetDC and GDI+ drawing. On X11
// (window_x11.cpp): a server reached through XCB, one connection per call, with the Session below;
// window handles are the server's window ids.
#pragma once

#include "kestrun/imaging/raster.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace kestrun::imaging::window {

using WindowId = uint32_t;

struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
};

// One connection to the windowing system, closed when the object goes. Failures of single
// requests (a window that does not exist, a missing extension) are swallowed: the operation then
// has no effect.
class Session {
public:
    virtual ~Session() = default;

    // The window's owner (the window it is transient for), if it names one.
    virtual std::optional<WindowId> Owner(WindowId window) = 0;
    // Makes `images` the window's icons (every size in one list); an empty list removes them.
    virtual void SetIcons(WindowId window, std::span<const Raster> images) = 0;
    // The size of the window's drawing area, or nothing when the window cannot be drawn on.
    virtual std::optional<Size> ClientSize(WindowId window) = 0;
    // Draws `premultiplied` (RGBA with colour already multiplied by alpha) with its top-left
    // corner at (x, y) of the window, blended over what is there. Returns once the drawing is done.
    virtual void Paint(WindowId window, int32_t x, int32_t y, const Raster &premultiplied) = 0;
};

// A session on the user's display, or null when there is none.
std::unique_ptr<Session> OpenSession();

// SetFormIcon and LoadPNG on the window whose handle the caller passed (null or 0: nothing is
// done), with the library's own folder for bare skin folder names.
void SetFormIconOn(const intptr_t *handle, std::string_view iconFile, std::string_view skinFolder,
                   std::string_view moduleFolder);
void LoadPngOn(const intptr_t *handle, std::string_view imageFile, int32_t left, int32_t top,
               int32_t width, int32_t height, std::string_view skinFolder,
               std::string_view moduleFolder);

} // namespace kestrun::imaging::window
