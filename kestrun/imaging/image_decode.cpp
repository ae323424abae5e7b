// Choosing a decoder by the leading bytes of a file.
#include "kestrun/imaging/image_codecs.h"

namespace kestrun::imaging {

ImageFormat SniffFormat(std::string_view file) {
    if (file.starts_with("\x89PNG\r\n\x1A\n")) {
        return ImageFormat::Png;
    }
    if (file.starts_with("\xFF\xD8")) {
        return ImageFormat::Jpeg;
    }
    if (file.starts_with("BM")) {
        return ImageFormat::Bmp;
    }
    if (file.starts_with("GIF87a") || file.starts_with("GIF89a")) {
        return ImageFormat::Gif;
    }
    return ImageFormat::Unknown;
}

std::optional<Raster> DecodeImage(std::string_view file, uint64_t maxPixels) {
    switch (SniffFormat(file)) {
    case ImageFormat::Png: {
        auto png = DecodePng(file, maxPixels);
        if (png.error != 0) {
            return std::nullopt;
        }
        return std::move(png.raster);
    }
    case ImageFormat::Jpeg:
        return DecodeJpeg(file, maxPixels);
    case ImageFormat::Bmp:
        return DecodeBmp(file, maxPixels);
    case ImageFormat::Gif:
        return DecodeGif(file, maxPixels);
    case ImageFormat::Unknown:
        break;
    }
    return std::nullopt;
}

} // namespace kestrun::imaging
