// MakeQRCode, ScanQRImage, ImageToJPG and ImageToBMP called as a Visual Basic host calls them
// (special files of POSIX systems: imaging_exports_posix_test.cpp).
#include "imaging_calls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using imaging_test::Make;
using imaging_test::ReadFile;
using imaging_test::Scan;
using imaging_test::ScanFile;
using imaging_test::ScratchDir;
using imaging_test::ToBmp;
using imaging_test::ToJpg;
using imaging_test::WriteFile;
using vbhost::Gbk;
using vbhost::String;
using vbhost::TakeText;

namespace {

// The BMP that MakeQRCode writes (24-bit, top row first) as a PNG, for the PNG scanning path.
std::string BitmapToPng(const std::string &bmp) {
    const auto i32 = [&](size_t at) {
        return int32_t(uint32_t(uint8_t(bmp[at])) | (uint32_t(uint8_t(bmp[at + 1])) << 8) |
                       (uint32_t(uint8_t(bmp[at + 2])) << 16) |
                       (uint32_t(uint8_t(bmp[at + 3])) << 24));
    };
    imaging_test::Picture p;
    p.width = unsigned(i32(18));
    p.height = unsigned(-i32(22));
    p.rgba.resize(size_t(p.width) * p.height * 4);
    for (size_t i = 0; i < size_t(p.width) * p.height; ++i) {
        p.rgba[i * 4] = uint8_t(bmp[54 + i * 3 + 2]);
        p.rgba[i * 4 + 1] = uint8_t(bmp[54 + i * 3 + 1]);
        p.rgba[i * 4 + 2] = uint8_t(bmp[54 + i * 3]);
        p.rgba[i * 4 + 3] = 255;
    }
    return imaging_test::EncodePng(p);
}

const std::string kOk = "OK";

} // namespace

TEST(ImagingExports, VersionOneBitmapMatchesTheLayout) {
    ScratchDir dir;
    ASSERT_EQ(Make("A", dir / "v1.bmp", 1, 0), kOk);
    const std::string bmp = ReadFile(dir / "v1.bmp");
    ASSERT_EQ(bmp.size(), 84726u);
    EXPECT_EQ(bmp.substr(22, 4), std::string("\x58\xFF\xFF\xFF", 4)); // -168
    EXPECT_EQ(bmp.substr(54, 3), std::string(3, '\0'));               // top-left black
    EXPECT_EQ(bmp.substr(54 + 7 * 168 * 3, 3), std::string(3, '\0')); // finder pattern edge
}

TEST(ImagingExports, RoundTripsThroughEveryFormat) {
    ScratchDir dir;
    const bool scan = !imaging_test::ReaderMissing(dir); // the conversions are checked either way
    const std::string chinese = Gbk("二维码：你好，世界！ABC 123");
    std::string longText;
    while (longText.size() < 1108) {
        longText += Gbk("汉");
    }
    ASSERT_EQ(longText.size(), 1108u);
    struct Case {
        std::string text;
        int32_t size;
        int32_t level;
        bool everyPath; // the large symbols take one path each to keep the test quick
    };
    const Case cases[] = {{"Hello, QR!", 1, 0, true},
                          {chinese, 0, 1, true},
                          {chinese, 10, 2, true},
                          {longText, 0, 3, false},
                          {std::string(300, 'x'), 25, 0, false}};
    int n = 0;
    for (const Case &c : cases) {
        const std::string name = "c" + std::to_string(n++);
        // JPEG from MakeQRCode, scanned with the global-histogram binarizer.
        ASSERT_EQ(Make(c.text, dir / (name + ".jpeg"), c.size, c.level, 95), kOk) << name;
        if (scan) {
            Scan s = ScanFile(dir / (name + ".jpeg"), 0, 0);
            EXPECT_EQ(s.text, c.text) << name;
            EXPECT_EQ(s.error, "");
        }
        if (!c.everyPath) {
            continue;
        }
        // BMP straight from MakeQRCode, then converted to JPEG and scanned.
        ASSERT_EQ(Make(c.text, dir / (name + ".bmp"), c.size, c.level), kOk) << name;
        ASSERT_EQ(ToJpg(dir / (name + ".bmp"), dir / (name + "-from-bmp.jpg")), kOk);
        if (scan) {
            EXPECT_EQ(ScanFile(dir / (name + "-from-bmp.jpg"), 1, 0).text, c.text) << name;
        }
        // The JPEG through BMP and back to JPEG, scanned with the hybrid binarizer (True).
        ASSERT_EQ(ToBmp(dir / (name + ".jpeg"), dir / (name + "-2.bmp")), kOk);
        ASSERT_EQ(ToJpg(dir / (name + "-2.bmp"), dir / (name + "-2.jpg"), 100), kOk);
        if (scan) {
            EXPECT_EQ(ScanFile(dir / (name + "-2.jpg"), -1, 0).text, c.text) << name;
        }
    }
    if (!scan) {
        GTEST_SKIP() << "this build has no barcode reader: the conversions alone were checked";
    }
    // The PNG path, and GBK content read with utf8 = 1 (not UTF-8: invalid bytes become "?").
    ASSERT_EQ(Make(chinese, dir / "p.bmp", 0, 1), kOk);
    WriteFile(dir / "P.PNG", BitmapToPng(ReadFile(dir / "p.bmp")));
    EXPECT_EQ(ScanFile(dir / "P.PNG", 1, 0).text, chinese);
    EXPECT_EQ(ScanFile(dir / "P.PNG", 0x100, 0).text, chinese); // low byte 0: global histogram
}

