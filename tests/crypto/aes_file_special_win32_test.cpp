// The AES file exports and what Windows names besides files: devices (NUL, CON, also with an
// extension inside a folder), named pipes, and other spellings of one file.
#include "aes_file_calls.h"
#include "test_files.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using aesfiles::Decrypt;
using aesfiles::Encrypt;
using testfiles::ReadBytes;
using testfiles::WriteBytes;
using vbhost::Gbk;

TEST(AesFileExportsWindows, DevicesAndPipesGiveTheOpenMessage) {
    testfiles::TempFolder dir;
    testfiles::ServedPipe pipe;
    ASSERT_TRUE(pipe.served());
    // CON would wait for typing and a pipe for its server: neither may be read.
    const std::vector<std::string> sources = {"NUL", "CON", "\\\\.\\NUL", dir / "nul.txt",
                                              pipe.path()};
    for (const std::string &source : sources) {
        WriteBytes(dir / "f.bin", "old");
        EXPECT_EQ(Encrypt(source, dir / "f.bin", 1), Gbk("待加密文件打开失败！")) << source;
        EXPECT_EQ(ReadBytes(dir / "f.bin"), "") << source;
        WriteBytes(dir / "f.txt", "old");
        EXPECT_EQ(Decrypt(source, dir / "f.txt", 1), Gbk("待解密文件打开失败！")) << source;
        EXPECT_EQ(ReadBytes(dir / "f.txt"), "") << source;
    }
    EXPECT_EQ(testfiles::Listing(dir.path()).size(), 2u); // f.bin, f.txt
}

TEST(AesFileExportsWindows, DevicesAndServedPipesTakeTheOutput) {
    testfiles::TempFolder dir;
    WriteBytes(dir / "plain.txt", "text");
    ASSERT_EQ(Encrypt(dir / "plain.txt", dir / "cipher.bin", 1), "OK");
    // NUL takes the bytes as they come, under any of its names.
    for (const std::string &target : {std::string("NUL"), std::string("\\\\.\\NUL")}) {
        EXPECT_EQ(Encrypt(dir / "plain.txt", target, 1), "OK") << target;
        EXPECT_EQ(Decrypt(dir / "cipher.bin", target, 1), "OK") << target;
    }
    // A pipe with a free instance of its server takes them too; one that nobody serves and a
    // folder are no targets, and nothing is waited on.
    testfiles::ServedPipe pipe;
    ASSERT_TRUE(pipe.served());
    EXPECT_EQ(Encrypt(dir / "plain.txt", pipe.path(), 1), "OK");
    const std::string unserved = "\\\\.\\pipe\\kestrun-nobody-serves-this";
    EXPECT_EQ(Encrypt(dir / "plain.txt", unserved, 1), Gbk("加密结果文件不存在！"));
    fs::create_directory(dir / "folder");
    EXPECT_EQ(Decrypt(dir / "cipher.bin", dir / "folder", 1), Gbk("解密结果文件不存在！"));
    EXPECT_EQ(testfiles::Listing(dir.path()).size(), 3u); // plain.txt, cipher.bin, folder
}

TEST(AesFileExportsWindows, OtherSpellingsOfTheSourceAreTheSameFile) {
    testfiles::TempFolder dir;
    const std::string path = dir / "Same File.txt";
    WriteBytes(path, "some text");
    std::string backslashes = path;
    std::replace(backslashes.begin(), backslashes.end(), '/', '\\');
    std::vector<std::string> others = {dir / "SAME FILE.TXT", dir / "same file.txt", backslashes};
    // The 8.3 short name, where the volume keeps them.
    wchar_t shortName[MAX_PATH] = {};
    const std::wstring wide(path.begin(), path.end()); // an ASCII path
    const DWORD length = GetShortPathNameW(wide.c_str(), shortName, MAX_PATH);
    if (length > 0 && length < MAX_PATH && std::wstring(shortName) != wide) {
        others.emplace_back(shortName, shortName + length);
    }
    for (const std::string &other : others) {
        EXPECT_EQ(Encrypt(path, other, 1), Gbk("待加密文件打开失败！")) << other;
        EXPECT_EQ(Decrypt(other, path, 1), Gbk("待解密文件打开失败！")) << other;
        EXPECT_EQ(ReadBytes(path), "some text") << other;
    }
}

} // namespace
