// The imaging exports on the special files of a POSIX file system: FIFOs, devices, folders and
// symbolic links.
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

    // Through a symbolic link the file it names is written and the link stays.
    ASSERT_EQ(::symlink((dir / "real.bmp").c_str(), (dir / "link.bmp").c_str()), 0);
    ASSERT_EQ(Make("linked", dir / "link.bmp", 0, 0), "OK");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.bmp"));
    EXPECT_EQ(ReadFile(dir / "real.bmp").substr(0, 2), "BM");
    alarm(0);
}
