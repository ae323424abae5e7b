// QR code files, conversion and scanning through the plain functions behind the exports.
#include "kestrun/imaging/barcode_decoder.h"
#include "kestrun/imaging/barcode_errors.h"
#include "kestrun/imaging/barcode_scan.h"
#include "kestrun/imaging/convert.h"
#include "kestrun/imaging/image_codecs.h"
#include "kestrun/imaging/image_reader_source.h"
#include "kestrun/imaging/messages.h"
#include "kestrun/imaging/qrcode.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <qrencode.h>

#include <filesystem>
#include <memory>

using namespace kestrun::imaging;
namespace msg = kestrun::imaging::messages;
using imaging_test::ReadFile;
using imaging_test::ScratchDir;
using imaging_test::WriteFile;

namespace {

int32_t ReadI32(const std::string &s, size_t at) {
    return int32_t(uint32_t(uint8_t(s[at])) | (uint32_t(uint8_t(s[at + 1])) << 8) |
                   (uint32_t(uint8_t(s[at + 2])) << 16) | (uint32_t(uint8_t(s[at + 3])) << 24));
}

// True when this build carries no barcode reader (a Windows build made without zxing-cpp).
bool ReaderMissing() {
    try {
        barcode::DecodeLuminance(std::vector<uint8_t>(64, 255), 8, 8, false);
    } catch (const barcode::Exception &e) {
        return std::string_view(e.what()).find("not part of this build") != std::string::npos;
    }
    return false;
}

} // namespace

TEST(RenderQrBitmap, FollowsTheFileLayout) {
    // A 21 x 21 symbol with only the top-left and bottom-right modules dark.
    std::vector<unsigned char> modules(21 * 21, 0);
    modules[0] = 1;
    modules[21 * 21 - 1] = 0x81; // only bit 0 counts
    modules[1] = 0xFE;           // bit 0 clear: light
    const std::string bmp = RenderQrBitmap(21, modules.data());
    ASSERT_EQ(bmp.size(), 84726u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(ReadI32(bmp, 2), 84726);
    EXPECT_EQ(ReadI32(bmp, 6), 0);
    EXPECT_EQ(ReadI32(bmp, 10), 54);
    EXPECT_EQ(ReadI32(bmp, 14), 40);
    EXPECT_EQ(ReadI32(bmp, 18), 168);
    EXPECT_EQ(ReadI32(bmp, 22), -168);
    EXPECT_EQ(ReadI32(bmp, 26), 1 | (24 << 16)); // planes, bits per pixel
    for (size_t at = 30; at < 54; at += 4) {
        EXPECT_EQ(ReadI32(bmp, at), 0) << at;
    }
    const auto pixel = [&](int x, int y) { return bmp.substr(54 + (size_t(y) * 168 + x) * 3, 3); };
    const std::string black(3, '\0');
    const std::string white(3, '\xFF');
    EXPECT_EQ(pixel(0, 0), black);
    EXPECT_EQ(pixel(7, 7), black);
    EXPECT_EQ(pixel(8, 0), white);
    EXPECT_EQ(pixel(0, 8), white);
    EXPECT_EQ(pixel(160, 160), black);
    EXPECT_EQ(pixel(167, 167), black);
    EXPECT_EQ(pixel(159, 167), white);
    // The imaging layer reads the file it writes, top row first.
    const auto decoded = DecodeBmp(bmp);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->rgba[0], 0);
    EXPECT_EQ(decoded->rgba[8 * 4], 255);
}

