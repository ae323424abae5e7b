// The imaging exports on Windows: conversions through GDI+ read back with independent decoders,
// GBK file names, missing and locked files.
#include "imaging_calls.h"
#include "kestrun/imaging/image_codecs.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>

using imaging_test::Make;
using imaging_test::ReadFile;
using imaging_test::ScratchDir;
using imaging_test::ToBmp;
using imaging_test::ToJpg;
using imaging_test::WriteFile;
using vbhost::Gbk;
namespace codecs = kestrun::imaging;

namespace {

const std::string kOk = "OK";

// True when the pixel at (x, y) is within `tolerance` of the RGB colour on every channel.
bool Near(const codecs::Raster &r, uint32_t x, uint32_t y, std::array<int, 3> rgb, int tolerance) {
    const uint8_t *p = &r.rgba[(size_t(y) * r.width + x) * 4];
    for (int c = 0; c < 3; ++c) {
        if (std::abs(int(p[c]) - rgb[c]) > tolerance) {
            return false;
        }
    }
    return true;
}

// The four quadrants of imaging_test::Quadrants, sampled at their centres.
void ExpectQuadrants(const codecs::Raster &r, int tolerance) {
    const uint32_t qx = r.width / 4;
    const uint32_t qy = r.height / 4;
    EXPECT_TRUE(Near(r, qx, qy, {255, 0, 0}, tolerance));
    EXPECT_TRUE(Near(r, 3 * qx, qy, {0, 255, 0}, tolerance));
    EXPECT_TRUE(Near(r, qx, 3 * qy, {0, 0, 255}, tolerance));
    EXPECT_TRUE(Near(r, 3 * qx, 3 * qy, {255, 255, 255}, tolerance));
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A file held open with no sharing: nobody else can read or replace it until the object goes.
class LockedFile {
public:
    explicit LockedFile(const std::string &ansiPath)
        : handle_(CreateFileA(ansiPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~LockedFile() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

} // namespace

TEST(WindowsImaging, ConversionsThroughGdiplusReadBackExactly) {
    ScratchDir dir;
    const std::string png = dir / Gbk("原图.png");
    WriteFile(png, imaging_test::EncodePng(imaging_test::Quadrants(48, 32)));

    // BMP output is lossless: every pixel comes back as drawn.
    ASSERT_EQ(ToBmp(png, dir / Gbk("位图.jpg")), kOk); // the name's extension is not examined
    const auto bmp = codecs::DecodeBmp(ReadFile(dir / Gbk("位图.jpg")));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->width, 48u);
    EXPECT_EQ(bmp->height, 32u);
    ExpectQuadrants(*bmp, 0);

    // JPEG output, from the PNG and from the BMP, with the quality handed to the encoder.
    ASSERT_EQ(ToJpg(png, dir / Gbk("照片.bmp"), 95), kOk);
    const std::string fine = ReadFile(dir / Gbk("照片.bmp"));
    EXPECT_EQ(codecs::SniffFormat(fine), codecs::ImageFormat::Jpeg);
    const auto jpeg = codecs::DecodeJpeg(fine);
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, 48u);
    EXPECT_EQ(jpeg->height, 32u);
    ExpectQuadrants(*jpeg, 24);
    ASSERT_EQ(ToJpg(dir / Gbk("位图.jpg"), dir / "coarse.jpg", 5), kOk);
    const auto coarse = codecs::DecodeJpeg(ReadFile(dir / "coarse.jpg"));
    ASSERT_TRUE(coarse);
    EXPECT_EQ(coarse->width, 48u);
    // The quality reaches the encoder: the same picture at 5 takes fewer bytes than at 95. Wine's
    // GDI+ JPEG encoder ignores encoder parameters, so there both files are alike.
    ASSERT_EQ(ToJpg(png, dir / "q5.jpg", 5), kOk);
    if (!UnderWine()) {
        EXPECT_LT(ReadFile(dir / "q5.jpg").size(), fine.size());
    }

    // GIF and JPEG sources decode through GDI+ as well.
    WriteFile(dir / "g.gif", imaging_test::EncodeGif(8, 4, {0, 0, 0, 255, 255, 255},
                                                     std::vector<uint8_t>(32, 1), -1, false));
    ASSERT_EQ(ToBmp(dir / "g.gif", dir / "g.bmp"), kOk);
    const auto gif = codecs::DecodeBmp(ReadFile(dir / "g.bmp"));
    ASSERT_TRUE(gif);
    EXPECT_EQ(gif->width, 8u);
    EXPECT_EQ(gif->height, 4u);
    EXPECT_TRUE(Near(*gif, 7, 3, {255, 255, 255}, 0));
    ASSERT_EQ(ToBmp(dir / "coarse.jpg", dir / "back.bmp"), kOk);
    EXPECT_EQ(codecs::DecodeBmp(ReadFile(dir / "back.bmp"))->height, 32u);

    // A QR code written as JPEG goes through the same conversion and leaves no bitmap behind.
    ASSERT_EQ(Make("gdi+", dir / Gbk("二维码.JPG"), 1, 0, 90), kOk);
    EXPECT_FALSE(imaging_test::FileExists(dir / Gbk("二维码.JPG.bmp")));
    const auto qr = codecs::DecodeJpeg(ReadFile(dir / Gbk("二维码.JPG")));
    ASSERT_TRUE(qr);
    EXPECT_EQ(qr->width, 168u);
    EXPECT_TRUE(Near(*qr, 2, 2, {0, 0, 0}, 40)); // finder pattern, no border
}

TEST(WindowsImaging, MissingLockedAndUnwritableFiles) {
    ScratchDir dir;
    const std::string png = dir / "in.png";
    WriteFile(png, imaging_test::EncodePng(imaging_test::Quadrants(16, 16)));
    WriteFile(dir / "keep.jpg", "old");
    EXPECT_EQ(ToJpg(dir / Gbk("没有.png"), dir / "keep.jpg"), Gbk("文件不存在!"));
    EXPECT_EQ(ToBmp(dir / Gbk("没有.png"), dir / "keep.jpg"), Gbk("文件不存在!"));
    EXPECT_EQ(ReadFile(dir / "keep.jpg"), "old");

    {
        // A target another program holds without sharing is neither written nor reported done.
        const LockedFile target(dir / "keep.jpg");
        ASSERT_TRUE(target.held());
        EXPECT_EQ(ToJpg(png, dir / "keep.jpg"), Gbk("转换失败!"));
        EXPECT_EQ(ToBmp(png, dir / "keep.jpg"), Gbk("转换失败!"));
    }
    EXPECT_EQ(ReadFile(dir / "keep.jpg"), "old");
    {
        // A source that cannot be opened for reading cannot be decoded.
        const LockedFile source(png);
        ASSERT_TRUE(source.held());
        EXPECT_EQ(ToBmp(png, dir / "out.bmp"), Gbk("转换失败!"));
    }
    EXPECT_EQ(ToBmp(png, dir / "out.bmp"), kOk);

    // Targets that cannot be files: a folder, a path in a missing folder, nothing at all.
    ASSERT_TRUE(std::filesystem::create_directory(dir / "folder.bmp"));
    EXPECT_EQ(ToBmp(png, dir / "folder.bmp"), Gbk("转换失败!"));
    EXPECT_EQ(ToJpg(png, dir / "no\\such\\x.jpg"), Gbk("转换失败!"));
    EXPECT_EQ(ToJpg(png, ""), Gbk("转换失败!"));
    // Sources that are not images: a folder, text, an empty file.
    EXPECT_EQ(ToBmp(dir.path(), dir / "x.bmp"), Gbk("转换失败!"));
    WriteFile(dir / "empty.png", "");
    EXPECT_EQ(ToJpg(dir / "empty.png", dir / "x.jpg"), Gbk("转换失败!"));
    EXPECT_FALSE(imaging_test::FileExists(dir / "x.jpg"));
    // The same file as source and target: GDI+ holds the source open while it saves.
    const std::string same = ToBmp(dir / "out.bmp", dir / "out.bmp");
    EXPECT_TRUE(same == kOk || same == Gbk("转换失败!")) << same;
    EXPECT_TRUE(codecs::DecodeBmp(ReadFile(dir / "out.bmp")));
}
