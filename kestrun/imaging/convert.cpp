#include "kestrun/imaging/convert.h"

#include "kestrun/imaging/file_seam.h"
#include "kestrun/imaging/messages.h"
#include "kestrun/interop/codepage.h"

namespace kestrun::imaging {
namespace {

std::string Convert(std::string_view sourceFile, std::string_view targetFile,
                    std::u16string_view mimeType, const gdiplus::EncoderParameters *parameters) {
    if (!files::Exists(sourceFile)) {
        return messages::kFileMissing;
    }
    gdiplus::Status saved = gdiplus::Status::GenericError;
    {
        const gdiplus::Session session;
        std::u16string source = interop::AnsiToWide(sourceFile);
        std::u16string target = interop::AnsiToWide(targetFile);
        gdiplus::ImagePtr bitmap;
        gdiplus::CreateBitmapFromFile(source, bitmap);
        // A missing encoder or bitmap shows up as a failed save.
        if (const auto encoder = FindEncoderByMimeType(mimeType)) {
            saved = gdiplus::SaveImageToFile(bitmap.get(), target, encoder->clsid, parameters);
        }
        // Paths, then the bitmap, then the session, in this order.
        source.clear();
        target.clear();
        bitmap.reset();
    }
    return saved == gdiplus::Status::Ok ? messages::kOk : messages::kConversionFailed;
}

} // namespace

std::optional<EncoderMatch> FindEncoderByMimeType(std::u16string_view mimeType) {
    const auto encoders = gdiplus::GetImageEncoders();
    for (size_t i = 0; i < encoders.size(); ++i) {
        if (encoders[i].mimeType == mimeType) {
            return EncoderMatch{encoders[i].clsid, i};
        }
    }
    return std::nullopt;
}

std::string ConvertToJpeg(std::string_view sourceFile, std::string_view targetFile,
                          int32_t quality) {
    const gdiplus::EncoderParameters parameters{quality};
    return Convert(sourceFile, targetFile, u"image/jpeg", &parameters);
}

std::string ConvertToBmp(std::string_view sourceFile, std::string_view targetFile) {
    return Convert(sourceFile, targetFile, u"image/bmp", nullptr);
}

} // namespace kestrun::imaging
