// ReadINIValue and WriteINIValue called as a Visual Basic host calls them.
#include "host_calls.h"
#include "test_files.h"
#include "vbhost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using dshost::Read;
using dshost::Write;
using testfiles::ReadBytes;
using testfiles::WriteBytes;
using vbhost::Gbk;

TEST(IniValues, CompanionLengthDecidesHowMuchIsRead) {
    testfiles::TempFolder folder;
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
    testfiles::TempFolder folder;
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
    testfiles::TempFolder folder;
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
    EXPECT_EQ(testfiles::Listing(folder.path()).size(), 1u); // no temporary file left behind
}

TEST(IniValues, RefusedWritesChangeNothing) {
    testfiles::TempFolder folder;
    const std::string file = folder / "r.ini";
    ASSERT_NE(Write("S", "K", "v", file), 0);
    const std::string before = ReadBytes(file);
    EXPECT_EQ(Write("S", "K", "two\r\nlines=1", file), 0);
    EXPECT_EQ(Write("S", "a=b", "v", file), 0);
    EXPECT_EQ(Write("S", "[K", "v", file), 0);
    EXPECT_EQ(Write("S]", "K", "v", file), 0);
    EXPECT_EQ(Write("S", "K", "v", folder / "no-folder/x.ini"), 0);
    EXPECT_EQ(ReadBytes(file), before);

    // A read-only file is not replaced behind the owner's back (unless this user may write it
    // all the same, as the superuser may on POSIX systems).
    namespace fs = std::filesystem;
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (!std::ofstream(file, std::ios::app)) {
        EXPECT_EQ(Write("S", "K", "w", file), 0);
        EXPECT_EQ(ReadBytes(file), before);
    }
    EXPECT_EQ(testfiles::Listing(folder.path()).size(), 1u);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
}

TEST(IniValues, ABareNameIsTheFileBesideTheLibrary) {
    testfiles::TempFolder folder;
    const std::string name = testfiles::UniqueName("kestrun-ds", ".ini");
    const auto besideLibrary = testfiles::LibraryFolder() / name;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    ASSERT_NE(Write("S", "K", "here", name), 0);
    std::filesystem::current_path(previous);
    EXPECT_EQ(Read("S", "K", "", besideLibrary.string()), "here");
    EXPECT_FALSE(std::filesystem::exists(folder / name));
    std::filesystem::remove(besideLibrary);
}

} // namespace
