// The imaging layer that stands in for GDI+: the flat operations the image exports use, with
// GDI+'s status values, UTF-16 paths and encoders found by MIME type. Images are decoded by the
// codecs of image_codecs.h (PNG, JPEG, BMP, GIF); the encoders write BMP (24-bit) and JPEG.
#pragma once

#include "kestrun/imaging/raster.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::imaging::gdiplus {

// GDI+'s status values (the ones this layer gives).
enum class Status : int {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    Win32Error = 7,
    FileNotFound = 10,
    UnknownImageFormat = 13,
};

struct StartupInput {
    uint32_t GdiplusVersion = 1;
    bool SuppressBackgroundThread = false;
    bool SuppressExternalCodecs = false;
};

// GdiplusStartup / GdiplusShutdown: the layer is started for the life of this object, and every
// image of the call is disposed of before it goes. The codecs here keep no state between calls,
// so starting and stopping have nothing to set up or tear down; the object marks the span.
class Session {
public:
    explicit Session(const StartupInput &input = StartupInput{});
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
};

// A decoded image. Disposing of it (GdipDisposeImage) is destroying it.
class Image {
public:
    explicit Image(Raster raster) : raster_(std::move(raster)) {}
    uint32_t Width() const { return raster_.width; }
    uint32_t Height() const { return raster_.height; }
    const Raster &Pixels() const { return raster_; }

private:
    Raster raster_;
};
using ImagePtr = std::unique_ptr<Image>;

// GdipCreateBitmapFromFile: decodes the file (format found by its content, not its name). On
// failure `bitmap` stays empty.
Status CreateBitmapFromFile(std::u16string_view path, ImagePtr &bitmap);

using Clsid = std::array<uint8_t, 16>;

// One installed encoder (the parts of ImageCodecInfo the library reads, and a name).
struct ImageCodecInfo {
    Clsid clsid;
    std::u16string formatDescription;
    std::u16string mimeType;
};

// GdipGetImageEncodersSize + GdipGetImageEncoders: the installed encoders, in a fixed order.
std::vector<ImageCodecInfo> GetImageEncoders();

// EncoderParameters: the one parameter the library passes, EncoderQuality (a long).
struct EncoderParameters {
    std::optional<int32_t> quality;
};

// GdipSaveImageToFile: encodes `image` with the encoder `encoder` and writes it to `path`,
// replacing an existing file. A null image, an unknown encoder or a write failure is not Ok.
Status SaveImageToFile(const Image *image, std::u16string_view path, const Clsid &encoder,
                       const EncoderParameters *parameters);

} // namespace kestrun::imaging::gdiplus
