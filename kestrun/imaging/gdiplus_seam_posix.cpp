#include "kestrun/imaging/gdiplus_seam.h"

#include "kestrun/imaging/file_seam.h"
#include "kestrun/imaging/image_codecs.h"
#include "kestrun/imaging/raster.h"

#include <new>

namespace kestrun::imaging::gdiplus {

class Image {
public:
    explicit Image(Raster raster) : raster_(std::move(raster)) {}
    const Raster &Pixels() const { return raster_; }

private:
    Raster raster_;
};

void ImageDisposer::operator()(Image *image) const {
    delete image;
}

namespace {

// The encoders' class identifiers: GDI+'s own values for its BMP and JPEG encoders.
constexpr Clsid kBmpEncoder = {0x00, 0xF4, 0x7C, 0x55, 0x04, 0x1A, 0xD3, 0x11,
                               0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E};
constexpr Clsid kJpegEncoder = {0x01, 0xF4, 0x7C, 0x55, 0x04, 0x1A, 0xD3, 0x11,
                                0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E};

// The quality the JPEG encoder uses when the caller passes none.
constexpr int kDefaultJpegQuality = 75;

} // namespace

// The codecs here keep no state between calls, so starting and stopping have nothing to set up or
// tear down; the session marks the span.
Session::Session(const StartupInput &) {}

Session::~Session() = default;

Status CreateBitmapFromFile(std::u16string_view path, ImagePtr &bitmap) {
    bitmap.reset();
    const std::string local = files::LocalPath(path);
    const auto content = files::ReadAll(local, kMaxImageFileBytes);
    if (!content) {
        return Status::FileNotFound;
    }
    if (SniffFormat(*content) == ImageFormat::Unknown) {
        return Status::UnknownImageFormat;
    }
    try {
        auto raster = DecodeImage(*content);
        if (!raster) {
            return Status::InvalidParameter;
        }
        bitmap.reset(new Image(std::move(*raster)));
    } catch (const std::bad_alloc &) {
        return Status::OutOfMemory;
    }
    return Status::Ok;
}

std::vector<ImageCodecInfo> GetImageEncoders() {
    return {
        ImageCodecInfo{kBmpEncoder, u"BMP", u"image/bmp"},
        ImageCodecInfo{kJpegEncoder, u"JPEG", u"image/jpeg"},
    };
}

Status SaveImageToFile(const Image *image, std::u16string_view path, const Clsid &encoder,
                       const EncoderParameters *parameters) {
    if (image == nullptr || path.empty()) {
        return Status::InvalidParameter;
    }
    std::string encoded;
    try {
        if (encoder == kBmpEncoder) {
            encoded = EncodeBmp24(image->Pixels());
        } else if (encoder == kJpegEncoder) {
            const int quality = parameters != nullptr && parameters->quality ? *parameters->quality
                                                                             : kDefaultJpegQuality;
            auto jpeg = EncodeJpeg(image->Pixels(), quality);
            if (!jpeg) {
                return Status::GenericError;
            }
            encoded = std::move(*jpeg);
        } else {
            return Status::InvalidParameter; // no such encoder
        }
    } catch (const std::bad_alloc &) {
        return Status::OutOfMemory;
    }
    const std::string local = files::LocalPath(path);
    files::Writer writer(local);
    if (!writer.IsOpen()) {
        return Status::Win32Error;
    }
    const bool written = writer.Write(encoded);
    if (!writer.Close() || !written) {
        return Status::Win32Error;
    }
    return Status::Ok;
}

} // namespace kestrun::imaging::gdiplus
