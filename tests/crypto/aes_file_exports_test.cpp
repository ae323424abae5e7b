// AES file exports called as a Visual Basic host calls them, on real files in a scratch folder.
#include "aes_file_calls.h"
#include "test_files.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using aesfiles::Decrypt;
using aesfiles::Encrypt;
using aesfiles::kIv;
using aesfiles::kKey;
using aesfiles::TextOfLength;
using testfiles::ReadBytes;
using testfiles::WriteBytes;
using vbhost::Gbk;
using vbhost::String;
using vbhost::Take;

fs::path Utf8Path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

TEST(AesFileExports, SizesRoundTripInEveryMode) {
    testfiles::TempFolder dir;
    // Several megabytes in one mode keep the test quick; the small sizes run in all three.
    const size_t big = 3 * 1024 * 1024 + 5;
    for (const int mode : {0, 1, 2}) {
        for (const size_t size : {size_t{0}, size_t{15}, size_t{16}, size_t{17}, big}) {
            if (size == big && mode != 1) {
                continue;
            }
            const std::string text = TextOfLength(size);
            WriteBytes(dir / "plain.txt", text);
            ASSERT_EQ(Encrypt(dir / "plain.txt", dir / "cipher.bin", mode), "OK");
            EXPECT_EQ(fs::file_size(dir / "cipher.bin"), (size / 16 + 1) * 16) << size;
            ASSERT_EQ(Decrypt(dir / "cipher.bin", dir / "back.txt", mode), "OK");
            EXPECT_TRUE(ReadBytes(dir / "back.txt") == text) << "mode " << mode << " size " << size;
        }
    }
}

TEST(AesFileExports, MatchesTheStringExportWithZeroPadding) {
    // A file is encrypted like its text with zero padding (the last block is always padding).
    testfiles::TempFolder dir;
    const std::string text = Gbk("第一行\r\n second line, a little longer\n");
    WriteBytes(dir / "a.txt", text);
    ASSERT_EQ(Encrypt(dir / "a.txt", dir / "a.bin", 1), "OK");
    const auto hex = Take(AESEncrypt_GB(text.c_str(), kKey, kIv, 1, 0, 1));
    String bytes(ReadBytes(dir / "a.bin"));
    EXPECT_EQ(Take(StrToHex_GB(bytes.ref(), 0)), hex);
}

TEST(AesFileExports, ZeroBytesEndABlock) {
    testfiles::TempFolder dir;
    WriteBytes(dir / "z.txt", std::string("ab\0cd", 5) + "0123456789abcdefXYZ");
    ASSERT_EQ(Encrypt(dir / "z.txt", dir / "z.bin", 1), "OK");
    ASSERT_EQ(Decrypt(dir / "z.bin", dir / "z.out", 1), "OK");
    EXPECT_EQ(ReadBytes(dir / "z.out"), "ab" + std::string("bcdefXYZ"));
}

TEST(AesFileExports, CiphertextBlockStartingWithZeroDecrypts) {
    testfiles::TempFolder dir;
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        const std::string candidate = "line " + std::to_string(i);
        const auto hex = Take(AESEncrypt_GB(candidate.c_str(), kKey, kIv, 0, 0, 1));
        if (hex && hex->compare(0, 2, "00") == 0) {
            text = candidate;
            break;
        }
    }
    ASSERT_FALSE(text.empty());
    WriteBytes(dir / "t.txt", text);
    ASSERT_EQ(Encrypt(dir / "t.txt", dir / "t.bin", 0), "OK");
    ASSERT_EQ(ReadBytes(dir / "t.bin")[0], '\0');
    ASSERT_EQ(Decrypt(dir / "t.bin", dir / "t.out", 0), "OK");
    EXPECT_EQ(ReadBytes(dir / "t.out"), text);
}

