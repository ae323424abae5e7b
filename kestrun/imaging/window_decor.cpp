#include "kestrun/imaging/window_decor.h"

#include "kestrun/imaging/file_seam.h"
#include "kestrun/imaging/icon_codec.h"
#include "kestrun/imaging/image_codecs.h"
#include "kestrun/interop/codepage.h"

#include <algorithm>
#include <cmath>

namespace kestrun::imaging {
namespace {

// A path buffer of 260 UTF-16 units holds 259 and the terminator.
constexpr size_t kMaxPathUnits = 259;

bool IsBareName(std::string_view folder) {
    if (folder.find('\\') != std::string_view::npos ||
        folder.find("//") != std::string_view::npos) {
        return false;
    }
#ifdef _WIN32
    return true; // a single forward slash is not a separator here
#else
    return folder.empty() || folder.front() != '/'; // an absolute path
#endif
}

std::optional<std::string> ReadSkinFile(std::string_view ansiPath, size_t maxBytes) {
    const auto local = SkinLocalPath(ansiPath);
    if (!local) {
        return std::nullopt;
    }
    return files::ReadAll(*local, maxBytes);
}

// For each target position along one axis: the two source indices and the weight of the second.
struct Tap {
    uint32_t first = 0;
    uint32_t second = 0;
    float weight = 0;
};

std::vector<Tap> Taps(int64_t visibleStart, int64_t visibleEnd, int64_t start, int64_t length,
                      bool mirrored, uint32_t sourceLength) {
    std::vector<Tap> taps;
    taps.reserve(size_t(visibleEnd - visibleStart));
    const double ratio = double(sourceLength) / double(length);
    for (int64_t d = visibleStart; d < visibleEnd; ++d) {
        int64_t u = d - start;
        if (mirrored) {
            u = length - 1 - u;
        }
        double s = (double(u) + 0.5) * ratio - 0.5;
        s = std::clamp(s, 0.0, double(sourceLength - 1));
        Tap tap;
        tap.first = uint32_t(s);
        tap.second = std::min(tap.first + 1, sourceLength - 1);
        tap.weight = float(s - double(tap.first));
        taps.push_back(tap);
    }
    return taps;
}

} // namespace

std::string SkinFilePath(std::string_view moduleFolder, std::string_view skinFolder,
                         std::string_view fileName) {
    std::string path;
    if (IsBareName(skinFolder)) {
        path.append(moduleFolder).append("Skin").push_back(kSkinSeparator);
        path.append(skinFolder);
    } else {
        path.append(skinFolder);
    }
    path.push_back(kSkinSeparator);
    path.append(fileName);
    return path;
}

std::optional<std::string> SkinLocalPath(std::string_view ansiPath) {
    const std::u16string wide = interop::AnsiToWide(ansiPath);
    if (wide.size() > kMaxPathUnits) {
        return std::nullopt;
    }
    return files::LocalPath(std::u16string_view(wide));
}

std::vector<Raster> LoadIconImages(std::string_view ansiPath) {
    const auto content = ReadSkinFile(ansiPath, kMaxImageFileBytes);
    if (!content) {
        return {};
    }
    return DecodeIcon(*content);
}

TargetRect ResolveTarget(int32_t left, int32_t top, int32_t width, int32_t height,
                         uint32_t imageWidth, uint32_t imageHeight) {
    TargetRect rect;
    rect.left = left == -1 ? 0 : left;
    rect.top = top == -1 ? 0 : top;
    rect.width = width == -1 ? int64_t(imageWidth) : width;
    rect.height = height == -1 ? int64_t(imageHeight) : height;
    return rect;
}

std::optional<PlacedRaster> ScaleIntoCanvas(const Raster &image, const TargetRect &target,
                                            window::Size canvas) {
    if (image.width == 0 || image.height == 0 || target.width == 0 || target.height == 0 ||
        image.rgba.size() < uint64_t(image.width) * image.height * 4) {
        return std::nullopt;
    }
    const bool mirrorX = target.width < 0;
    const bool mirrorY = target.height < 0;
    const int64_t width = mirrorX ? -target.width : target.width;
    const int64_t height = mirrorY ? -target.height : target.height;
    const int64_t x0 = mirrorX ? target.left - width : target.left;
    const int64_t y0 = mirrorY ? target.top - height : target.top;
    const int64_t vx0 = std::max<int64_t>(x0, 0);
    const int64_t vy0 = std::max<int64_t>(y0, 0);
    const int64_t vx1 = std::min<int64_t>(x0 + width, canvas.width);
    const int64_t vy1 = std::min<int64_t>(y0 + height, canvas.height);
    if (vx0 >= vx1 || vy0 >= vy1 ||
        !DimensionsAllowed(uint64_t(vx1 - vx0), uint64_t(vy1 - vy0), kMaxPixels)) {
        return std::nullopt;
    }
    const auto columns = Taps(vx0, vx1, x0, width, mirrorX, image.width);
    const auto rows = Taps(vy0, vy1, y0, height, mirrorY, image.height);

    PlacedRaster placed;
    placed.x = int32_t(vx0);
    placed.y = int32_t(vy0);
    placed.pixels.width = uint32_t(vx1 - vx0);
    placed.pixels.height = uint32_t(vy1 - vy0);
    placed.pixels.components = 4;
    placed.pixels.rgba.resize(uint64_t(placed.pixels.width) * placed.pixels.height * 4);
    // Interpolation runs on premultiplied values so that transparent pixels lend no colour.
    const auto premultiplied = [&](uint32_t x, uint32_t y, float out[4]) {
        const uint8_t *p = &image.rgba[(uint64_t(y) * image.width + x) * 4];
        const float a = p[3] / 255.0f;
        out[0] = p[0] * a;
        out[1] = p[1] * a;
        out[2] = p[2] * a;
        out[3] = p[3];
    };
    uint8_t *dst = placed.pixels.rgba.data();
    for (const Tap &row : rows) {
        for (const Tap &column : columns) {
            float p00[4], p01[4], p10[4], p11[4];
            premultiplied(column.first, row.first, p00);
            premultiplied(column.second, row.first, p01);
            premultiplied(column.first, row.second, p10);
            premultiplied(column.second, row.second, p11);
            for (int c = 0; c < 4; ++c) {
                const float top = p00[c] + (p01[c] - p00[c]) * column.weight;
                const float bottom = p10[c] + (p11[c] - p10[c]) * column.weight;
                const float value = top + (bottom - top) * row.weight;
                dst[c] = uint8_t(std::clamp(std::lround(value), 0L, 255L));
            }
            dst += 4;
        }
    }
    return placed;
}

void SetFormIcon(window::Session &session, window::WindowId window, std::string_view iconFile,
                 std::string_view skinFolder, std::string_view moduleFolder) {
    const auto images = LoadIconImages(SkinFilePath(moduleFolder, skinFolder, iconFile));
    // The small and the big icon are one list here; a file that does not load removes both.
    session.SetIcons(window, images);
    if (const auto owner = session.Owner(window)) {
        session.SetIcons(*owner, images);
    }
}

void LoadPng(window::Session &session, window::WindowId window, std::string_view imageFile,
             int32_t left, int32_t top, int32_t width, int32_t height, std::string_view skinFolder,
             std::string_view moduleFolder) {
    const std::string path = SkinFilePath(moduleFolder, skinFolder, imageFile);
    const auto canvas = session.ClientSize(window);
    if (!canvas) {
        return;
    }
    const auto content = ReadSkinFile(path, kMaxImageFileBytes);
    if (!content) {
        return;
    }
    const auto image = DecodeImage(*content);
    if (!image) {
        return;
    }
    const TargetRect target = ResolveTarget(left, top, width, height, image->width, image->height);
    if (auto placed = ScaleIntoCanvas(*image, target, *canvas)) {
        session.Paint(window, placed->x, placed->y, placed->pixels);
    }
}

} // namespace kestrun::imaging