TEST(MakeQRCode, ChecksArgumentsInOrder) {
    ScratchDir dir;
    const std::string bmp = dir / "qr.bmp";
    EXPECT_EQ(MakeQRCode(std::nullopt, bmp, 0, 0, 75), msg::kBadArguments);
    EXPECT_EQ(MakeQRCode("x", std::nullopt, 99, 0, 75), msg::kBadArguments);
    EXPECT_EQ(MakeQRCode("x", bmp, 41, 0, 75), msg::kBadSize);
    EXPECT_EQ(MakeQRCode("x", bmp, -1, 0, 75), msg::kBadSize);
    EXPECT_EQ(MakeQRCode(std::string(1109, 'a'), "no-dot", 0, 0, 75), msg::kTextTooLong);
    EXPECT_EQ(MakeQRCode("x", dir / "qr", 0, 0, 75), msg::kBadFileName);
    EXPECT_EQ(MakeQRCode("x", dir / "qr.bitmap", 0, 0, 75), msg::kUnknownExtension);
    EXPECT_EQ(MakeQRCode("x", "C:\\my.dir\\qr", 0, 0, 75), msg::kUnknownExtension);
    EXPECT_EQ(MakeQRCode("x", dir / "qr.PNG", 0, 0, 75),
              std::string(msg::kUnsupportedPrefix) + "png" + msg::kUnsupportedSuffix);
    EXPECT_EQ(MakeQRCode("x", dir / "qr.", 0, 0, 75),
              std::string(msg::kUnsupportedPrefix) + msg::kUnsupportedSuffix);
    // A path that does not fit the 260-byte buffer once ".bmp" is appended.
    const std::string longJpeg = "/tmp/" + std::string(251, 'a') + ".jpg"; // 259 bytes
    EXPECT_EQ(MakeQRCode("x", longJpeg, 0, 0, 75), msg::kBadFileName);
    EXPECT_EQ(MakeQRCode("x", bmp, 0, 4, 75), msg::kEncodeFailed);
    EXPECT_EQ(MakeQRCode("x", bmp, 0, -1, 75), msg::kEncodeFailed);
    EXPECT_EQ(MakeQRCode("", bmp, 0, 0, 75), msg::kEncodeFailed);
    EXPECT_FALSE(imaging_test::FileExists(bmp));
    EXPECT_EQ(MakeQRCode("x", dir / "missing-folder/qr.bmp", 0, 0, 75), msg::kCannotWrite);
    // Version 40 holds the longest text at the highest level.
    EXPECT_EQ(MakeQRCode(std::string(1108, '7'), bmp, 40, 3, 75), msg::kOk);
    EXPECT_EQ(ReadFile(bmp).size(), 54u + 192u * 177 * 177);
}

TEST(MakeQRCode, WritesJpegThroughTheBitmapAndRemovesIt) {
    ScratchDir dir;
    ASSERT_EQ(MakeQRCode("hello", dir / "QR.JPG", 2, 1, 90), msg::kOk);
    EXPECT_FALSE(imaging_test::FileExists(dir / "QR.JPG.bmp"));
    const auto jpeg = DecodeJpeg(ReadFile(dir / "QR.JPG"));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, 25u * 8);

    // The conversion cannot write the target (a folder of that name): the bitmap stays.
    ASSERT_TRUE(std::filesystem::create_directory(dir / "taken.jpeg"));
    EXPECT_EQ(MakeQRCode("hello", dir / "taken.jpeg", 0, 0, 90),
              std::string(msg::kJpegStepFailed) + msg::kConversionFailed);
    EXPECT_TRUE(imaging_test::FileExists(dir / "taken.jpeg.bmp"));
}

