// Owners of GDI+ flat-API objects for the Windows sources of the imaging family: each object is
// disposed of when its owner goes, so every exit of a call releases what it made.
#pragma once

#include <windows.h>

#include <objidl.h> // PROPID, which the GDI+ headers use

#include <gdiplus.h>

#include <memory>
#include <type_traits>

namespace kestrun::imaging::gdiplus::win32 {

namespace flat = Gdiplus::DllExports;

struct GpImageDisposer {
    void operator()(Gdiplus::GpImage *image) const { flat::GdipDisposeImage(image); }
};
using GpImageOwner = std::unique_ptr<Gdiplus::GpImage, GpImageDisposer>;

struct GpGraphicsDeleter {
    void operator()(Gdiplus::GpGraphics *graphics) const { flat::GdipDeleteGraphics(graphics); }
};
using GpGraphicsOwner = std::unique_ptr<Gdiplus::GpGraphics, GpGraphicsDeleter>;

// A device context from GetDC, released with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_ != nullptr) {
            ReleaseDC(window_, dc_);
        }
    }
    WindowDc(const WindowDc &) = delete;
    WindowDc &operator=(const WindowDc &) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

} // namespace kestrun::imaging::gdiplus::win32
