// The image exports' GDI+ operations on Windows: GDI+ itself, through its flat API.
#include "kestrun/imaging/gdiplus_seam.h"

#include "kestrun/imaging/gdiplus_win32.h"

#include <cstring>
#include <new>

namespace kestrun::imaging::gdiplus {

// The bitmap GdipCreateBitmapFromFile made; GDI+ keeps the source file open while it lives.
class Image {
public:
    explicit Image(win32::GpImageOwner image) : image_(std::move(image)) {}
    Gdiplus::GpImage *get() const { return image_.get(); }

private:
    win32::GpImageOwner image_;
};

void ImageDisposer::operator()(Image *image) const {
    delete image;
}

namespace {

namespace flat = win32::flat;

// EncoderQuality {1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}.
constexpr GUID kEncoderQuality = {
    0x1D5BE4B5, 0xFA4A, 0x452D, {0x9C, 0xDD, 0x5D, 0xB3, 0x51, 0x05, 0xE7, 0xEB}};

std::wstring WidePath(std::u16string_view path) {
    return std::wstring(path.begin(), path.end());
}

} // namespace

Session::Session(const StartupInput &input) {
    Gdiplus::GdiplusStartupInput startup;
    startup.GdiplusVersion = input.GdiplusVersion;
    startup.DebugEventCallback = nullptr;
    startup.SuppressBackgroundThread = input.SuppressBackgroundThread ? TRUE : FALSE;
    startup.SuppressExternalCodecs = input.SuppressExternalCodecs ? TRUE : FALSE;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &startup, nullptr) == Gdiplus::Ok) {
        token_ = token;
    }
}

Session::~Session() {
    if (token_ != 0) {
        Gdiplus::GdiplusShutdown(token_);
    }
}

Status CreateBitmapFromFile(std::u16string_view path, ImagePtr &bitmap) {
    bitmap.reset();
    // A path with a zero unit in it names a different, shorter file: refuse it.
    if (path.find(u'\0') != std::u16string_view::npos) {
        return Status::InvalidParameter;
    }
    const std::wstring wide = WidePath(path);
    Gdiplus::GpBitmap *made = nullptr;
    const Gdiplus::GpStatus status = flat::GdipCreateBitmapFromFile(wide.c_str(), &made);
    win32::GpImageOwner owner(made);
    if (status != Gdiplus::Ok || !owner) {
        return status == Gdiplus::Ok ? Status::GenericError : Status(int(status));
    }
    try {
        bitmap.reset(new Image(std::move(owner)));
    } catch (const std::bad_alloc &) {
        return Status::OutOfMemory;
    }
    return Status::Ok;
}

std::vector<ImageCodecInfo> GetImageEncoders() {
    UINT count = 0;
    UINT bytes = 0;
    if (flat::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || count == 0 ||
        bytes < count * sizeof(Gdiplus::ImageCodecInfo)) {
        return {};
    }
    // The records and the texts they point at share one buffer, aligned for the records.
    std::vector<Gdiplus::ImageCodecInfo> buffer((bytes + sizeof(Gdiplus::ImageCodecInfo) - 1) /
                                                sizeof(Gdiplus::ImageCodecInfo));
    if (flat::GdipGetImageEncoders(count, bytes, buffer.data()) != Gdiplus::Ok) {
        return {};
    }
    std::vector<ImageCodecInfo> encoders;
    encoders.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        const Gdiplus::ImageCodecInfo &record = buffer[i];
        ImageCodecInfo info{};
        std::memcpy(info.clsid.data(), &record.Clsid, info.clsid.size());
        const auto text = [](const WCHAR *s) {
            return s == nullptr ? std::u16string()
                                : std::u16string(reinterpret_cast<const char16_t *>(s));
        };
        info.formatDescription = text(record.FormatDescription);
        info.mimeType = text(record.MimeType);
        encoders.push_back(std::move(info));
    }
    return encoders;
}

Status SaveImageToFile(const Image *image, std::u16string_view path, const Clsid &encoder,
                       const EncoderParameters *parameters) {
    if (image == nullptr || path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        return Status::InvalidParameter;
    }
    CLSID clsid;
    std::memcpy(&clsid, encoder.data(), sizeof clsid);
    LONG quality = 0;
    Gdiplus::EncoderParameters list{};
    const Gdiplus::EncoderParameters *passed = nullptr;
    if (parameters != nullptr && parameters->quality) {
        quality = *parameters->quality;
        list.Count = 1;
        list.Parameter[0].Guid = kEncoderQuality;
        list.Parameter[0].NumberOfValues = 1;
        list.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
        list.Parameter[0].Value = &quality;
        passed = &list;
    }
    const std::wstring wide = WidePath(path);
    return Status(int(flat::GdipSaveImageToFile(image->get(), wide.c_str(), &clsid, passed)));
}

} // namespace kestrun::imaging::gdiplus
