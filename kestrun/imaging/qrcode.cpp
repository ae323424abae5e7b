#include "kestrun/imaging/qrcode.h"

#include "kestrun/imaging/convert.h"
#include "kestrun/imaging/file_seam.h"
#include "kestrun/imaging/le_bytes.h"
#include "kestrun/imaging/messages.h"
#include "kestrun/interop/codepage.h"

#include <qrencode.h>

#include <cstring>
#include <memory>
#include <new>

namespace kestrun::imaging {
namespace {

constexpr size_t kMaxExtensionBytes = 5;
constexpr int32_t kMaxVersion = 40;

struct QrFree {
    void operator()(QRcode *code) const { QRcode_free(code); }
};
using QrPtr = std::unique_ptr<QRcode, QrFree>;

enum class Output { Bmp, Jpeg };

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char &c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

} // namespace

std::string RenderQrBitmap(int width, const unsigned char *modules) {
    const size_t side = static_cast<size_t>(width) * kQrModulePixels;
    const size_t rowBytes = side * 3; // 24 * width: always a multiple of 4, so no padding
    const size_t pixelBytes = rowBytes * side;
    std::string file;
    file.reserve(54 + pixelBytes);
    file += "BM";
    le::PutU32(file, static_cast<uint32_t>(54 + pixelBytes));
    le::PutU16(file, 0);
    le::PutU16(file, 0);
    le::PutU32(file, 54);
    le::PutU32(file, 40);
    le::PutI32(file, static_cast<int32_t>(side));
    le::PutI32(file, -static_cast<int32_t>(side)); // negative: top row first
    le::PutU16(file, 1);
    le::PutU16(file, 24);
    for (int i = 0; i < 6; ++i) {
        le::PutU32(file, 0); // compression, image size, resolutions, colours
    }
    file.append(pixelBytes, static_cast<char>(0xFF));
    char *pixels = file.data() + 54;
    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < width; ++x) {
            if ((modules[static_cast<size_t>(y) * width + x] & 1) == 0) {
                continue;
            }
            for (int dy = 0; dy < kQrModulePixels; ++dy) {
                char *row = pixels + (static_cast<size_t>(y) * kQrModulePixels + dy) * rowBytes;
                std::memset(row + static_cast<size_t>(x) * kQrModulePixels * 3, 0,
                            kQrModulePixels * 3);
            }
        }
    }
    return file;
}

std::string MakeQRCode(std::optional<std::string_view> text,
                       std::optional<std::string_view> fileName, int32_t size, int32_t level,
                       int32_t quality) {
    if (!text || !fileName) {
        return messages::kBadArguments;
    }
    // Texts end at their first zero byte, as they do at the boundary.
    text = interop::UpToZero(*text);
    fileName = interop::UpToZero(*fileName);
    if (size < 0 || size > kMaxVersion) {
        return messages::kBadSize;
    }
    if (text->size() > kMaxQrTextBytes) {
        return messages::kTextTooLong;
    }
    const size_t dot = fileName->rfind('.');
    if (dot == std::string_view::npos) {
        return messages::kBadFileName;
    }
    const std::string_view extension = fileName->substr(dot + 1);
    if (extension.size() > kMaxExtensionBytes) {
        return messages::kUnknownExtension;
    }
    const std::string lower = LowerAscii(extension);
    Output output;
    if (lower == "bmp") {
        output = Output::Bmp;
    } else if (lower == "jpg" || lower == "jpeg") {
        output = Output::Jpeg;
    } else {
        return std::string(messages::kUnsupportedPrefix) + lower + messages::kUnsupportedSuffix;
    }
    std::string bmpPath(*fileName);
    if (output == Output::Jpeg) {
        bmpPath += ".bmp";
    }
    if (bmpPath.size() + 1 > kQrPathBuffer) {
        return messages::kBadFileName; // does not fit the path buffer
    }

    // The encoder only knows levels 0 to 3; anything else is refused before it is called.
    if (level < QR_ECLEVEL_L || level > QR_ECLEVEL_H) {
        return messages::kEncodeFailed;
    }
    const std::string zeroTerminated(*text);
    const QrPtr symbol(QRcode_encodeString(zeroTerminated.c_str(), size,
                                           static_cast<QRecLevel>(level), QR_MODE_8, 1));
    if (symbol == nullptr) {
        return messages::kEncodeFailed;
    }
    std::string bitmap;
    try {
        bitmap = RenderQrBitmap(symbol->width, symbol->data);
    } catch (const std::bad_alloc &) {
        return messages::kTooMuchContent;
    }

    const std::string localBmp = files::LocalPath(bmpPath);
    files::Writer writer(localBmp);
    if (!writer.IsOpen()) {
        return messages::kCannotWrite;
    }
    // A write that fails (a full disk) would leave a broken file behind an "OK": report it.
    const bool written = writer.Write(bitmap);
    if (!writer.Close() || !written) {
        return messages::kCannotWrite;
    }
    bitmap.clear();
    bitmap.shrink_to_fit();

    if (output == Output::Bmp) {
        return messages::kOk;
    }
    const std::string converted = ConvertToJpeg(bmpPath, *fileName, quality);
    if (converted == messages::kOk) {
        files::Remove(localBmp);
        return messages::kOk;
    }
    return messages::kJpegStepFailed + converted;
}

} // namespace kestrun::imaging
