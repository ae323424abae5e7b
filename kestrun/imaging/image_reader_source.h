// A luminance source over an image file: PNG or JPEG decoded to 4 bytes per pixel and turned
// into one byte of luminance per pixel on request.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrun::imaging::barcode {

class ImageReaderSource {
public:
    // `image` holds 4 * width * height bytes, rows from the top; `components` is the source's.
    ImageReaderSource(int width, int height, std::shared_ptr<const std::vector<uint8_t>> image,
                      int components);

    // A source over a luminance plane already made (width * height bytes): PNG files are decoded
    // straight to it. components() is 4, as for any PNG.
    static std::shared_ptr<ImageReaderSource>
    fromLuminance(int width, int height, std::shared_ptr<const std::vector<uint8_t>> luminance);

    // Loads `fileName` by its extension (the text after the last dot, or the whole name without
    // one; any case): "png" with the PNG decoder (LodePNG's error texts), "jpg"/"jpeg" with the
    // JPEG decoder. Throws
    // IllegalArgumentException with "Error while loading '<LodePNG's text>'" for a PNG LodePNG
    // rejects, and with "Loading \"<fileName>\" failed." for another extension or a JPEG that
    // cannot be read.
    static std::shared_ptr<ImageReaderSource> loadFromFile(std::string_view fileName);

    int getWidth() const { return width_; }
    int getHeight() const { return height_; }
    int components() const { return components_; }

    // The luminance of pixel row `y` (width bytes), stored into `row` when it is given and large
    // enough, otherwise into a new array. Throws IllegalArgumentException for a row outside the
    // image or an unexpected component count.
    std::vector<uint8_t> getRow(int y, std::vector<uint8_t> row = {}) const;

    // All luminance bytes, width * height, rows from the top.
    std::vector<uint8_t> getMatrix() const;

    // The same bytes shared rather than copied (made on the first call for a 4-byte image).
    std::shared_ptr<const std::vector<uint8_t>> luminancePlane() const;

private:
    uint8_t convertPixel(const uint8_t *pixel) const;

    int width_;
    int height_;
    std::shared_ptr<const std::vector<uint8_t>> image_; // 4 bytes per pixel, or null
    std::shared_ptr<const std::vector<uint8_t>> plane_; // 1 byte per pixel, or null
    int components_;
};

} // namespace kestrun::imaging::barcode
