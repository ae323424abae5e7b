// SetFormIcon and LoadPNG over byte strings: where the file is, how the target rectangle is
// taken from the arguments, and how the image is scaled onto the window.
#pragma once

#include "kestrun/imaging/raster.h"
#include "kestrun/imaging/window_seam.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::imaging {

// The separator SkinFilePath puts between folders and the file name.
#ifdef _WIN32
inline constexpr char kSkinSeparator = '\\';
#else
inline constexpr char kSkinSeparator = '/';
#endif

// The ANSI path of `fileName` in a skin folder. A `skinFolder` with no backslash and no "//" (and,
// outside Windows, no leading "/") is a bare name: its folder is <moduleFolder>Skin\<skinFolder>.
// Any other value is the folder itself. The file name follows the folder after one separator.
std::string SkinFilePath(std::string_view moduleFolder, std::string_view skinFolder,
                         std::string_view fileName);

// The local file name of a skin path, or nothing when the path does not fit the 259 UTF-16 units
// a path may hold.
std::optional<std::string> SkinLocalPath(std::string_view ansiPath);

// The images of the icon file at an ANSI path (empty when it does not load).
std::vector<Raster> LoadIconImages(std::string_view ansiPath);

// The target rectangle: -1 for left or top means 0, -1 for width or height means the image's
// own size; every other value is kept as given.
struct TargetRect {
    int64_t left = 0;
    int64_t top = 0;
    int64_t width = 0;
    int64_t height = 0;
};
TargetRect ResolveTarget(int32_t left, int32_t top, int32_t width, int32_t height,
                         uint32_t imageWidth, uint32_t imageHeight);

// The part of `image` scaled (bilinear) into `target` that falls inside a canvas of the given
// size, premultiplied, with its top-left canvas position. A negative width or height mirrors the
// image into the span that ends at left or top. Nothing when no pixel is visible.
struct PlacedRaster {
    int32_t x = 0;
    int32_t y = 0;
    Raster pixels;
};
std::optional<PlacedRaster> ScaleIntoCanvas(const Raster &image, const TargetRect &target,
                                            window::Size canvas);

// The two exports' work on an open session, with the library's folder given.
void SetFormIcon(window::Session &session, window::WindowId window, std::string_view iconFile,
                 std::string_view skinFolder, std::string_view moduleFolder);
void LoadPng(window::Session &session, window::WindowId window, std::string_view imageFile,
             int32_t left, int32_t top, int32_t width, int32_t height, std::string_view skinFolder,
             std::string_view moduleFolder);

} // namespace kestrun::imaging
