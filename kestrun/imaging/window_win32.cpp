// The window seam on Windows: the icon file loaded with LoadImageW and handed to the window and
// its owner with WM_SETICON; the image loaded and drawn by GDI+ on the window's device context.
#include "kestrun/imaging/window_seam.h"

#include "kestrun/imaging/gdiplus_seam.h"
#include "kestrun/imaging/gdiplus_win32.h"
#include "kestrun/imaging/window_decor.h"
#include "kestrun/interop/codepage.h"

#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace kestrun::imaging::window {
namespace {

namespace flat = gdiplus::win32::flat;

// A path buffer of 260 UTF-16 units holds 259 and the terminator.
constexpr size_t kMaxPathUnits = 259;

// The window named by the caller's variable, when it names one.
HWND WindowFrom(const intptr_t *variable) {
    if (variable == nullptr || *variable == 0) {
        return nullptr;
    }
    const HWND window = reinterpret_cast<HWND>(*variable);
    return IsWindow(window) ? window : nullptr;
}

// The UTF-16 path of a skin file, or nothing when it does not fit the path buffer or holds a
// zero unit (which would name a different file).
std::optional<std::wstring> SkinWidePath(std::string_view moduleFolder, std::string_view skinFolder,
                                         std::string_view fileName) {
    const std::u16string wide =
        interop::AnsiToWide(SkinFilePath(moduleFolder, skinFolder, fileName));
    if (wide.size() > kMaxPathUnits || wide.find(u'\0') != std::u16string::npos) {
        return std::nullopt;
    }
    return std::wstring(wide.begin(), wide.end());
}

struct IconDestroyer {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using IconOwner = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;

void SendIcons(HWND window, HICON icon) {
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

} // namespace

void SetFormIconOn(const intptr_t *handle, std::string_view iconFile, std::string_view skinFolder,
                   std::string_view moduleFolder) {
    const HWND window = WindowFrom(handle);
    if (window == nullptr) {
        return;
    }
    IconOwner icon;
    if (const auto path = SkinWidePath(moduleFolder, skinFolder, iconFile)) {
        icon.reset(static_cast<HICON>(
            LoadImageW(nullptr, path->c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE)));
    }
    // A file that does not load gives no icon, which removes the window's icons.
    SendIcons(window, icon.get());
    if (const HWND owner = GetWindow(window, GW_OWNER)) {
        SendIcons(owner, icon.get());
    }
    // From here on the windows use the icon: it stays loaded for them.
    static_cast<void>(icon.release());
}

void LoadPngOn(const intptr_t *handle, std::string_view imageFile, int32_t left, int32_t top,
               int32_t width, int32_t height, std::string_view skinFolder,
               std::string_view moduleFolder) {
    // A null handle would be the whole screen to GetDC: only a real window is painted on.
    const HWND window = WindowFrom(handle);
    if (window == nullptr) {
        return;
    }
    const auto path = SkinWidePath(moduleFolder, skinFolder, imageFile);
    if (!path) {
        return;
    }
    const gdiplus::win32::WindowDc dc(window);
    if (dc.get() == nullptr) {
        return;
    }
    const gdiplus::Session session;
    Gdiplus::GpImage *loaded = nullptr;
    flat::GdipLoadImageFromFile(path->c_str(), &loaded);
    const gdiplus::win32::GpImageOwner image(loaded);
    Gdiplus::GpGraphics *made = nullptr;
    flat::GdipCreateFromHDC(dc.get(), &made);
    const gdiplus::win32::GpGraphicsOwner graphics(made);
    if (!image || !graphics) {
        return; // a file that does not load draws nothing
    }
    UINT imageWidth = 0;
    UINT imageHeight = 0;
    flat::GdipGetImageWidth(image.get(), &imageWidth);
    flat::GdipGetImageHeight(image.get(), &imageHeight);
    const TargetRect target = ResolveTarget(left, top, width, height, imageWidth, imageHeight);
    flat::GdipDrawImageRectI(graphics.get(), image.get(), INT(target.left), INT(target.top),
                             INT(target.width), INT(target.height));
    // The graphics, the image, GDI+ and the device context go in this order.
}

} // namespace kestrun::imaging::window