TEST(ConvertImage, WritesTheFormatAskedForWhateverTheName) {
    ScratchDir dir;
    const std::string png = dir / "in.png";
    WriteFile(png, imaging_test::EncodePng(imaging_test::Quadrants(32, 32)));
    ASSERT_EQ(ConvertToJpeg(png, dir / "out.bmp", 85), msg::kOk);
    EXPECT_EQ(SniffFormat(ReadFile(dir / "out.bmp")), ImageFormat::Jpeg);
    ASSERT_EQ(ConvertToBmp(dir / "out.bmp", dir / "out.png"), msg::kOk);
    const auto bmp = DecodeBmp(ReadFile(dir / "out.png"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->width, 32u);

    // Missing source: the target is not touched.
    WriteFile(dir / "keep.jpg", "old");
    EXPECT_EQ(ConvertToJpeg(dir / "missing.png", dir / "keep.jpg", 80), msg::kFileMissing);
    EXPECT_EQ(ConvertToBmp("", dir / "keep.jpg"), msg::kFileMissing);
    EXPECT_EQ(ReadFile(dir / "keep.jpg"), "old");
    // A file that is not an image, a folder, an empty target.
    WriteFile(dir / "text.png", "just text");
    EXPECT_EQ(ConvertToJpeg(dir / "text.png", dir / "x.jpg", 80), msg::kConversionFailed);
    EXPECT_EQ(ConvertToBmp(dir.path(), dir / "x.bmp"), msg::kConversionFailed);
    EXPECT_EQ(ConvertToBmp(png, ""), msg::kConversionFailed);
    EXPECT_FALSE(imaging_test::FileExists(dir / "x.jpg"));

    const auto jpeg = FindEncoderByMimeType(u"image/jpeg");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->index, 1u);
    EXPECT_FALSE(FindEncoderByMimeType(u"image/JPEG"));
    EXPECT_FALSE(FindEncoderByMimeType(u""));
#ifndef _WIN32
    EXPECT_FALSE(FindEncoderByMimeType(u"image/png")); // GDI+ has one; the layer here does not
#endif
}

TEST(ImageReaderSource, YieldsLuminanceByComponents) {
    using barcode::ImageReaderSource;
    // Components 3 or 4 weigh red, green and blue; 1 and 2 take the first byte; alpha is ignored.
    auto pixels = std::make_shared<const std::vector<uint8_t>>(
        std::vector<uint8_t>{255, 0, 0, 0, 0, 255, 0, 9, 0, 0, 255, 255, 10, 20, 30, 40});
    const ImageReaderSource colour(2, 2, pixels, 4);
    EXPECT_EQ(colour.getMatrix(), (std::vector<uint8_t>{76, 150, 29, 18}));
    EXPECT_EQ(colour.getRow(1), (std::vector<uint8_t>{29, 18}));
    EXPECT_EQ(colour.getRow(0, std::vector<uint8_t>(5, 7)),
              (std::vector<uint8_t>{76, 150, 7, 7, 7}));
    EXPECT_THROW(colour.getRow(2), barcode::IllegalArgumentException);
    EXPECT_THROW(colour.getRow(-1), barcode::IllegalArgumentException);
    const ImageReaderSource grey(2, 2, pixels, 1);
    EXPECT_EQ(grey.getMatrix(), (std::vector<uint8_t>{255, 0, 0, 10}));
    const ImageReaderSource odd(2, 2, pixels, 5);
    EXPECT_THROW(odd.getMatrix(), barcode::IllegalArgumentException);
}

