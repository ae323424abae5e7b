#include "kestrun/imaging/image_reader_source.h"

#include "kestrun/imaging/barcode_errors.h"
#include "kestrun/imaging/file_seam.h"
#include "kestrun/imaging/image_codecs.h"

#include <algorithm>
#include <string>

namespace kestrun::imaging::barcode {
namespace {

// LodePNG's text for a file it could not open.
constexpr unsigned kLodePngCannotOpen = 78;

std::string LowerExtension(std::string_view fileName) {
    const size_t dot = fileName.rfind('.');
    std::string extension(dot == std::string_view::npos ? fileName : fileName.substr(dot + 1));
    for (char &c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return extension;
}

[[noreturn]] void ThrowLoading(std::string_view fileName) {
    throw IllegalArgumentException("Loading \"" + std::string(fileName) + "\" failed.");
}

} // namespace

ImageReaderSource::ImageReaderSource(int width, int height,
                                     std::shared_ptr<const std::vector<uint8_t>> image,
                                     int components)
    : width_(width), height_(height), image_(std::move(image)), components_(components) {}

std::shared_ptr<ImageReaderSource> ImageReaderSource::loadFromFile(std::string_view fileName) {
    const std::string extension = LowerExtension(fileName);
    const bool png = extension == "png";
    if (!png && extension != "jpg" && extension != "jpeg") {
        ThrowLoading(fileName);
    }
    const auto content = files::ReadAll(files::LocalPath(fileName), kMaxImageFileBytes);
    if (png) {
        if (!content) {
            throw IllegalArgumentException("Error while loading '" +
                                           PngErrorText(kLodePngCannotOpen) + "'");
        }
        auto decoded = DecodePngLuminance(*content);
        if (decoded.error != 0) {
            throw IllegalArgumentException("Error while loading '" + PngErrorText(decoded.error) +
                                           "'");
        }
        return fromLuminance(
            static_cast<int>(decoded.width), static_cast<int>(decoded.height),
            std::make_shared<const std::vector<uint8_t>>(std::move(decoded.luminance)));
    }
    auto decoded = content ? DecodeJpeg(*content) : std::nullopt;
    if (!decoded) {
        ThrowLoading(fileName);
    }
    Raster raster = std::move(*decoded);
    const int width = static_cast<int>(raster.width);
    const int height = static_cast<int>(raster.height);
    const int components = raster.components;
    auto image = std::make_shared<const std::vector<uint8_t>>(std::move(raster.rgba));
    return std::make_shared<ImageReaderSource>(width, height, std::move(image), components);
}

std::shared_ptr<ImageReaderSource>
ImageReaderSource::fromLuminance(int width, int height,
                                 std::shared_ptr<const std::vector<uint8_t>> luminance) {
    auto source = std::make_shared<ImageReaderSource>(width, height, nullptr, 4);
    source->plane_ = std::move(luminance);
    return source;
}

uint8_t ImageReaderSource::convertPixel(const uint8_t *pixel) const {
    switch (components_) {
    case 1:
    case 2:
        return pixel[0];
    case 3:
    case 4:
        return static_cast<uint8_t>((306u * pixel[0] + 601u * pixel[1] + 117u * pixel[2] + 512u) >>
                                    10);
    default:
        throw IllegalArgumentException("Unexpected image depth");
    }
}

std::vector<uint8_t> ImageReaderSource::getRow(int y, std::vector<uint8_t> row) const {
    if (y < 0 || y >= height_) {
        throw IllegalArgumentException("Requested row is outside the image: " + std::to_string(y));
    }
    if (row.size() < static_cast<size_t>(width_)) {
        row.assign(static_cast<size_t>(width_), 0);
    }
    if (plane_) {
        const auto *src = plane_->data() + static_cast<size_t>(y) * width_;
        std::copy(src, src + width_, row.begin());
        return row;
    }
    const uint8_t *src = image_->data() + static_cast<size_t>(y) * width_ * 4;
    for (int x = 0; x < width_; ++x) {
        row[static_cast<size_t>(x)] = convertPixel(src + static_cast<size_t>(x) * 4);
    }
    return row;
}

std::vector<uint8_t> ImageReaderSource::getMatrix() const {
    if (plane_) {
        return *plane_;
    }
    std::vector<uint8_t> matrix(static_cast<size_t>(width_) * height_);
    const uint8_t *src = image_->data();
    for (size_t i = 0; i < matrix.size(); ++i) {
        matrix[i] = convertPixel(src + i * 4);
    }
    return matrix;
}

std::shared_ptr<const std::vector<uint8_t>> ImageReaderSource::luminancePlane() const {
    if (plane_) {
        return plane_;
    }
    return std::make_shared<const std::vector<uint8_t>>(getMatrix());
}

} // namespace kestrun::imaging::barcode
