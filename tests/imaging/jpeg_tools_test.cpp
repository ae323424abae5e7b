// ImageToJPG against libjpeg-turbo's own command-line encoder: a bitmap converted at the same
// quality gives the same file, byte for byte, except that cjpeg carries a bitmap's resolution
// into the JFIF density fields where ImageToJPG writes the default 1:1 aspect. Skipped when cjpeg
// is not installed.
#include "imaging_calls.h"
#include "kestrun/imaging/image_codecs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include <unistd.h>

using imaging_test::ReadFile;
using imaging_test::ScratchDir;
using imaging_test::ToJpg;
using imaging_test::WriteFile;

TEST(ImageToJpg, WritesWhatCjpegWrites) {
    if (::access("/usr/bin/cjpeg", X_OK) != 0) {
        GTEST_SKIP() << "cjpeg is not installed (libjpeg-turbo-progs)";
    }
    ScratchDir dir;
    // A 24-bit bitmap with an odd width (padded rows), gradients and noise.
    kestrun::imaging::Raster picture{157, 61, {}, 3};
    picture.rgba.resize(size_t(157) * 61 * 4);
    uint32_t seed = 12345;
    for (size_t i = 0; i < picture.rgba.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const size_t x = (i / 4) % 157;
        picture.rgba[i] = uint8_t(i % 4 == 1 ? (seed >> 24) : x * (i % 4 + 1));
    }
    const std::string withResolution = kestrun::imaging::EncodeBmp24(picture);
    std::string withoutResolution = withResolution;
    withoutResolution.replace(38, 8, 8, '\0'); // no pixels per metre given
    WriteFile(dir / "in.bmp", withoutResolution);
    WriteFile(dir / "dpi.bmp", withResolution);
    for (const int quality : {75, 30, 95}) {
        for (const char *name : {"in.bmp", "dpi.bmp"}) {
            const std::string command = "/usr/bin/cjpeg -quality " + std::to_string(quality) +
                                        " -outfile " + (dir / "peer.jpg") + " " + (dir / name);
            ASSERT_EQ(std::system(command.c_str()), 0);
            ASSERT_EQ(ToJpg(dir / name, dir / "ours.jpg", quality), "OK");
            std::string ours = ReadFile(dir / "ours.jpg");
            std::string peer = ReadFile(dir / "peer.jpg");
            ASSERT_GT(ours.size(), 18u);
            if (std::string(name) == "dpi.bmp") {
                // Density unit (dots per cm) and 37 x 37 from the bitmap's 3780 pixels per metre.
                EXPECT_EQ(peer.substr(13, 5), std::string("\x02\x00\x25\x00\x25", 5));
                EXPECT_EQ(ours.substr(13, 5), std::string("\x00\x00\x01\x00\x01", 5));
                peer.replace(13, 5, ours.substr(13, 5));
            }
            EXPECT_EQ(ours, peer) << name << " " << quality;
        }
    }
}

TEST(ImageToJpg, BitmapsReadFromTheirFilesGiveTheBytesOfTheDecodedPixels) {
    ScratchDir dir;
    uint32_t seed = 99;
    const auto noise = [&seed](size_t n) {
        std::string out(n, '\0');
        for (char &c : out) {
            seed = seed * 1664525u + 1013904223u;
            c = char(seed >> 24);
        }
        return out;
    };
    // Large enough that the rows are read from the file in several blocks, and small ones.
    for (const auto &[width, height] : {std::pair{700, 300}, {701, -301}, {5, 3}, {3, -2}}) {
        for (const uint16_t bits : {24, 32}) {
            const size_t stride = (size_t(width) * bits + 31) / 32 * 4;
            const std::string file = imaging_test::BuildBmp(
                width, height, bits, 0, {}, {}, noise(stride * size_t(std::abs(height))));
            WriteFile(dir / "in.bmp", file);
            const auto pixels = kestrun::imaging::DecodeBmp(file);
            ASSERT_TRUE(pixels);
            ASSERT_EQ(ToJpg(dir / "in.bmp", dir / "out.jpg", 80), "OK");
            EXPECT_EQ(ReadFile(dir / "out.jpg"), *kestrun::imaging::EncodeJpeg(*pixels, 80))
                << width << " " << height << " " << bits;
            ASSERT_EQ(imaging_test::ToBmp(dir / "in.bmp", dir / "out.bmp"), "OK");
            EXPECT_EQ(ReadFile(dir / "out.bmp"), kestrun::imaging::EncodeBmp24(*pixels));
            // One byte short of its rows: not converted, the target left alone.
            WriteFile(dir / "short.bmp", file.substr(0, file.size() - 1));
            EXPECT_EQ(ToJpg(dir / "short.bmp", dir / "out.jpg", 80), vbhost::Gbk("转换失败!"));
            EXPECT_EQ(ReadFile(dir / "out.jpg"), *kestrun::imaging::EncodeJpeg(*pixels, 80));
        }
    }
}
