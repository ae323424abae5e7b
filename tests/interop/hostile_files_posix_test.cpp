// The shared layer and what only POSIX systems name: every code page 936 character against
// iconv, FIFOs, devices and symbolic links.
#include "kestrun/interop/codepage_seam.h"
#include "kestrun/interop/frame.h"
#include "kestrun/interop/regular_file_seam.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kestrun::interop;
using kestrun::platform::FileHandle;

// iconv asked about one character at a time: the reference the conversion tables must agree
// with. Empty when iconv cannot convert it.
std::string IconvOne(const char *to, const char *from, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    char out[16];
    char *src = const_cast<char *>(in.data());
    size_t inLeft = in.size();
    char *dst = out;
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &src, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) {
        return {};
    }
    return std::string(out, sizeof out - outLeft);
}

TEST(CodePageTables, EveryCharacterConvertsAsIconvConvertsIt) {
    // Every two-byte sequence with a lead byte, and every single high byte.
    for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
        const std::string single(1, static_cast<char>(lead));
        const std::string one = IconvOne("UTF-16LE", "CP936", single);
        std::u16string expected =
            one.size() == 2
                ? std::u16string(1, static_cast<char16_t>((one[1] & 0xFF) << 8 | (one[0] & 0xFF)))
                : u"?";
        if (lead == 0x80) // mapped as the system's code page maps them, whatever iconv says
            expected = u"\u20AC";
        if (lead == 0xFF)
            expected = u"\uF8F5";
        ASSERT_EQ(AnsiToWide(single), expected) << lead;
        if (one.size() == 2) {
            continue;
        }
        for (unsigned trail = 0x40; trail <= 0xFF; ++trail) {
            const std::string pair = single + static_cast<char>(trail);
            const std::string ref = IconvOne("UTF-16LE", "CP936", pair);
            std::u16string want;
            if (ref.size() == 2) {
                want = std::u16string(
                    1, static_cast<char16_t>((ref[1] & 0xFF) << 8 | (ref[0] & 0xFF)));
            } else {
                // Not a character: "?" for the lead byte, then the trail byte read afresh.
                want = (lead == 0xFF ? u"\uF8F5" : u"?") +
                       AnsiToWide(std::string(1, static_cast<char>(trail)));
            }
            ASSERT_EQ(AnsiToWide(pair), want) << lead << " " << trail;
        }
    }
    // Every character of the Basic Multilingual Plane but the surrogates.
    for (unsigned u = 0x80; u <= 0xFFFF; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) {
            continue;
        }
        const char16_t unit = static_cast<char16_t>(u);
        const std::string ref = IconvOne(
            "CP936", "UTF-16LE", std::string_view(reinterpret_cast<const char *>(&unit), 2));
        std::string want = ref.empty() ? "?" : ref;
        if (u == 0x20AC)
            want = "\x80";
        if (u == 0xF8F5)
            want = "\xFF";
        ASSERT_EQ(WideToAnsi(std::u16string(1, unit)), want) << u;
    }
}

TEST(CallerFiles, OnlyRegularFilesOpenAndNothingWaits) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    testfiles::TempFolder dir;
    std::ofstream(dir / "plain") << "content";
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "plain", dir / "link");

    using kestrun::platform::OpenRegularForReading;
    using kestrun::platform::OpenRegularForWriting;
    EXPECT_TRUE(OpenRegularForReading(dir / "plain"));
    EXPECT_TRUE(OpenRegularForReading(dir / "link"));
    for (const std::string &bad :
         {dir / "fifo", dir / "folder", std::string("/dev/zero"), dir / "missing", std::string()}) {
        EXPECT_FALSE(OpenRegularForReading(bad)) << bad;
    }
    for (const std::string &bad :
         {dir / "fifo", dir / "folder", std::string("/dev/null"), std::string()}) {
        EXPECT_FALSE(OpenRegularForWriting(bad, true)) << bad;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));

    // Writing in place empties an existing file only when asked, through links too.
    FileHandle kept = OpenRegularForWriting(dir / "link", false);
    ASSERT_TRUE(kept);
    kept.Close();
    EXPECT_EQ(fs::file_size(dir / "plain"), 7u);
    EXPECT_TRUE(OpenRegularForWriting(dir / "link", true));
    EXPECT_EQ(fs::file_size(dir / "plain"), 0u);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_TRUE(OpenRegularForWriting(dir / "new", true));
    EXPECT_TRUE(fs::is_regular_file(dir / "new"));
    alarm(0);
}

