// GDI+ as the image exports use it: the flat operations, with GDI+'s status values, UTF-16 paths
// and encoders found by MIME type. On Windows this is GDI+ itself (gdiplus_seam_win32.cpp). Here
// (gdiplus_seam_posix.cpp) images are decoded by the codecs of image_codecs.h (PNG, JPEG, BMP,
// GIF) and the encoders write BMP (24-bit) and JPEG.
#pragma once

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
// image of the call is disposed of before it goes.
class Session {
public:
    explicit Session(const StartupInput &input = StartupInput{});
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

private:
    [[maybe_unused]] uintptr_t token_ = 0; // the startup token (Windows), 0 when the start failed
};

// A decoded image, defined by each implementation. Disposing of it (GdipDisposeImage) is
// destroying it.
class Image;
struct ImageDisposer {
    void operator()(Image *image) const;
};
using ImagePtr = std::unique_ptr<Image, ImageDisposer>;

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
