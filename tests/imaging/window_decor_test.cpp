// Window icons and painting without a display: where the files are, the -1 rules, scaling, the
// icon file decoder, and the order of the window operations (recorded by a stand-in session).
#include "kestrun/imaging/icon_codec.h"
#include "kestrun/imaging/window_decor.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace kestrun::imaging;
using imaging_test::ScratchDir;
using imaging_test::WriteFile;

namespace {

void PutU16(std::string &out, uint16_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}

void PutU32(std::string &out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(char((v >> shift) & 0xFF));
    }
}

// An icon file around the given entries (each the bytes of one image).
std::string BuildIco(const std::vector<std::string> &entries) {
    std::string out;
    PutU16(out, 0);
    PutU16(out, 1);
    PutU16(out, uint16_t(entries.size()));
    uint32_t offset = uint32_t(6 + 16 * entries.size());
    for (const auto &entry : entries) {
        out.append(4, '\0'); // width, height, colours, reserved: not read
        PutU16(out, 1);
        PutU16(out, 32);
        PutU32(out, uint32_t(entry.size()));
        PutU32(out, offset);
        offset += uint32_t(entry.size());
    }
    for (const auto &entry : entries) {
        out += entry;
    }
    return out;
}

// A bitmap icon entry: info header with the doubled height, palette, colour rows (bottom-up,
// given as they are stored), AND mask rows (bottom-up).
std::string BitmapEntry(int32_t width, int32_t height, uint16_t bits,
                        const std::vector<uint32_t> &palette, const std::string &colourRows,
                        const std::string &maskRows) {
    std::string out;
    PutU32(out, 40);
    PutU32(out, uint32_t(width));
    PutU32(out, uint32_t(height * 2));
    PutU16(out, 1);
    PutU16(out, bits);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, uint32_t(palette.size()));
    PutU32(out, 0);
    for (uint32_t bgr : palette) {
        PutU32(out, bgr);
    }
    return out + colourRows + maskRows;
}

