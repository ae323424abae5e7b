// The imaging exports on the special files of a POSIX file system: FIFOs, devices, folders and
// symbolic links.
#include "fifo_reader.h"
#include "imaging_calls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using imaging_test::Make;
using imaging_test::ReadFile;
using imaging_test::ScanFile;
using imaging_test::ScratchDir;
using imaging_test::ToBmp;
using imaging_test::ToJpg;
using vbhost::Gbk;

TEST(ImagingExports, SpecialFilesAreNeitherWaitedOnNorReplaced) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    ScratchDir dir;
    ASSERT_EQ(Make("special", dir / "s.bmp", 0, 0), "OK");
    ASSERT_EQ(::mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir / "folder.bmp").c_str(), 0755), 0);

    // Sources: a FIFO nobody writes to, a device that never ends, a folder.
    for (const std::string &source :
         {dir / "fifo.bmp", std::string("/dev/zero"), dir / "folder.bmp"}) {
        EXPECT_EQ(ToJpg(source, dir / "o.jpg"), Gbk("转换失败!")) << source;
        EXPECT_EQ(ToBmp(source, dir / "o.bmp"), Gbk("转换失败!")) << source;
        EXPECT_EQ(ScanFile(source, 1, 0).error, "Loading \"" + source + "\" failed.") << source;
    }
    // Targets: a FIFO is not written to or waited on.
    EXPECT_EQ(Make("x", dir / "fifo.bmp", 0, 0), Gbk("可能是没有写入二维码文件的权限"));
    EXPECT_EQ(ToBmp(dir / "s.bmp", dir / "fifo.bmp"), Gbk("转换失败!"));
    EXPECT_EQ(ToJpg(dir / "s.bmp", dir / "fifo.jpg"), Gbk("转换失败!"));
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.bmp"));
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.jpg"));

    // A folder is no target either.
    EXPECT_EQ(Make("x", dir / "folder.bmp", 0, 0), Gbk("可能是没有写入二维码文件的权限"));
    EXPECT_EQ(ToBmp(dir / "s.bmp", dir / "folder.bmp"), Gbk("转换失败!"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.bmp"));

    // Through a symbolic link the file it names is written and the link stays.
    ASSERT_EQ(::symlink((dir / "real.bmp").c_str(), (dir / "link.bmp").c_str()), 0);
    ASSERT_EQ(Make("linked", dir / "link.bmp", 0, 0), "OK");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.bmp"));
    EXPECT_EQ(ReadFile(dir / "real.bmp").substr(0, 2), "BM");
    alarm(0);
}

TEST(ImagingExports, DevicesAndReadFifosTakeTheOutput) {
    alarm(60);
    ScratchDir dir;
    ASSERT_EQ(Make("device", dir / "s.bmp", 0, 0), "OK");
    const std::string bmp = ReadFile(dir / "s.bmp");
    // A character device, named directly or through a link with the extension the export needs.
    ASSERT_EQ(::symlink("/dev/null", (dir / "null.bmp").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (dir / "null.jpg").c_str()), 0);
    EXPECT_EQ(Make("device", dir / "null.bmp", 0, 0), "OK");
    EXPECT_EQ(ToBmp(dir / "s.bmp", "/dev/null"), "OK");
    EXPECT_EQ(ToJpg(dir / "s.bmp", "/dev/null", 80), "OK");
    EXPECT_EQ(Make("device", dir / "null.jpg", 0, 0), "OK");
    EXPECT_FALSE(std::filesystem::exists(dir / "null.jpg.bmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "null.bmp"));

    // A FIFO with a reader gets the whole file, as a regular file would.
    ASSERT_EQ(::mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
    {
        testfiles::FifoReader reader(dir / "fifo.bmp");
        ASSERT_TRUE(reader.reading());
        EXPECT_EQ(Make("device", dir / "fifo.bmp", 0, 0), "OK");
        EXPECT_EQ(reader.Finish(), bmp);
    }
    {
        testfiles::FifoReader reader(dir / "fifo.bmp");
        ASSERT_TRUE(reader.reading());
        EXPECT_EQ(ToBmp(dir / "s.bmp", dir / "fifo.bmp"), "OK");
        EXPECT_EQ(reader.Finish().substr(0, 2), "BM");
    }
    {
        testfiles::FifoReader reader(dir / "fifo.bmp");
        ASSERT_TRUE(reader.reading());
        EXPECT_EQ(ToJpg(dir / "s.bmp", dir / "fifo.bmp", 80), "OK");
        EXPECT_EQ(reader.Finish().substr(0, 3), "\xFF\xD8\xFF");
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.bmp"));
    alarm(0);
}
