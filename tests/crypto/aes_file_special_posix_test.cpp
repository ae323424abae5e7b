// The AES file exports and what only POSIX systems name: FIFOs, devices and symbolic links.
#include "aes_file_calls.h"
#include "fifo_reader.h"
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
    // A FIFO that nobody reads or a folder is no target: refused, not waited on, left as it is.
    WriteBytes(dir / "plain.txt", "text");
    fs::create_directory(dir / "folder");
    for (const std::string &target : {dir / "fifo", dir / "folder"}) {
        EXPECT_EQ(Encrypt(dir / "plain.txt", target, 1), Gbk("加密结果文件不存在！")) << target;
        EXPECT_EQ(Decrypt(dir / "plain.txt", target, 1), Gbk("解密结果文件不存在！")) << target;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    alarm(0);
}

TEST(AesFileExportsPosix, DevicesAndReadFifosTakeTheOutput) {
    alarm(60);
    testfiles::TempFolder dir;
    WriteBytes(dir / "plain.txt", "seventeen bytes!!");
    ASSERT_EQ(Encrypt(dir / "plain.txt", dir / "cipher.bin", 1), "OK");
    const std::string cipher = ReadBytes(dir / "cipher.bin");
    ASSERT_EQ(cipher.size(), 32u);
    // A character device takes the bytes as they come, directly or through a link.
    fs::create_symlink("/dev/null", dir / "null-link");
    for (const std::string &device : {std::string("/dev/null"), dir / "null-link"}) {
        EXPECT_EQ(Encrypt(dir / "plain.txt", device, 1), "OK") << device;
        EXPECT_EQ(Decrypt(dir / "cipher.bin", device, 1), "OK") << device;
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_symlink(dir / "null-link"));
    // A FIFO with a reader gets exactly what a file would get.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    {
        testfiles::FifoReader reader(dir / "fifo");
        ASSERT_TRUE(reader.reading());
        EXPECT_EQ(Encrypt(dir / "plain.txt", dir / "fifo", 1), "OK");
        EXPECT_EQ(reader.Finish(), cipher);
    }
    {
        testfiles::FifoReader reader(dir / "fifo");
        ASSERT_TRUE(reader.reading());
        EXPECT_EQ(Decrypt(dir / "cipher.bin", dir / "fifo", 1), "OK");
        EXPECT_EQ(reader.Finish(), "seventeen bytes!!");
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
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