TEST(ImagingExports, Utf8ContentComesBackAsGbk) {
    ScratchDir dir;
    if (imaging_test::ReaderMissing(dir)) {
        GTEST_SKIP() << "this build has no barcode reader";
    }
    // Content stored as UTF-8 bytes (with and without a byte-order mark).
    ASSERT_EQ(Make("\xE4\xBD\xA0\xE5\xA5\xBD, QR", dir / "u.jpg", 0, 1), kOk);
    EXPECT_EQ(ScanFile(dir / "u.jpg", 1, 1).text, Gbk("你好, QR"));
    EXPECT_EQ(ScanFile(dir / "u.jpg", 1, 0).text, "\xE4\xBD\xA0\xE5\xA5\xBD, QR");
    ASSERT_EQ(Make("\xEF\xBB\xBF"
                   "abc",
                   dir / "bom.jpg", 0, 1),
              kOk);
    EXPECT_EQ(ScanFile(dir / "bom.jpg", 1, 1).text, "abc");
    ASSERT_EQ(Make("?x?", dir / "q.jpg", 0, 1), kOk);
    EXPECT_EQ(ScanFile(dir / "q.jpg", 1, 1).text, "x?");
    EXPECT_EQ(ScanFile(dir / "q.jpg", 1, 2).text, "?x?");
}

TEST(ImagingExports, GbkFileNamesWork) {
    ScratchDir dir;
    const std::string name = dir / Gbk("二维码.JPEG");
    ASSERT_EQ(Make("gbk path", name, 0, 0), kOk);
#ifdef _WIN32
    const std::string onDisk = name; // the test's own paths are ANSI (code page 936) too
#else
    const std::string onDisk = dir / "二维码.JPEG"; // the file system holds UTF-8 names
#endif
    EXPECT_TRUE(imaging_test::FileExists(onDisk));
    EXPECT_FALSE(imaging_test::FileExists(onDisk + ".bmp"));
    EXPECT_EQ(ToBmp(name, dir / Gbk("图.bmp")), kOk);
    if (!imaging_test::ReaderMissing(dir)) {
        EXPECT_EQ(ScanFile(name, 1, 0).text, "gbk path");
    }
}

TEST(ImagingExports, EveryMessageInGbk) {
    ScratchDir dir;
    String unset;
    String text("x");
    String file(dir / "m.bmp");
    EXPECT_EQ(TakeText(MakeQRCode(unset.ref(), file.ref(), 0, 0, 75)), Gbk("参数错误"));
    EXPECT_EQ(TakeText(MakeQRCode(text.ref(), unset.ref(), 0, 0, 75)), Gbk("参数错误"));
    EXPECT_EQ(TakeText(MakeQRCode(nullptr, nullptr, 0, 0, 75)), Gbk("参数错误"));
    EXPECT_EQ(Make("x", dir / "m.bmp", 41, 0), Gbk("size参数错误 范围0-40"));
    EXPECT_EQ(Make(std::string(1109, 'x'), dir / "m.bmp", 0, 0), Gbk("最多允许1108个字节！"));
    EXPECT_EQ(Make(std::string(554, 'x') + Gbk("字") + std::string(553, 'x'), dir / "m.bmp", 0, 0),
              Gbk("最多允许1108个字节！")); // a Chinese character counts two bytes
    EXPECT_EQ(Make("x", dir / "qr", 0, 0), Gbk("要保存的文件名不正确！"));
    EXPECT_EQ(Make("x", dir / "qr.bitmap", 0, 0), Gbk("不能识别的扩展名！"));
    EXPECT_EQ(Make("x", dir / "qr.Png", 0, 0), Gbk("不支持保存为png扩展名的文件！"));
    EXPECT_EQ(Make("x", dir / "m.bmp", 0, 4), Gbk("生成二维码文件失败！"));
    EXPECT_EQ(Make("x", dir / "no/such/folder/m.bmp", 0, 0), Gbk("可能是没有写入二维码文件的权限"));
    ASSERT_TRUE(std::filesystem::create_directory(dir / "t.jpg"));
    EXPECT_EQ(Make("x", dir / "t.jpg", 0, 0), Gbk("将BMP文件转换为JPG格式化时发生错误：转换失败!"));
    EXPECT_TRUE(imaging_test::FileExists(dir / "t.jpg.bmp"));

    EXPECT_EQ(ToJpg(dir / "none.png", dir / "o.jpg"), Gbk("文件不存在!"));
    EXPECT_EQ(ToBmp(dir / "none.png", dir / "o.bmp"), Gbk("文件不存在!"));
    WriteFile(dir / "text.jpg", "hello");
    EXPECT_EQ(ToJpg(dir / "text.jpg", dir / "o.jpg"), Gbk("转换失败!"));
    EXPECT_EQ(ToBmp(dir / "text.jpg", dir / "o.bmp"), Gbk("转换失败!"));

    const Scan missing = ScanFile(dir / "none.png", 1, 0);
    EXPECT_EQ(missing.text, "");
    EXPECT_EQ(missing.error, Gbk("文件不存在！"));
    ASSERT_EQ(Make("x", dir / "s.bmp", 0, 0), kOk);
    EXPECT_EQ(ScanFile(dir / "s.bmp", 1, 0).error, "Loading \"" + (dir / "s.bmp") + "\" failed.");
    EXPECT_EQ(ScanFile(dir / "text.jpg", 1, 0).error,
              "Loading \"" + (dir / "text.jpg") + "\" failed.");
    WriteFile(dir / "text.png", "hello");
    EXPECT_EQ(ScanFile(dir / "text.png", 1, 0).error.rfind("Error while loading '", 0), 0u);
    ASSERT_EQ(ToJpg(dir / "s.bmp", dir / "s.jpg"), kOk);
    if (imaging_test::ReaderMissing(dir)) {
        GTEST_SKIP() << "this build has no barcode reader: its messages were not checked";
    }
    WriteFile(dir / "blank.png", imaging_test::EncodePng(imaging_test::Quadrants(64, 64)));
    EXPECT_EQ(ScanFile(dir / "blank.png", 1, 0).error, "zxing::ReaderException: No code detected");
    EXPECT_EQ(ScanFile(dir / "s.jpg", 1, 0).error, ""); // a success empties the out-string
}

