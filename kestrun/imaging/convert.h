// Image file conversion: any image the imaging layer reads, written as JPEG or BMP.
#pragma once

#include "kestrun/imaging/gdiplus_seam.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun::imaging {

// The encoder whose MIME type equals `mimeType` exactly: its class identifier and its index in
// the encoder list; nullopt when no encoder matches.
struct EncoderMatch {
    gdiplus::Clsid clsid;
    size_t index;
};
std::optional<EncoderMatch> FindEncoderByMimeType(std::u16string_view mimeType);

// Converts the image file `sourceFile` (ANSI path) into a JPEG file `targetFile` at `quality`
// (handed to the encoder, which clamps it to 0..100). Returns "OK", "文件不存在!" when the
// source does not exist, or "转换失败!" when it cannot be decoded or the target not written.
std::string ConvertToJpeg(std::string_view sourceFile, std::string_view targetFile,
                          int32_t quality);

// As ConvertToJpeg, writing a 24-bit BMP file.
std::string ConvertToBmp(std::string_view sourceFile, std::string_view targetFile);

} // namespace kestrun::imaging
