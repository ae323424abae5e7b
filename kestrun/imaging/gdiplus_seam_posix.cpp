#include "kestrun/imaging/gdiplus_seam.h"

#include "kestrun/imaging/file_seam.h"
#include "kestrun/imaging/image_codecs.h"
#include "kestrun/imaging/raster.h"
#include "kestrun/interop/regular_file_seam.h"

#include <algorithm>
#include <new>
#include <optional>

#include <unistd.h>

namespace kestrun::imaging::gdiplus {

// A bitmap made from a file. It keeps the file's bytes, so that the encoders can take the
// shortest way from them (a JPEG decoded straight into bitmap rows, bitmap rows compressed in
// place), and decodes them to RGBA only when an encoder needs the pixels. A bitmap whose rows
// the JPEG encoder can read as they are stays in its file (open) until something needs it
// whole: the encoder then reads its rows a block at a time.
class Image {
public:
    Image(std::string content, ImageFormat format)
        : content_(std::move(content)), format_(format) {}
    Image(platform::FileHandle file, uint64_t size, std::string head, const BmpRows &rows)
        : content_(std::move(head)), format_(ImageFormat::Bmp), file_(std::move(file)),
          fileSize_(size), fileRows_(rows) {}

    ImageFormat Format() const { return format_; }

    // The file's bytes (read whole now if the file was left where it is).
    std::string_view Content() const {
        if (file_) {
            ReadRest();
        }
        return content_;
    }

    // The rows of a bitmap left in its file; null otherwise.
    const BmpRows *FileRows() const { return file_ ? &*fileRows_ : nullptr; }

    // Reads exactly `size` bytes of the file left open at `offset`.
    bool ReadAt(uint64_t offset, char *buffer, size_t size) const {
        while (size > 0) {
            const ssize_t n = ::pread(file_.get(), buffer, size, static_cast<off_t>(offset));
            if (n <= 0) {
                return false; // an error, or the file has shrunk
            }
            buffer += n;
            size -= static_cast<size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }

    // The decoded pixels; null when the file does not decode.
    const Raster *Pixels() const {
        if (!decoded_) {
            decoded_ = DecodeImage(Content());
        }
        return *decoded_ ? &**decoded_ : nullptr;
    }

private:
    // The rest of a file left open, as ReadAll reads it (a file that shrank keeps what was read).
    void ReadRest() const {
        size_t at = content_.size(); // the first bytes are there already
        content_.resize(static_cast<size_t>(fileSize_));
        while (at < content_.size()) {
            const ssize_t n = ::pread(file_.get(), content_.data() + at, content_.size() - at,
                                      static_cast<off_t>(at));
            if (n <= 0) {
                break;
            }
            at += static_cast<size_t>(n);
        }
        content_.resize(at);
        file_.Close();
        fileRows_.reset();
    }

    mutable std::string content_;
    ImageFormat format_;
    mutable platform::FileHandle file_;
    uint64_t fileSize_ = 0;
    mutable std::optional<BmpRows> fileRows_;
    mutable std::optional<std::optional<Raster>> decoded_;
};

void ImageDisposer::operator()(Image *image) const {
    delete image;
}

namespace {

// Bytes read first from an image file: a bitmap's headers fit many times over.
constexpr size_t kHeadBytes = 64 * 1024;

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
    platform::FileHandle file =
        local.empty() ? platform::FileHandle() : platform::OpenRegularForReading(local);
    const std::optional<uint64_t> size = file ? platform::FileSize(file) : std::nullopt;
    if (!size || *size > kMaxImageFileBytes) {
        return Status::FileNotFound;
    }
    try {
        // The first bytes tell the format (and hold a bitmap's headers); the rest is read only
        // when it is needed as a whole.
        std::string content(static_cast<size_t>(std::min<uint64_t>(*size, kHeadBytes)), '\0');
        size_t done = 0;
        while (done < content.size()) {
            const long n = platform::ReadSome(file, content.data() + done, content.size() - done);
            if (n <= 0) {
                break; // the file shrank or failed: keep what was read
            }
            done += static_cast<size_t>(n);
        }
        content.resize(done);
        const ImageFormat format = SniffFormat(content);
        if (format == ImageFormat::Unknown) {
            return Status::UnknownImageFormat;
        }
        if (format == ImageFormat::Bmp && done == content.size() && *size > done) {
            if (const auto rows = DirectBmpLayout(content, *size)) {
                bitmap.reset(new Image(std::move(file), *size, std::move(content), *rows));
                return Status::Ok;
            }
        }
        // Everything else is read whole, as the rest of the library reads files.
        content.resize(static_cast<size_t>(*size));
        while (done < content.size()) {
            const long n = platform::ReadSome(file, content.data() + done, content.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        content.resize(done);
        auto image = std::make_unique<Image>(std::move(content), format);
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
