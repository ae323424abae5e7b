// AES file exports called as a Visual Basic host calls them, on real files in a scratch folder.
#include "vbhost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using vbhost::Gbk;
using vbhost::String;
using vbhost::Take;

constexpr const char *kKey = "file key text";
constexpr const char *kIv = "file iv text";

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "kestrun-aes-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    std::string operator/(const std::string &name) const { return (path_ / name).string(); }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Encrypt(const std::string &from, const std::string &to, int mode) {
    return Take(AESEncryptTxtFile_GB(from.c_str(), to.c_str(), kKey, kIv, mode)).value_or("<null>");
}

std::string Decrypt(const std::string &from, const std::string &to, int mode) {
    return Take(AESDecryptTxtFile_GB(from.c_str(), to.c_str(), kKey, kIv, mode)).value_or("<null>");
}

std::string TextOfLength(size_t n) {
    std::string text;
    text.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        text.push_back(static_cast<char>(i % 95 + 32));
    }
    return text;
}

TEST(AesFileExports, SizesRoundTripInEveryMode) {
    ScratchFolder dir;
    // Several megabytes in one mode keep the test quick; the small sizes run in all three.
    const size_t big = 3 * 1024 * 1024 + 5;
    for (const int mode : {0, 1, 2}) {
        for (const size_t size : {size_t{0}, size_t{15}, size_t{16}, size_t{17}, big}) {
            if (size == big && mode != 1) {
                continue;
            }
            const std::string text = TextOfLength(size);
            WriteFile(dir / "plain.txt", text);
            ASSERT_EQ(Encrypt(dir / "plain.txt", dir / "cipher.bin", mode), "OK");
            EXPECT_EQ(fs::file_size(dir / "cipher.bin"), (size / 16 + 1) * 16) << size;
            ASSERT_EQ(Decrypt(dir / "cipher.bin", dir / "back.txt", mode), "OK");
            EXPECT_TRUE(ReadFile(dir / "back.txt") == text) << "mode " << mode << " size " << size;
        }
    }
}

TEST(AesFileExports, MatchesTheStringExportWithZeroPadding) {
    // A file is encrypted like its text with zero padding (the last block is always padding).
    ScratchFolder dir;
    const std::string text = Gbk("第一行\r\n second line, a little longer\n");
    WriteFile(dir / "a.txt", text);
    ASSERT_EQ(Encrypt(dir / "a.txt", dir / "a.bin", 1), "OK");
    const auto hex = Take(AESEncrypt_GB(text.c_str(), kKey, kIv, 1, 0, 1));
    String bytes(ReadFile(dir / "a.bin"));
    EXPECT_EQ(Take(StrToHex_GB(bytes.ref(), 0)), hex);
}

TEST(AesFileExports, ZeroBytesEndABlock) {
    ScratchFolder dir;
    WriteFile(dir / "z.txt", std::string("ab\0cd", 5) + "0123456789abcdefXYZ");
    ASSERT_EQ(Encrypt(dir / "z.txt", dir / "z.bin", 1), "OK");
    ASSERT_EQ(Decrypt(dir / "z.bin", dir / "z.out", 1), "OK");
    EXPECT_EQ(ReadFile(dir / "z.out"), "ab" + std::string("bcdefXYZ"));
}

TEST(AesFileExports, CiphertextBlockStartingWithZeroDecrypts) {
    ScratchFolder dir;
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
    WriteFile(dir / "t.txt", text);
    ASSERT_EQ(Encrypt(dir / "t.txt", dir / "t.bin", 0), "OK");
    ASSERT_EQ(ReadFile(dir / "t.bin")[0], '\0');
    ASSERT_EQ(Decrypt(dir / "t.bin", dir / "t.out", 0), "OK");
    EXPECT_EQ(ReadFile(dir / "t.out"), text);
}