std::string Row(std::initializer_list<uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Pixel(const Raster &r, uint32_t x, uint32_t y) {
    const uint8_t *p = &r.rgba[(size_t(y) * r.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

using Rgba = std::vector<uint8_t>;

Raster Solid(uint32_t width, uint32_t height, Rgba colour) {
    Raster r;
    r.width = width;
    r.height = height;
    r.components = 4;
    r.rgba.resize(size_t(width) * height * 4);
    for (size_t i = 0; i < r.rgba.size(); ++i) {
        r.rgba[i] = colour.at(i % 4);
    }
    return r;
}

// Records what the operations ask of the windowing system.
class RecordingSession : public window::Session {
public:
    std::optional<window::WindowId> owner;
    std::optional<window::Size> size = window::Size{200, 100};
    std::vector<std::pair<window::WindowId, size_t>> iconCalls; // window, image count
    struct PaintCall {
        window::WindowId window;
        int32_t x, y;
        uint32_t width, height;
    };
    std::vector<PaintCall> paints;

    std::optional<window::WindowId> Owner(window::WindowId) override { return owner; }
    void SetIcons(window::WindowId w, std::span<const Raster> images) override {
        iconCalls.emplace_back(w, images.size());
    }
    std::optional<window::Size> ClientSize(window::WindowId) override { return size; }
    void Paint(window::WindowId w, int32_t x, int32_t y, const Raster &r) override {
        paints.push_back({w, x, y, r.width, r.height});
    }
};

} // namespace

TEST(SkinFilePath, BareNamesLiveInTheSkinFolderBesideTheLibrary) {
    // `path` with each '|' as the separator the skin paths use here.
    const auto sep = [](std::string path) {
        std::replace(path.begin(), path.end(), '|', kSkinSeparator);
        return path;
    };
    EXPECT_EQ(SkinFilePath("C:\\App\\", "Blue", "app.ico"), sep("C:\\App\\Skin|Blue|app.ico"));
    // A single slash is not a path separator for the rule: still a bare name.
    EXPECT_EQ(SkinFilePath("/app/", "Blue/Dark", "a.png"), sep("/app/Skin|Blue/Dark|a.png"));
    EXPECT_EQ(SkinFilePath("/app/", "", "a.png"), sep("/app/Skin||a.png"));
    // Backslash or "//" make it a folder used as given.
    EXPECT_EQ(SkinFilePath("/app/", "D:\\Res", "logo.png"), sep("D:\\Res|logo.png"));
    EXPECT_EQ(SkinFilePath("/app/", "\\\\server\\share", "logo.png"),
              sep("\\\\server\\share|logo.png"));
    EXPECT_EQ(SkinFilePath("/app/", "res//x", "logo.png"), sep("res//x|logo.png"));
#ifdef _WIN32
    EXPECT_EQ(SkinFilePath("C:\\App\\", "/res", "logo.png"), "C:\\App\\Skin\\/res\\logo.png");
#else
    // So does a leading "/": an absolute path.
    EXPECT_EQ(SkinFilePath("/app/", "/opt/res", "logo.png"), "/opt/res/logo.png");
#endif
}

TEST(SkinFilePath, LocalNameIsUtf8AndLimitedTo259Units) {
    EXPECT_EQ(SkinLocalPath("/s/\xC6\xA4\xB7\xF4.png"), "/s/\xE7\x9A\xAE\xE8\x82\xA4.png");
    EXPECT_TRUE(SkinLocalPath(std::string(259, 'a')));
    EXPECT_FALSE(SkinLocalPath(std::string(260, 'a')));
    // Counted in UTF-16 units, not bytes: 130 GBK characters are 260 bytes but 130 units.
    std::string wide;
    for (int i = 0; i < 130; ++i) {
        wide += "\xC6\xA4";
    }
    EXPECT_TRUE(SkinLocalPath(wide));
}

TEST(ResolveTarget, OnlyMinusOneIsSpecial) {
    const auto own = ResolveTarget(-1, -1, -1, -1, 40, 30);
    EXPECT_EQ(own.left, 0);
    EXPECT_EQ(own.top, 0);
    EXPECT_EQ(own.width, 40);
    EXPECT_EQ(own.height, 30);
    const auto wide = ResolveTarget(5, 6, 100, -1, 40, 30);
    EXPECT_EQ(wide.left, 5);
    EXPECT_EQ(wide.top, 6);
    EXPECT_EQ(wide.width, 100);
    EXPECT_EQ(wide.height, 30);
    const auto kept = ResolveTarget(-2, 0, 0, -5, 40, 30);
    EXPECT_EQ(kept.left, -2);
    EXPECT_EQ(kept.width, 0);
    EXPECT_EQ(kept.height, -5);
}

TEST(ScaleIntoCanvas, OwnSizeCopiesPixelsAndPremultiplies) {
    Raster image = Solid(2, 2, {200, 100, 50, 255});
    image.rgba[4 * 3 + 3] = 128; // bottom-right pixel half transparent
    const auto placed = ScaleIntoCanvas(image, {3, 4, 2, 2}, {10, 10});
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->x, 3);
    EXPECT_EQ(placed->y, 4);
    EXPECT_EQ(Pixel(placed->pixels, 0, 0), (Rgba{200, 100, 50, 255}));
    EXPECT_EQ(Pixel(placed->pixels, 1, 1), (Rgba{100, 50, 25, 128}));
}

TEST(ScaleIntoCanvas, StretchesWithoutKeepingAspectAndMirrorsNegativeSizes) {
    Raster image = Solid(2, 1, {255, 0, 0, 255});
    image.rgba[4] = 0;
    image.rgba[6] = 255; // right pixel blue
    const auto wide = ScaleIntoCanvas(image, {0, 0, 8, 3}, {100, 100});
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->pixels.width, 8u);
    EXPECT_EQ(wide->pixels.height, 3u);
    EXPECT_EQ(Pixel(wide->pixels, 0, 2), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(wide->pixels, 7, 0), (Rgba{0, 0, 255, 255}));
    // Bilinear: the middle of the stretch blends the two colours.
    const auto middle = Pixel(wide->pixels, 4, 1);
    EXPECT_GT(middle[0], 0);
    EXPECT_GT(middle[2], 0);

    // A width of -8 at left 10 fills 2..9, mirrored: blue on the left.
    const auto mirrored = ScaleIntoCanvas(image, {10, 0, -8, 1}, {100, 100});
    ASSERT_TRUE(mirrored);
    EXPECT_EQ(mirrored->x, 2);
    EXPECT_EQ(Pixel(mirrored->pixels, 0, 0), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(Pixel(mirrored->pixels, 7, 0), (Rgba{255, 0, 0, 255}));
}

TEST(ScaleIntoCanvas, KeepsOnlyTheVisiblePart) {
    const Raster image = Solid(4, 4, {0, 255, 0, 255});
    EXPECT_FALSE(ScaleIntoCanvas(image, {0, 0, 0, 4}, {10, 10}));
    EXPECT_FALSE(ScaleIntoCanvas(image, {10, 0, 4, 4}, {10, 10}));
    EXPECT_FALSE(ScaleIntoCanvas(image, {-4, 0, 4, 4}, {10, 10}));
    const auto clipped = ScaleIntoCanvas(image, {-2, 8, 4, 4}, {10, 10});
    ASSERT_TRUE(clipped);
    EXPECT_EQ(clipped->x, 0);
    EXPECT_EQ(clipped->y, 8);
    EXPECT_EQ(clipped->pixels.width, 2u);
    EXPECT_EQ(clipped->pixels.height, 2u);
    // A target of two billion pixels each way costs only the canvas.
    const auto huge = ScaleIntoCanvas(image, {0, 0, 2000000000, 2000000000}, {10, 10});
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->pixels.width, 10u);
    EXPECT_EQ(Pixel(huge->pixels, 9, 9), (Rgba{0, 255, 0, 255}));
}

TEST(DecodeIcon, BitmapEntriesOfEveryDepthUseTheirMask) {
    // 2 x 2 images; mask: top-left transparent (bottom-up rows, so the second row stored).
    const std::string mask = Row({0, 0, 0, 0}) + Row({0x80, 0, 0, 0});
    const std::vector<uint32_t> mono = {0x000000, 0xFFFFFF};
    // 1 bit: top row "1 0", bottom row "0 1" (stored bottom row first).
    const auto e1 = BitmapEntry(2, 2, 1, mono, Row({0x40, 0, 0, 0}) + Row({0x80, 0, 0, 0}), mask);
    // 4 bits: palette 0 red, 1 green; top row "1 0", bottom "0 1".
    const std::vector<uint32_t> rg = {0xFF0000, 0x00FF00};
    const auto e4 = BitmapEntry(2, 2, 4, rg, Row({0x01, 0, 0, 0}) + Row({0x10, 0, 0, 0}), mask);
    // 8 bits with the same palette.
    const auto e8 = BitmapEntry(2, 2, 8, rg, Row({0, 1, 0, 0}) + Row({1, 0, 0, 0}), mask);
    // 24 bits: BGR triples, rows padded to 8 bytes.
    const auto e24 = BitmapEntry(
        2, 2, 24, {}, Row({0, 0, 255, 255, 0, 0, 0, 0}) + Row({0, 255, 0, 0, 0, 0, 0, 0}), mask);
    // 32 bits with alpha: the mask is not used.
    const auto e32 = BitmapEntry(
        2, 2, 32, {}, Row({1, 2, 3, 10, 4, 5, 6, 20}) + Row({7, 8, 9, 30, 10, 11, 12, 40}), mask);
    // 32 bits with all alpha zero: the mask decides.
    const std::string grey = Row({0x7F, 0x7F, 0x7F, 0, 0x7F, 0x7F, 0x7F, 0});
    const auto e32m = BitmapEntry(2, 2, 32, {}, grey + grey, mask);
    const auto images = DecodeIcon(BuildIco({e1, e4, e8, e24, e32, e32m}));
    ASSERT_EQ(images.size(), 6u);
    for (const auto &image : images) {
        EXPECT_EQ(image.width, 2u);
        EXPECT_EQ(image.height, 2u);
    }
    EXPECT_EQ(Pixel(images[0], 0, 0), (Rgba{255, 255, 255, 0}));
    EXPECT_EQ(Pixel(images[0], 1, 0), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(Pixel(images[0], 1, 1), (Rgba{255, 255, 255, 255}));
    // Palette quads are blue, green, red, reserved: 0xFF0000 is red.
    EXPECT_EQ(Pixel(images[1], 1, 0), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(images[1], 1, 1), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(Pixel(images[2], 0, 1), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(images[2], 0, 0), (Rgba{0, 255, 0, 0}));
    EXPECT_EQ(Pixel(images[3], 0, 0), (Rgba{0, 255, 0, 0}));
    EXPECT_EQ(Pixel(images[3], 1, 0), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(Pixel(images[3], 0, 1), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(images[3], 1, 1), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(Pixel(images[4], 0, 0), (Rgba{9, 8, 7, 30}));
    EXPECT_EQ(Pixel(images[4], 1, 1), (Rgba{6, 5, 4, 20}));
    EXPECT_EQ(Pixel(images[5], 0, 0)[3], 0);
    EXPECT_EQ(Pixel(images[5], 1, 0)[3], 255);
}

TEST(DecodeIcon, PngEntriesAndDamagedFiles) {
    const auto picture = imaging_test::Quadrants(16, 16);
    const std::string png = imaging_test::EncodePng(picture);
    const auto images = DecodeIcon(BuildIco({png}));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].width, 16u);
    EXPECT_EQ(images[0].rgba, picture.rgba);

    EXPECT_TRUE(DecodeIcon("").empty());
    EXPECT_TRUE(DecodeIcon(png).empty()); // a PNG is not an icon file
    std::string broken = BuildIco({png});
    broken.resize(broken.size() / 2); // the entry runs past the end
    EXPECT_TRUE(DecodeIcon(broken).empty());
    // A directory claiming more entries than it holds yields the ones that are there.
    std::string extra = BuildIco({png});
    extra[4] = 9;
    EXPECT_EQ(DecodeIcon(extra).size(), 1u);
    // A bitmap entry with a zero or absurd width is skipped.
    EXPECT_TRUE(DecodeIcon(BuildIco({BitmapEntry(0, 2, 24, {}, "", "")})).empty());
    EXPECT_TRUE(DecodeIcon(BuildIco({BitmapEntry(1 << 30, 2, 24, {}, "", "")})).empty());
}

TEST(WindowDecor, SetFormIconGivesWindowAndOwnerTheSameIcons) {
    ScratchDir dir;
    WriteFile(dir / "app.ico", BuildIco({imaging_test::EncodePng(imaging_test::Quadrants(8, 8))}));
    RecordingSession session;
    session.owner = 77;
    SetFormIcon(session, 5, "app.ico", dir.path(), "/nowhere/");
    ASSERT_EQ(session.iconCalls.size(), 2u);
    EXPECT_EQ(session.iconCalls[0], (std::pair<window::WindowId, size_t>{5, 1}));
    EXPECT_EQ(session.iconCalls[1], (std::pair<window::WindowId, size_t>{77, 1}));

    // A missing file removes the icons; without an owner only the window is touched.
    RecordingSession alone;
    SetFormIcon(alone, 5, "missing.ico", dir.path(), "/nowhere/");
    ASSERT_EQ(alone.iconCalls.size(), 1u);
    EXPECT_EQ(alone.iconCalls[0].second, 0u);
}

TEST(WindowDecor, LoadPngPaintsOnceAtTheResolvedRectangle) {
    ScratchDir dir;
    WriteFile(dir / "logo.png", imaging_test::EncodePng(imaging_test::Quadrants(20, 10)));
    RecordingSession session;
    LoadPng(session, 9, "logo.png", -1, -1, -1, -1, dir.path(), "/nowhere/");
    LoadPng(session, 9, "logo.png", 10, 5, 100, -1, dir.path(), "/nowhere/");
    LoadPng(session, 9, "missing.png", -1, -1, -1, -1, dir.path(), "/nowhere/");
    ASSERT_EQ(session.paints.size(), 2u);
    EXPECT_EQ(session.paints[0].x, 0);
    EXPECT_EQ(session.paints[0].width, 20u);
    EXPECT_EQ(session.paints[0].height, 10u);
    EXPECT_EQ(session.paints[1].x, 10);
    EXPECT_EQ(session.paints[1].y, 5);
    EXPECT_EQ(session.paints[1].width, 100u);
    EXPECT_EQ(session.paints[1].height, 10u);

    RecordingSession undrawable;
    undrawable.size.reset();
    LoadPng(undrawable, 9, "logo.png", -1, -1, -1, -1, dir.path(), "/nowhere/");
    EXPECT_TRUE(undrawable.paints.empty());
}
