// The AES file exports and what only POSIX systems name: FIFOs, devices and symbolic links.
#include "aes_file_calls.h"
#include "test_files.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using aesfiles::Decrypt;
using aesfiles::Encrypt;
using testfiles::ReadBytes;
using testfiles::WriteBytes;
using vbhost::Gbk;

TEST(AesFileExportsPosix, FifosAndDevicesGiveTheOpenMessage) {
    // /dev/zero never ends and a FIFO nobody writes to would block: each is refused as a source
    // that does not open, and the target is left as that failure leaves it (created, empty).
    alarm(60); // a source that never ends would end the test here rather than hang the run
    testfiles::TempFolder dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string &source : {std::string("/dev/zero"), dir / "fifo"}) {
        WriteBytes(dir / "f.bin", "old");
        EXPECT_EQ(Encrypt(source, dir / "f.bin", 1), Gbk("待加密文件打开失败！")) << source;
        EXPECT_TRUE(fs::is_regular_file(dir / "f.bin"));
        EXPECT_EQ(ReadBytes(dir / "f.bin"), "") << source;
        WriteBytes(dir / "f.txt", "old");
        EXPECT_EQ(Decrypt(source, dir / "f.txt", 1), Gbk("待解密文件打开失败！")) << source;
        EXPECT_EQ(ReadBytes(dir / "f.txt"), "") << source;
    }
    // A FIFO or a device as the target is not a file to write to.
    WriteBytes(dir / "plain.txt", "text");
    EXPECT_EQ(Encrypt(dir / "plain.txt", dir / "fifo", 1), Gbk("加密结果文件不存在！"));
    EXPECT_EQ(Decrypt(dir / "plain.txt", dir / "fifo", 1), Gbk("解密结果文件不存在！"));
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(Encrypt(dir / "plain.txt", "/dev/null", 1), Gbk("加密结果文件不存在！"));
    alarm(0);
}

TEST(AesFileExportsPosix, ASymbolicLinkToTheSourceIsTheSameFile) {
    testfiles::TempFolder dir;
    const std::string path = dir / "same.txt";
    WriteBytes(path, "some text");
    fs::create_symlink(path, dir / "link.txt");
    EXPECT_EQ(Encrypt(path, dir / "link.txt", 1), Gbk("待加密文件打开失败！"));
    EXPECT_EQ(Decrypt(dir / "link.txt", path, 1), Gbk("待解密文件打开失败！"));
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(Encrypt("same.txt", "./link.txt", 1), Gbk("待加密文件打开失败！"));
    fs::current_path(before);
    EXPECT_EQ(ReadBytes(path), "some text");
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
}

} // namespace