TEST(AesFileExports, OpeningFailures) {
    testfiles::TempFolder dir;
    const std::string missingPath = Gbk("文件参数不能为空！");
    EXPECT_EQ(Take(AESEncryptTxtFile_GB(nullptr, "x", kKey, kIv, 1)), missingPath);
    EXPECT_EQ(Take(AESEncryptTxtFile_GB("x", nullptr, kKey, kIv, 1)), missingPath);
    EXPECT_EQ(Take(AESDecryptTxtFile_GB(nullptr, nullptr, kKey, kIv, 1)), missingPath);

    // A missing source: the message, and the target is still created (emptied).
    WriteBytes(dir / "old.bin", "previous content");
    EXPECT_EQ(Encrypt(dir / "missing.txt", dir / "old.bin", 1), Gbk("待加密文件打开失败！"));
    EXPECT_EQ(ReadBytes(dir / "old.bin"), "");
    EXPECT_EQ(Decrypt(dir / "missing.bin", dir / "new.txt", 1), Gbk("待解密文件打开失败！"));
    EXPECT_TRUE(fs::exists(dir / "new.txt"));

    WriteBytes(dir / "in.txt", "text");
    EXPECT_EQ(Encrypt(dir / "in.txt", dir / "no/such/folder.bin", 1), Gbk("加密结果文件不存在！"));
    EXPECT_EQ(Decrypt(dir / "in.txt", dir / "no/such/folder.txt", 1), Gbk("解密结果文件不存在！"));
    EXPECT_EQ(Encrypt(dir / "in.txt", "", 1), Gbk("加密结果文件不存在！"));
    EXPECT_EQ(Encrypt("", dir / "x.bin", 1), Gbk("待加密文件打开失败！"));
}

TEST(AesFileExports, AFolderIsNoSource) {
    testfiles::TempFolder dir;
    fs::create_directory(dir / "folder");
    WriteBytes(dir / "f.bin", "old");
    EXPECT_EQ(Encrypt(dir / "folder", dir / "f.bin", 1), Gbk("待加密文件打开失败！"));
    EXPECT_TRUE(fs::is_regular_file(dir / "f.bin"));
    EXPECT_EQ(ReadBytes(dir / "f.bin"), "");
    WriteBytes(dir / "f.txt", "old");
    EXPECT_EQ(Decrypt(dir / "folder", dir / "f.txt", 1), Gbk("待解密文件打开失败！"));
    EXPECT_EQ(ReadBytes(dir / "f.txt"), "");
    // Nor is it a target.
    WriteBytes(dir / "plain.txt", "text");
    EXPECT_EQ(Encrypt(dir / "plain.txt", dir / "folder", 1), Gbk("加密结果文件不存在！"));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
}

TEST(AesFileExports, GbkPaths) {
    testfiles::TempFolder dir;
    // The scratch folder's own path is ASCII: the same bytes in UTF-8 and in GBK.
    const std::string name = dir.path() + "/中文名.txt";
    std::ofstream(Utf8Path(name), std::ios::binary) << "hello";
    const std::string gbkTarget = Gbk(dir.path() + "/密文.bin");
    ASSERT_EQ(Encrypt(Gbk(name), gbkTarget, 1), "OK");
    EXPECT_EQ(fs::file_size(Utf8Path(dir.path() + "/密文.bin")), 16u);
}

TEST(AesFileExports, SameFileAsSourceAndTargetIsRefusedUntouched) {
    testfiles::TempFolder dir;
    const std::string text = TextOfLength(100);
    const std::string path = dir / "same.txt";
    WriteBytes(path, text);
    fs::create_hard_link(path, dir / "hard.txt");
    const fs::path folder(dir.path());
    const std::string others[] = {path, dir / "./same.txt", dir / "hard.txt",
                                  dir / ("../" + folder.filename().string() + "/same.txt")};
    for (const std::string &other : others) {
        EXPECT_EQ(Encrypt(path, other, 1), Gbk("待加密文件打开失败！")) << other;
        EXPECT_EQ(Encrypt(other, path, 1), Gbk("待加密文件打开失败！")) << other;
        EXPECT_EQ(Decrypt(path, other, 1), Gbk("待解密文件打开失败！")) << other;
        EXPECT_EQ(Decrypt(other, path, 1), Gbk("待解密文件打开失败！")) << other;
        EXPECT_EQ(ReadBytes(path), text) << other;
    }
    // A relative spelling through the current folder.
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    EXPECT_EQ(Encrypt("./same.txt", path, 1), Gbk("待加密文件打开失败！"));
    EXPECT_EQ(Encrypt("same.txt", "./hard.txt", 1), Gbk("待加密文件打开失败！"));
    fs::current_path(before);
    EXPECT_EQ(ReadBytes(path), text);
}

} // namespace