TEST(ImageReaderSource, LoadsByExtensionAndReportsLoaderErrors) {
    using barcode::ImageReaderSource;
    ScratchDir dir;
    const auto picture = imaging_test::Quadrants(4, 4);
    WriteFile(dir / "a.PNG", imaging_test::EncodePng(picture));
    const auto png = ImageReaderSource::loadFromFile(dir / "a.PNG");
    EXPECT_EQ(png->components(), 4);
    EXPECT_EQ(png->getWidth(), 4);
    WriteFile(dir / "g.jpeg", imaging_test::EncodeGreyJpeg(picture, 90));
    EXPECT_EQ(ImageReaderSource::loadFromFile(dir / "g.jpeg")->components(), 1);

    const auto message = [](const std::string &name) {
        try {
            ImageReaderSource::loadFromFile(name);
        } catch (const barcode::IllegalArgumentException &e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    WriteFile(dir / "bad.png", "not a png");
    EXPECT_EQ(message(dir / "bad.png"),
              "Error while loading '" + PngErrorText(DecodePng("not a png").error) + "'");
    WriteFile(dir / "bad.jpg", "not a jpeg");
    EXPECT_EQ(message(dir / "bad.jpg"), "Loading \"" + (dir / "bad.jpg") + "\" failed.");
    // Without a dot the whole name is the extension.
    WriteFile(dir / "nodot", imaging_test::EncodePng(picture));
    EXPECT_EQ(message(dir / "nodot"), "Loading \"" + (dir / "nodot") + "\" failed.");
    WriteFile(dir / "qr.bmp", "BM");
    EXPECT_EQ(message(dir / "qr.bmp"), "Loading \"" + (dir / "qr.bmp") + "\" failed.");
}

TEST(ScanQRImage, ReadsWhatMakeQRCodeWrites) {
    if (ReaderMissing()) {
        GTEST_SKIP() << "this build has no barcode reader";
    }
    ScratchDir dir;
    ASSERT_EQ(MakeQRCode("?Hello", dir / "q.jpg", 0, 1, 90), msg::kOk);
    for (bool hybrid : {false, true}) {
        auto out = ScanQRImage(dir / "q.jpg", hybrid, 0);
        EXPECT_EQ(out.text, "?Hello");
        EXPECT_EQ(out.errorText, "");
        out = ScanQRImage(dir / "q.jpg", hybrid, 1);
        EXPECT_EQ(out.text, "Hello"); // a leading "?" goes with utf8 = 1
    }
    // Text ends at a zero byte of the content.
    ASSERT_EQ(MakeQRCode("", dir / "z.bmp", 0, 1, 90), msg::kEncodeFailed);
}

TEST(ScanQRImage, ReportsEachFailure) {
    ScratchDir dir;
    auto out = ScanQRImage(dir / "missing.png", true, 0);
    EXPECT_EQ(out.text, "");
    EXPECT_EQ(out.errorText, msg::kFileMissingFullWidth);

    ASSERT_EQ(MakeQRCode("bmp", dir / "q.bmp", 0, 0, 0), msg::kOk);
    out = ScanQRImage(dir / "q.bmp", true, 0);
    EXPECT_EQ(out.errorText, "Loading \"" + (dir / "q.bmp") + "\" failed.");

    if (ReaderMissing()) {
        GTEST_SKIP() << "this build has no barcode reader";
    }
    WriteFile(dir / "blank.png", imaging_test::EncodePng(imaging_test::Quadrants(40, 40)));
    out = ScanQRImage(dir / "blank.png", false, 1);
    EXPECT_EQ(out.text, "");
    EXPECT_EQ(out.errorText, "zxing::ReaderException: No code detected");

    // A tiny image on which the decoder's Aztec detector fails a range check of its own (found
    // by fuzzing): reported as a standard exception, not a crash.
    const uint8_t tiny[36] = {0, 0, 0, 0, 0, 0, 0,  86, 0,  86, 0,  86, 1, 23, 1, 23, 1, 23,
                              1, 1, 1, 1, 1, 1, 23, 6,  23, 1,  23, 23, 0, 0,  0, 0,  0, 0};
    imaging_test::Picture grey{6, 6, std::vector<uint8_t>(6 * 6 * 4, 255)};
    for (size_t i = 0; i < 36; ++i) {
        grey.rgba[i * 4] = grey.rgba[i * 4 + 1] = grey.rgba[i * 4 + 2] = tiny[i];
    }
    WriteFile(dir / "tiny.png", imaging_test::EncodePng(grey));
    for (bool hybrid : {false, true}) {
        out = ScanQRImage(dir / "tiny.png", hybrid, 0);
        EXPECT_EQ(out.text, "");
        EXPECT_EQ(out.errorText.rfind("std::exception: ", 0), 0u) << out.errorText;
    }

    WriteFile(dir / "empty.png", "");
    out = ScanQRImage(dir / "empty.png", false, 0);
    EXPECT_EQ(out.errorText.rfind("Error while loading '", 0), 0u) << out.errorText;
}
