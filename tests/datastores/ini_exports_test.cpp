// ReadINIValue and WriteINIValue called as a Visual Basic host calls them.
#include "test_files.h"
#include "vbhost.h"

#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using dstest::ReadBytes;
using dstest::WriteBytes;
using vbhost::Gbk;

std::string Read(std::string_view section, std::string_view key, std::string_view fallback,
                 const std::string &file) {
    vbhost::String s(section), k(key), d(fallback), f(file);
    return vbhost::TakeText(ReadINIValue(s.ref(), k.ref(), d.ref(), f.ref()));
}

int32_t Write(std::string_view section, std::string_view key, std::string_view value,
              const std::string &file) {
    vbhost::String s(section), k(key), v(value), f(file);
    return WriteINIValue(s.ref(), k.ref(), v.ref(), f.ref());
}

TEST(IniValues, CompanionLengthDecidesHowMuchIsRead) {
    dstest::TempFolder folder;
    const std::string file = folder / "a.ini";
    const std::string longValue(1000, 'v');
    ASSERT_NE(Write("S", "Long", longValue, file), 0);
    EXPECT_EQ(Read("S", "Long", "", file), longValue);
    EXPECT_EQ(ReadBytes(file), "[S]\r\nLong[Len]=1000\r\nLong=" + longValue + "\r\n");

    // The same value put in by hand, without a companion: 256 characters.
    WriteBytes(file, "[S]\r\nLong=" + longValue + "\r\n");
    EXPECT_EQ(Read("S", "Long", "", file), longValue.substr(0, 256));
    // A value longer than its record is cut to it; a record of 0 gives the empty text.
    WriteBytes(file, "[S]\nA[Len]=3\nA=abcdef\nB[Len]=0\nB=xyz\n");
    EXPECT_EQ(Read("S", "A", "", file), "abc");
    EXPECT_EQ(Read("S", "B", "", file), "");
    // Records that are no usable length: huge or negative read everything, text reads nothing.
    WriteBytes(file, "[S]\nA[Len]=99999999999999999999\nA=abcdef\nB[Len]=-1\nB=xyz\n"
                     "C[Len]=many\nC=text\n");
    EXPECT_EQ(Read("S", "A", "", file), "abcdef");
    EXPECT_EQ(Read("S", "B", "", file), "xyz");
    EXPECT_EQ(Read("S", "C", "", file), "");

    // Chinese: 3 characters are 6 GBK bytes.
    ASSERT_NE(Write("S", "Name", Gbk("张三丰"), file), 0);
    EXPECT_NE(ReadBytes(file).find("Name[Len]=6\n"), std::string::npos);
    EXPECT_EQ(Read("S", "Name", "", file), Gbk("张三丰"));
    // The empty value records 0.
    ASSERT_NE(Write("S", "Name", "", file), 0);
    EXPECT_NE(ReadBytes(file).find("Name[Len]=0\nName=\n"), std::string::npos);
    EXPECT_EQ(Read("S", "Name", "dflt", file), "");
}

TEST(IniValues, MissingThingsGiveTheDefault) {
    dstest::TempFolder folder;
    const std::string file = folder / "d.ini";
    EXPECT_EQ(Read("S", "K", "fallback", file), "fallback");
    EXPECT_EQ(Read("S", "K", std::string(300, 'd'), file), std::string(256, 'd'));
    EXPECT_EQ(Read("S", "K", "trailing  ", file), "trailing");
    ASSERT_NE(Write("S", "K", "v", file), 0);
    EXPECT_EQ(Read("S", "Other", Gbk("默认"), file), Gbk("默认"));
    EXPECT_EQ(Read("T", "K", "none", file), "none");
    EXPECT_EQ(Read("S", "K", "none", folder.path()), "none"); // a folder, not a file
    // Unset strings everywhere: nothing is read or written, nothing fails.
    EXPECT_EQ(vbhost::TakeText(ReadINIValue(nullptr, nullptr, nullptr, nullptr)), "");
    vbhost::String unset;
    EXPECT_EQ(WriteINIValue(unset.ref(), unset.ref(), unset.ref(), unset.ref()), 0);
}

TEST(IniValues, HandEditedFileKeepsEverythingElse) {
    dstest::TempFolder folder;
    const std::string file = folder / "hand.ini";
    const std::string original = "; settings\r\n"
                                 "[ Main ]\r\n"
                                 "   Colour   =   blue   \r\n"
                                 ";Colour=red\r\n"
                                 "colour=green\r\n"
                                 "\r\n"
                                 "[MAIN]\r\n"
                                 "Size=10\r\n"
                                 "[Other]\r\n"
                                 "x = " +
                                 Gbk("值") + "\r\n";
    WriteBytes(file, original);
    EXPECT_EQ(Read("main", "COLOUR", "", file), "blue");
    EXPECT_EQ(Read("Main", "Size", "none", file), "none"); // the first [Main] wins
    EXPECT_EQ(Read("other", "X", "", file), Gbk("值"));

    ASSERT_NE(Write("MAIN", "colour", "red", file), 0);
    std::string expected = original;
    expected.replace(expected.find("blue   "), 7, "red");
    expected.insert(expected.find("colour=green\r\n") + 14, "colour[Len]=3\r\n");
    EXPECT_EQ(ReadBytes(file), expected);
    EXPECT_EQ(Read("main", "colour", "", file), "red");
    EXPECT_EQ(dstest::Listing(folder.path()).size(), 1u); // no temporary file left behind
}

TEST(IniValues, RefusedWritesChangeNothing) {
    dstest::TempFolder folder;
    const std::string file = folder / "r.ini";
    ASSERT_NE(Write("S", "K", "v", file), 0);
    const std::string before = ReadBytes(file);
    EXPECT_EQ(Write("S", "K", "two\r\nlines=1", file), 0);
    EXPECT_EQ(Write("S", "a=b", "v", file), 0);
    EXPECT_EQ(Write("S", "[K", "v", file), 0);
    EXPECT_EQ(Write("S]", "K", "v", file), 0);
    EXPECT_EQ(Write("S", "K", "v", folder / "no-folder/x.ini"), 0);
    EXPECT_EQ(ReadBytes(file), before);

    // A read-only file is not replaced behind the owner's back.
    if (::geteuid() != 0) {
        ::chmod(file.c_str(), 0444);
        EXPECT_EQ(Write("S", "K", "w", file), 0);
        EXPECT_EQ(ReadBytes(file), before);
    }
    EXPECT_EQ(dstest::Listing(folder.path()).size(), 1u);
}

TEST(IniValues, LinksAndTheLibraryFolder) {
    dstest::TempFolder folder;
    const std::string target = folder / "target.ini";
    const std::string link = folder / "link.ini";
    ASSERT_NE(Write("S", "K", "1", target), 0);
    std::filesystem::create_symlink(target, link);
    ASSERT_NE(Write("S", "K", "2", link), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Read("S", "K", "", target), "2");

    Dl_info info{};
    dladdr(reinterpret_cast<const void *>(&ReadINIValue), &info);
    const std::string name = "kestrun-ds-" + std::to_string(::getpid()) + ".ini";
    const auto besideLibrary = std::filesystem::canonical(info.dli_fname).parent_path() / name;
    ASSERT_NE(Write("S", "K", "here", name), 0);
    EXPECT_EQ(Read("S", "K", "", besideLibrary.string()), "here");
    std::filesystem::remove(besideLibrary);
}

TEST(IniValues, SpecialFilesAreNeitherWaitedOnNorReplaced) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    dstest::TempFolder folder;
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
    dstest::TempFolder folder;
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
