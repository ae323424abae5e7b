// Data-store exports and the file kinds only POSIX systems have: FIFOs, device nodes, symbolic
// links, and writers in a forked process.
#include "host_calls.h"
#include "test_files.h"
#include "vbhost.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using dshost::Database;
using dshost::kOpenFailed;
using dshost::Read;
using dshost::Write;

TEST(SQLiteOpen, OnlyRegularFilesAreDatabases) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    testfiles::TempFolder folder;
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    for (const std::string &path : {folder / "fifo", std::string("/dev/zero")}) {
        Database db(path);
        EXPECT_EQ(db.opened, 0) << path;
        EXPECT_EQ(db.openMessage, "14" + kOpenFailed) << path;
        EXPECT_EQ(db.Execute("create table t(x)"), 0) << path;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "fifo"));
    alarm(0);
}

TEST(IniValues, AWriteThroughASymbolicLinkKeepsTheLink) {
    testfiles::TempFolder folder;
    const std::string target = folder / "target.ini";
    const std::string link = folder / "link.ini";
    ASSERT_NE(Write("S", "K", "1", target), 0);
    std::filesystem::create_symlink(target, link);
    ASSERT_NE(Write("S", "K", "2", link), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Read("S", "K", "", target), "2");
}

TEST(IniValues, SpecialFilesAreNeitherWaitedOnNorReplaced) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    testfiles::TempFolder folder;
    const std::string fifo = folder / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A private device node (the null device's numbers) rather than /dev/null itself, so that a
    // fault here could never replace a node the system uses.
    const std::string node = folder / "node.ini";
    const bool haveNode = ::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::filesystem::create_symlink(node, folder / "device.ini");
    EXPECT_EQ(Read("S", "K", "fallback", "/dev/zero"), "fallback");
    for (const std::string &file : {fifo, node, folder / "device.ini"}) {
        if (file != fifo && !haveNode) {
            continue;
        }
        EXPECT_EQ(Read("S", "K", "fallback", file), "fallback") << file;
        EXPECT_EQ(Write("S", "K", "v", file), 0) << file;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "device.ini"));
    EXPECT_TRUE(!haveNode || std::filesystem::is_character_file(node));

    // A link whose file does not exist yet, through a relative link in another folder: the file
    // is made where the links lead, and both links stay.
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::create_symlink("../made.ini", folder / "sub/dangling.ini");
    std::filesystem::create_symlink("sub/dangling.ini", folder / "outer.ini");
    ASSERT_NE(Write("S", "K", "v", folder / "outer.ini"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "outer.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "sub/dangling.ini"));
    EXPECT_EQ(Read("S", "K", "", folder / "made.ini"), "v");
    alarm(0);
}

TEST(IniValues, WritersInTwoProcessesKeepEachOthersKeys) {
    testfiles::TempFolder folder;
    const std::string file = folder / "p.ini";
    constexpr int kKeys = 25;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    const std::string prefix = child == 0 ? "child" : "parent";
    bool allWritten = true;
    for (int i = 0; i < kKeys; ++i) {
        allWritten =
            Write("S", prefix + std::to_string(i), std::to_string(i), file) != 0 && allWritten;
    }
    if (child == 0) {
        ::_exit(allWritten ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(allWritten);
    for (int i = 0; i < kKeys; ++i) {
        EXPECT_EQ(Read("S", "child" + std::to_string(i), "", file), std::to_string(i));
        EXPECT_EQ(Read("S", "parent" + std::to_string(i), "", file), std::to_string(i));
    }
}

} // namespace