TEST(AesFileExports, OpeningFailures) {
    ScratchFolder dir;
    const std::string missingPath = Gbk("文件参数不能为空！");
    EXPECT_EQ(Take(AESEncryptTxtFile_GB(nullptr, "x", kKey, kIv, 1)), missingPath);
    EXPECT_EQ(Take(AESEncryptTxtFile_GB("x", nullptr, kKey, kIv, 1)), missingPath);
    EXPECT_EQ(Take(AESDecryptTxtFile_GB(nullptr, nullptr, kKey, kIv, 1)), missingPath);

    // A missing source: the message, and the target is still created (emptied).
    WriteFile(dir / "old.bin", "previous content");
    EXPECT_EQ(Encrypt(dir / "missing.txt", dir / "old.bin", 1), Gbk("待加密文件打开失败！"));
    EXPECT_EQ(ReadFile(dir / "old.bin"), "");
    EXPECT_EQ(Decrypt(dir / "missing.bin", dir / "new.txt", 1), Gbk("待解密文件打开失败！"));
    EXPECT_TRUE(fs::exists(dir / "new.txt"));

    WriteFile(dir / "in.txt", "text");
    EXPECT_EQ(Encrypt(dir / "in.txt", dir / "no/such/folder.bin", 1), Gbk("加密结果文件不存在！"));
    EXPECT_EQ(Decrypt(dir / "in.txt", dir / "no/such/folder.txt", 1), Gbk("解密结果文件不存在！"));
    EXPECT_EQ(Encrypt(dir / "in.txt", "", 1), Gbk("加密结果文件不存在！"));
    EXPECT_EQ(Encrypt("", dir / "x.bin", 1), Gbk("待加密文件打开失败！"));
}

TEST(AesFileExports, SourcesThatAreNotRegularFilesGiveTheOpenMessage) {
    // A folder opens for reading on this system but never reads, /dev/zero never ends and a FIFO
    // nobody writes to would block: each is refused as a source that does not open, and the
    // target is left as that failure leaves it (created, empty).
    alarm(60); // a source that never ends would end the test here rather than hang the run
    ScratchFolder dir;
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string &source : {dir / "folder", std::string("/dev/zero"), dir / "fifo"}) {
        WriteFile(dir / "f.bin", "old");
        EXPECT_EQ(Encrypt(source, dir / "f.bin", 1), Gbk("待加密文件打开失败！")) << source;
        EXPECT_TRUE(fs::is_regular_file(dir / "f.bin"));
        EXPECT_EQ(ReadFile(dir / "f.bin"), "") << source;
        WriteFile(dir / "f.txt", "old");
        EXPECT_EQ(Decrypt(source, dir / "f.txt", 1), Gbk("待解密文件打开失败！")) << source;
        EXPECT_EQ(ReadFile(dir / "f.txt"), "") << source;
    }
    // A FIFO or a device as the target is not a file to write to.
    WriteFile(dir / "plain.txt", "text");
    EXPECT_EQ(Encrypt(dir / "plain.txt", dir / "fifo", 1), Gbk("加密结果文件不存在！"));
    EXPECT_EQ(Decrypt(dir / "plain.txt", dir / "fifo", 1), Gbk("解密结果文件不存在！"));
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(Encrypt(dir / "plain.txt", "/dev/null", 1), Gbk("加密结果文件不存在！"));
    alarm(0);
}

TEST(AesFileExports, GbkPaths) {
    ScratchFolder dir;
    const std::string name = (dir.path() / "中文名.txt").string(); // UTF-8 on the file system
    WriteFile(name, "hello");
    const std::string gbkSource = Gbk(name);
    const std::string gbkTarget = Gbk((dir.path() / "密文.bin").string());
    ASSERT_EQ(Encrypt(gbkSource, gbkTarget, 1), "OK");
    EXPECT_EQ(fs::file_size(dir.path() / "密文.bin"), 16u);
}

TEST(AesFileExports, SameFileAsSourceAndTargetIsRefusedUntouched) {
    ScratchFolder dir;
    const std::string text = TextOfLength(100);
    const std::string path = dir / "same.txt";
    WriteFile(path, text);
    fs::create_symlink(path, dir / "link.txt");
    fs::create_hard_link(path, dir / "hard.txt");
    const std::string others[] = {
        path, (dir.path() / "." / "same.txt").string(), dir / "link.txt", dir / "hard.txt",
        (dir.path() / ".." / dir.path().filename() / "same.txt").string()};
    for (const std::string &other : others) {
        EXPECT_EQ(Encrypt(path, other, 1), Gbk("待加密文件打开失败！")) << other;
        EXPECT_EQ(Encrypt(other, path, 1), Gbk("待加密文件打开失败！")) << other;
        EXPECT_EQ(Decrypt(path, other, 1), Gbk("待解密文件打开失败！")) << other;
        EXPECT_EQ(Decrypt(other, path, 1), Gbk("待解密文件打开失败！")) << other;
        EXPECT_EQ(ReadFile(path), text) << other;
    }
    // A relative spelling through the current folder.
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(Encrypt("./same.txt", path, 1), Gbk("待加密文件打开失败！"));
    EXPECT_EQ(Encrypt("same.txt", "./link.txt", 1), Gbk("待加密文件打开失败！"));
    fs::current_path(before);
    EXPECT_EQ(ReadFile(path), text);
}

} // namespace