TEST(CallerFiles, WriteTargetsTakeDevicesAndReadFifos) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    using kestrun::platform::OpenWriteTarget;
    using kestrun::platform::WriteAllTo;
    testfiles::TempFolder dir;
    std::ofstream(dir / "plain") << "content";
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "plain", dir / "link");

    // Regular files are emptied (through links too) or created.
    EXPECT_TRUE(OpenWriteTarget(dir / "link"));
    EXPECT_EQ(fs::file_size(dir / "plain"), 0u);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_TRUE(OpenWriteTarget(dir / "new"));
    EXPECT_TRUE(fs::is_regular_file(dir / "new"));
    // A character device takes writes, in blocking mode.
    FileHandle null = OpenWriteTarget("/dev/null");
    ASSERT_TRUE(null);
    EXPECT_EQ(::fcntl(null.get(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_TRUE(WriteAllTo(null.get(), "discarded"));
    // A FIFO opens only while somebody reads it.
    EXPECT_FALSE(OpenWriteTarget(dir / "fifo"));
    const int reader = ::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        FileHandle fifo = OpenWriteTarget(dir / "fifo");
        ASSERT_TRUE(fifo);
        EXPECT_TRUE(WriteAllTo(fifo.get(), "through"));
    }
    char buffer[16] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 7);
    EXPECT_EQ(std::string(buffer, 7), "through");
    ::close(reader);
    EXPECT_FALSE(OpenWriteTarget(dir / "fifo"));
    // Folders, sockets and empty names are refused and left as they are.
    EXPECT_FALSE(OpenWriteTarget(dir / "folder"));
    EXPECT_FALSE(OpenWriteTarget(std::string()));
    const std::string socketPath = dir / "socket";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    EXPECT_FALSE(OpenWriteTarget(socketPath));
    EXPECT_TRUE(fs::is_socket(socketPath));
    ::close(sock);
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    alarm(0);
}

TEST(CallerFiles, ReplacementGoesToTheEndOfTheLinks) {
    using kestrun::platform::ReplacementTarget;
    testfiles::TempFolder dir;
    std::ofstream(dir / "plain") << "content";
    fs::create_directory(dir / "sub");
    fs::create_symlink(dir / "plain", dir / "sub/absolute");
    fs::create_symlink("absolute", dir / "sub/relative"); // relative to its own folder
    fs::create_symlink("../missing", dir / "sub/dangling");
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    fs::create_symlink("/dev/null", dir / "device");

    EXPECT_EQ(ReplacementTarget(dir / "plain"), dir / "plain");
    EXPECT_EQ(ReplacementTarget(dir / "new"), dir / "new");
    EXPECT_EQ(ReplacementTarget(dir / "sub/absolute"), dir / "plain");
    EXPECT_EQ(ReplacementTarget(dir / "sub/relative"), dir / "plain");
    EXPECT_EQ(ReplacementTarget(dir / "sub/dangling"), dir / "sub/../missing");
    EXPECT_EQ(ReplacementTarget(dir / "loop1"), std::nullopt);
    EXPECT_EQ(ReplacementTarget(dir / "device"), std::nullopt);
    EXPECT_EQ(ReplacementTarget("/dev/null"), std::nullopt);
    EXPECT_EQ(ReplacementTarget(dir / "sub"), std::nullopt);
    EXPECT_TRUE(kestrun::platform::IsMissingOrRegularFile(dir / "sub/relative"));
    EXPECT_FALSE(kestrun::platform::IsMissingOrRegularFile(dir / "device"));
}

} // namespace
