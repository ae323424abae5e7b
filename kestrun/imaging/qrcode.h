// QR code symbols written as 24-bit BMP or JPEG files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun::imaging {

// The longest text accepted, in bytes.
inline constexpr size_t kMaxQrTextBytes = 1108;
// The path buffer the BMP file name is assembled in, terminator included.
inline constexpr size_t kQrPathBuffer = 260;
// Pixels per module side.
inline constexpr int kQrModulePixels = 8;

// The BMP file of a symbol `width` modules wide whose `modules` (width * width bytes, rows from
// the top, bit 0 set = dark) are drawn 8 x 8 pixels each, black on white, without a quiet zone:
// a 54-byte header with a negative height (top row first) and 24-bit pixels.
std::string RenderQrBitmap(int width, const unsigned char *modules);

// Encodes `text` (bytes as given, 8-bit mode, case kept) as a QR code symbol of at least
// version `size` (0 = smallest that fits) at error-correction level `level` (0 = L .. 3 = H)
// and writes it to `fileName`: a BMP for a ".bmp" name, a JPEG at `quality` for ".jpg"/".jpeg"
// (any case). An absent text or file name is nullopt. Returns "OK" or the message of the first
// failing check.
std::string MakeQRCode(std::optional<std::string_view> text,
                       std::optional<std::string_view> fileName, int32_t size, int32_t level,
                       int32_t quality);

} // namespace kestrun::imaging