TEST(ImagingExports, NullArgumentsAreRefusedQuietly) {
    String unset;
    EXPECT_EQ(TakeText(ImageToJPG(nullptr, nullptr, 80)), Gbk("文件不存在!"));
    EXPECT_EQ(TakeText(ImageToBMP(unset.ref(), unset.ref())), Gbk("文件不存在!"));
    String error("old");
    EXPECT_EQ(TakeText(ScanQRImage(nullptr, 1, error.ref(), 0)), "");
    EXPECT_EQ(error.bytes(), Gbk("文件不存在！"));
    EXPECT_EQ(TakeText(ScanQRImage(unset.ref(), 1, nullptr, 0)), "");
}

TEST(ImagingExports, DamagedFilesNeverCrashAnExport) {
    ScratchDir dir;
    ASSERT_EQ(Make("damage", dir / "seed.bmp", 1, 0), kOk);
    const std::string bmp = ReadFile(dir / "seed.bmp");
    ASSERT_EQ(ToJpg(dir / "seed.bmp", dir / "seed.jpg"), kOk);
    const std::string jpg = ReadFile(dir / "seed.jpg");
    const std::string png = BitmapToPng(bmp);
    const std::string gif = imaging_test::EncodeGif(8, 8, {0, 0, 0, 255, 255, 255},
                                                    std::vector<uint8_t>(64, 1), -1, false);
    ASSERT_EQ(ToJpg(dir / "seed.jpg", dir / "check.jpg"), kOk);
    WriteFile(dir / "g.gif", gif);
    ASSERT_EQ(ToBmp(dir / "g.gif", dir / "g.bmp"), kOk);
    const struct {
        std::string bytes;
        const char *extension;
    } seeds[] = {{bmp, "bmp"}, {jpg, "jpg"}, {png, "png"}, {gif, "gif"}};
    int calls = 0;
    for (const auto &seed : seeds) {
        const size_t lengths[] = {
            0, 1, 2, 10, 30, 60, 200, seed.bytes.size() / 2, seed.bytes.size() - 1};
        for (size_t len : lengths) {
            std::string damaged = seed.bytes.substr(0, std::min(len, seed.bytes.size()));
            if (damaged.size() > 40) {
                const size_t at = damaged.size() / 3; // a flipped byte too
                damaged[at] = char(damaged[at] ^ 0xFF);
            }
            const std::string source = dir / (std::string("d.") + seed.extension);
            WriteFile(source, damaged);
            const std::string jpgResult = ToJpg(source, dir / "out.jpg");
            const std::string bmpResult = ToBmp(source, dir / "out.bmp");
            EXPECT_TRUE(jpgResult == kOk || jpgResult == Gbk("转换失败!"));
            EXPECT_TRUE(bmpResult == kOk || bmpResult == Gbk("转换失败!"));
            for (const char *as : {"png", "jpg"}) {
                const std::string named = dir / (std::string("scan.") + as);
                WriteFile(named, damaged);
                const Scan s = ScanFile(named, calls % 2, 1);
                EXPECT_TRUE(s.text.empty() != s.error.empty() || s.text.empty());
                ++calls;
            }
            WriteFile(dir / "over.jpg", damaged);
            EXPECT_EQ(Make("over a damaged file", dir / "over.jpg", 0, 0), kOk);
        }
    }
    EXPECT_EQ(calls, 72);
}
