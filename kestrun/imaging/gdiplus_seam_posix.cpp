#include "kestrun/imaging/gdiplus_seam.h"

#include "kestrun/imaging/file_seam.h"
#include "kestrun/imaging/image_codecs.h"
#include "kestrun/imaging/raster.h"

#include <new>
#include <optional>

namespace kestrun::imaging::gdiplus {

// A bitmap made from a file. It keeps the file's bytes, so that the encoders can take the
// shortest way from them (a JPEG decoded straight into bitmap rows, bitmap rows compressed in
// place), and decodes them to RGBA only when an encoder needs the pixels.
class Image {
public:
    Image(std::string content, ImageFormat format)
        : content_(std::move(content)), format_(format) {}

    std::string_view Content() const { return content_; }
    ImageFormat Format() const { return format_; }

    // The decoded pixels; null when the file does not decode.
    const Raster *Pixels() const {
        if (!decoded_) {
            decoded_ = DecodeImage(content_);
        }
        return *decoded_ ? &**decoded_ : nullptr;
    }

private:
    std::string content_;
    ImageFormat format_;
    mutable std::optional<std::optional<Raster>> decoded_;
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
        const ImageFormat format = SniffFormat(*content);
        auto image = std::make_unique<Image>(std::move(*content), format);
        // A JPEG, or a bitmap whose rows can be read in place, is decoded by the encoder that
        // reads it (a JPEG that does not decode then fails the save); other files are decoded
        // now.
        const bool deferred = format == ImageFormat::Jpeg ||
                              (format == ImageFormat::Bmp && DirectBmpRows(image->Content()));
        if (!deferred && image->Pixels() == nullptr) {
            return Status::InvalidParameter;
        }
        bitmap.reset(image.release());
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
            if (image->Format() == ImageFormat::Jpeg) {
                auto bmp = DecodeJpegToBmp24(image->Content());
                if (!bmp) {
                    return Status::InvalidParameter;
                }
                encoded = std::move(*bmp);
            } else if (const Raster *pixels = image->Pixels()) {
                encoded = EncodeBmp24(*pixels);
            } else {
                return Status::InvalidParameter;
            }
        } else if (encoder == kJpegEncoder) {
            const int quality = parameters != nullptr && parameters->quality ? *parameters->quality
                                                                             : kDefaultJpegQuality;
            std::optional<std::string> jpeg;
            const auto rows = image->Format() == ImageFormat::Bmp ? DirectBmpRows(image->Content())
                                                                  : std::nullopt;
            if (rows) {
                jpeg = EncodeJpegFromBmpRows(*rows, quality);
            } else if (const Raster *pixels = image->Pixels()) {
                jpeg = EncodeJpeg(*pixels, quality);
            } else {
                return Status::InvalidParameter;
            }
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
