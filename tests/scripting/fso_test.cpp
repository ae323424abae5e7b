// Scripting.FileSystemObject on Linux: scripts run through the engine with the host's platform
// objects, each test in a fresh temporary folder.
#include "kestrun/automation/vbscript/host.h"
#include "kestrun/automation/vbscript/platform_objects.h"
#include "kestrun/interop/codepage.h"
#include "vbscript/interp.h"
#include "vbscript/ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace vb = kestrun::vbscript;
namespace stdfs = std::filesystem;

struct Outcome {
    bool ok = false;
    std::string text; // Main's result as UTF-8
    int number = 0;
    int line = 0;
    std::string description;
};

// Loads `code` (UTF-8) and returns Main(dir).
Outcome RunMain(const std::string &code, const std::string &dir) {
    Outcome o;
    vb::Interp in;
    in.toAnsi = [](std::u16string_view w) { return kestrun::interop::WideToAnsi(w); };
    in.fromAnsi = [](std::string_view a) { return kestrun::interop::AnsiToWide(a); };
    in.objects = vb::NewPlatformObjects();
    in.timeLimit = std::chrono::minutes(5);
    try {
        in.addCode(vb::utf8ToU16(code));
        vb::Value r = in.run(u"main", {vb::Value::str(vb::utf8ToU16(dir))});
        o.text = vb::u16ToUtf8(vb::toStr(in, r, true));
        o.ok = true;
    } catch (const vb::ScriptError &e) {
        o.number = e.number;
        o.line = e.line;
        o.description = vb::u16ToUtf8(e.description);
    }
    return o;
}

std::string ReadBytes(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

class Fso : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (stdfs::temp_directory_path() / "fso_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        cwd_ = stdfs::current_path();
    }
    void TearDown() override {
        std::error_code ec;
        stdfs::current_path(cwd_, ec);
        stdfs::remove_all(dir_, ec);
    }

    // Runs `body` as the inside of `Function Main(dir)` with `fso` made and `r` as the result.
    std::string Body(const std::string &body) {
        const Outcome o = RunMain("Function Main(dir)\nDim fso, r\n"
                                  "Set fso = CreateObject(\"Scripting.FileSystemObject\")\n" +
                                      body + "\nMain = r\nEnd Function\n",
                                  dir_);
        EXPECT_TRUE(o.ok) << o.number << " " << o.description << " in line " << o.line << "\n"
                          << body;
        return o.text;
    }
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }

    std::string dir_;
    stdfs::path cwd_;
};

TEST_F(Fso, AnsiTextIsGbkOnDisk) {
    EXPECT_EQ(Body(R"vb(Set t = fso.CreateTextFile(dir & "/a.txt")
t.WriteLine "中文 text"
t.Write "二"
t.Close
Set t = fso.OpenTextFile(dir & "/a.txt")
r = t.ReadLine & "|" & t.ReadAll & "|" & t.AtEndOfStream
t.Close)vb"),
              "中文 text|二|True");
    EXPECT_EQ(ReadBytes(Path("a.txt")), "\xD6\xD0\xCE\xC4 text\r\n\xB6\xFE");
    // A character the code page cannot hold is refused, as on Windows, not written as "?".
    EXPECT_EQ(Body(R"vb(Set t = fso.CreateTextFile(dir & "/b.txt")
On Error Resume Next
t.Write "x" & ChrW(&H0E01)
r = Err.Number
t.Close)vb"),
              "5");
    EXPECT_EQ(ReadBytes(Path("b.txt")), "");
    // Zero characters survive the trip.
    EXPECT_EQ(Body(R"vb(Set t = fso.CreateTextFile(dir & "/z.txt")
t.Write "a" & Chr(0) & "中"
t.Close
r = Len(fso.OpenTextFile(dir & "/z.txt").ReadAll))vb"),
              "3");
}

TEST_F(Fso, UnicodeFilesHaveBomAndUtf16) {
    EXPECT_EQ(Body(R"vb(Set t = fso.CreateTextFile(dir & "/u.txt", True, True)
t.WriteLine "中a"
t.Close
r = fso.OpenTextFile(dir & "/u.txt", 1, False, -1).ReadLine & "|" & _
    fso.OpenTextFile(dir & "/u.txt", 1, False, -2).ReadLine & "|" & _
    fso.GetFile(dir & "/u.txt").Size)vb"),
              "中a|中a|10");
    EXPECT_EQ(ReadBytes(Path("u.txt")),
              std::string("\xFF\xFE\x2D\x4E\x61\x00\x0D\x00\x0A\x00", 10));
    // Appending in Unicode to a new file writes the mark once; -2 keeps a Unicode file Unicode.
    EXPECT_EQ(Body(R"vb(Set t = fso.OpenTextFile(dir & "/v.txt", 8, True, -1)
t.Write "a"
t.Close
Set t = fso.OpenTextFile(dir & "/v.txt", 8, False, -1)
t.Write "b"
t.Close
Set t = fso.OpenTextFile(dir & "/v.txt", 8, False, -2)
t.Write "c"
t.Close
r = fso.OpenTextFile(dir & "/v.txt", 1, False, -2).ReadAll)vb"),
              "abc");
    EXPECT_EQ(ReadBytes(Path("v.txt")), std::string("\xFF\xFE"
                                                    "a\0b\0c\0",
                                                    8));
    // Format 0 reads the mark as ANSI bytes; -1 reads a file without a mark as UTF-16LE.
    WriteBytes(Path("w.txt"), std::string("h\0i\0", 4));
    EXPECT_EQ(Body(R"vb(r = fso.OpenTextFile(dir & "/w.txt", 1, False, -1).ReadAll & "|" & _
    (fso.OpenTextFile(dir & "/u.txt", 1, False, 0).ReadLine = "中a"))vb"),
              "hi|False");
}

TEST_F(Fso, OpenModesAndTheirErrors) {
    EXPECT_EQ(Body(R"vb(Set t = fso.OpenTextFile(dir & "/a.txt", 2, True)
t.Write "one"
t.Close
Set t = fso.OpenTextFile(dir & "/a.txt", 8)
t.Write "two"
t.Close
r = fso.OpenTextFile(dir & "/a.txt").ReadAll
Set t = fso.OpenTextFile(dir & "/a.txt", 2)
t.Write "x"
t.Close
r = r & "|" & fso.OpenTextFile(dir & "/a.txt").ReadAll
On Error Resume Next
Set t = fso.OpenTextFile(dir & "/missing.txt", 1, False)
r = r & "|" & Err.Number & " " & Err.Description & " " & Err.Source
Err.Clear
Set t = fso.OpenTextFile(dir & "/missing.txt", 8)
r = r & "|" & Err.Number
Err.Clear
Set t = fso.OpenTextFile(dir & "/nofolder/x.txt", 2, True)
r = r & "|" & Err.Number & " " & Err.Description
Err.Clear
Set t = fso.OpenTextFile(dir & "/a.txt", 3)
r = r & "|" & Err.Number
Err.Clear
Set t = fso.CreateTextFile(dir & "/a.txt", False)
r = r & "|" & Err.Number & " " & Err.Description
Err.Clear
Set t = fso.OpenTextFile(dir, 1)
r = r & "|" & Err.Number
Err.Clear
Set t = fso.OpenTextFile(dir & "/new.txt", 1, True)
r = r & "|" & Err.Number & t.AtEndOfStream & fso.FileExists(dir & "/new.txt"))vb"),
              "onetwo|x|53 File not found VBScript runtime error|53|76 Path not found|5|"
              "58 File already exists|70|0TrueTrue");
}

TEST_F(Fso, ReadingLinesCharactersAndPositions) {
    WriteBytes(Path("l.txt"), "ab\r\ncd\nef\rgh");
    EXPECT_EQ(Body(R"vb(Set t = fso.OpenTextFile(dir & "/l.txt")
Do Until t.AtEndOfStream
    r = r & t.Line & ":" & t.ReadLine & ";"
Loop
r = r & t.Line
On Error Resume Next
x = t.ReadLine
r = r & "|" & Err.Number & " " & Err.Description)vb"),
              "1:ab;2:cd;3:ef;4:gh;4|62 Input past end of file");
    EXPECT_EQ(Body(R"vb(Set t = fso.OpenTextFile(dir & "/l.txt")
r = t.Read(1) & t.Column & t.AtEndOfLine
t.Skip 1
r = r & t.AtEndOfLine & t.Read(3) & t.Line & t.Column
t.SkipLine
r = r & t.Read(100) & t.Line & t.Column
On Error Resume Next
x = t.Read(1)
r = r & "|" & Err.Number
Err.Clear
t.Skip -1
r = r & "|" & Err.Number
Err.Clear
t.Write "x"
r = r & "|" & Err.Number & " " & Err.Description
Err.Clear
t.Close
x = t.ReadLine
r = r & "|" & Err.Number)vb"),
              "a2FalseTrue\r\nc22ef\rgh43|62|5|54 Bad file mode|52");
    // Writing keeps Line and Column too; reading a stream opened for writing is refused.
    EXPECT_EQ(Body(R"vb(Set t = fso.CreateTextFile(dir & "/w.txt")
t.Write "abc"
r = t.Line & t.Column
t.WriteLine
t.WriteBlankLines 2
r = r & t.Line & t.Column
On Error Resume Next
x = t.AtEndOfStream
r = r & "|" & Err.Number
Err.Clear
x = t.ReadAll
r = r & Err.Number
t.Close
Set t = fso.OpenTextFile(dir & "/w.txt")
r = r & "|" & Len(t.ReadAll)
Set e = fso.CreateTextFile(dir & "/empty.txt")
e.Close
x = fso.OpenTextFile(dir & "/empty.txt").ReadAll
r = r & "|" & Err.Number)vb"),
              "1441|5454|9|62");
    EXPECT_EQ(ReadBytes(Path("w.txt")), "abc\r\n\r\n\r\n");
}

TEST_F(Fso, LongGbkFileAcrossBufferBoundaries) {
    // Lines of two-byte characters and odd lengths, so that reads end inside characters.
    std::string bytes, expectedLast;
    for (int i = 1; i <= 30000; ++i) {
        std::string line = "\xD0\xD0" + std::to_string(i); // "行" + number
        bytes += line + (i % 3 == 0 ? "\n" : "\r\n");
    }
    WriteBytes(Path("big.txt"), bytes);
    EXPECT_EQ(Body(R"vb(Set t = fso.OpenTextFile(dir & "/big.txt")
n = 0
Do Until t.AtEndOfStream
    s = t.ReadLine
    n = n + 1
    If s <> "行" & n Then Exit Do
Loop
r = n & " " & s & " " & t.Line
Set t = fso.OpenTextFile(dir & "/big.txt")
r = r & " " & Len(t.ReadAll))vb"),
              "30000 行30000 30001 " + std::to_string(bytes.size() - 30000));
}

TEST_F(Fso, CopyMoveDeleteFilesWithWildcards) {
    for (const char *name : {"a.txt", "b.txt", "c.log", "readme"})
        WriteBytes(Path(name), name);
    stdfs::create_directory(Path("out"));
    EXPECT_EQ(Body(R"vb(fso.CopyFile dir & "/*.txt", dir & "/out"
r = fso.GetFolder(dir & "/out").Files.Count
fso.CopyFile dir & "/*.*", dir & "/out/"
r = r & fso.GetFolder(dir & "/out").Files.Count
fso.CopyFile dir & "/c.log", dir & "/out/copy.log"
On Error Resume Next
fso.CopyFile dir & "/a.txt", dir & "/out/a.txt", False
r = r & "|" & Err.Number & " " & Err.Description
Err.Clear
fso.CopyFile dir & "/a.txt", dir & "/out"
r = r & "|" & Err.Number
Err.Clear
fso.CopyFile dir & "/nope.txt", dir & "/out/"
r = r & "|" & Err.Number
Err.Clear
fso.CopyFile dir & "/*.none", dir & "/out/"
r = r & "|" & Err.Number
Err.Clear
fso.CopyFile dir & "/a.txt", dir & "/nofolder/"
r = r & "|" & Err.Number
Err.Clear
fso.DeleteFile dir & "/nope.txt"
r = r & "|" & Err.Number & " " & Err.Description
Err.Clear
fso.DeleteFile dir & "/nofolder/x.txt"
r = r & "|" & Err.Number
Err.Clear
fso.MoveFile dir & "/b.txt", dir & "/a.txt"
r = r & "|" & Err.Number
Err.Clear
On Error GoTo 0
fso.DeleteFile dir & "/out/?.txt"
r = r & "|" & fso.GetFolder(dir & "/out").Files.Count
fso.MoveFile dir & "/*.txt", dir & "/out"
r = r & fso.FileExists(dir & "/a.txt") & fso.FileExists(dir & "/out/b.txt")
fso.MoveFile dir & "/c.log", dir & "/moved.log"
r = r & fso.FileExists(dir & "/c.log") & fso.OpenTextFile(dir & "/moved.log").ReadAll)vb"),
              "24|58 File already exists|70|53|53|76|53 File not found|76|58|3FalseTrueFalsec.log");
}

TEST_F(Fso, FoldersCopyMoveDelete) {
    EXPECT_EQ(Body(R"vb(Set f = fso.CreateFolder(dir & "/src")
fso.CreateFolder dir & "/src/sub"
fso.CreateTextFile(dir & "/src/sub/x.txt").Write "x"
fso.CreateTextFile(dir & "/src/y.txt").Write "yy"
fso.CopyFolder dir & "/src", dir & "/copy"
r = fso.FileExists(dir & "/copy/sub/x.txt") & fso.GetFolder(dir & "/copy").Size
fso.CreateFolder dir & "/dest"
fso.CopyFolder dir & "/s*", dir & "/dest"
r = r & fso.FolderExists(dir & "/dest/src/sub")
On Error Resume Next
fso.CopyFolder dir & "/src", dir & "/copy", False
r = r & "|" & Err.Number
Err.Clear
fso.CreateFolder dir & "/src"
r = r & "|" & Err.Number
Err.Clear
fso.CreateFolder dir & "/a/b"
r = r & "|" & Err.Number
Err.Clear
fso.DeleteFolder dir & "/nothing"
r = r & "|" & Err.Number & " " & Err.Description
Err.Clear
fso.CopyFolder dir & "/src", dir & "/src/sub/inside"
r = r & "|" & Err.Number
Err.Clear
fso.MoveFolder dir & "/src", dir & "/copy"
r = r & "|" & Err.Number
Err.Clear
fso.GetFolder dir & "/nothing"
r = r & "|" & Err.Number
Err.Clear
fso.GetFile dir & "/src"
r = r & "|" & Err.Number
Err.Clear
On Error GoTo 0
fso.MoveFolder dir & "/src", dir & "/moved"
r = r & "|" & fso.FolderExists(dir & "/src") & fso.FileExists(dir & "/moved/sub/x.txt")
On Error Resume Next
f.Name = "x"
r = r & Err.Number
On Error GoTo 0
Set f = fso.GetFolder(dir & "/moved")
f.Name = "renamed"
r = r & f.Name & (f.Path = dir & "/renamed") & fso.FolderExists(dir & "/moved")
fso.DeleteFolder dir & "/co*"
fso.GetFolder(dir & "/dest").Delete
r = r & "|" & fso.GetFolder(dir).SubFolders.Count)vb"),
              "True3True|58|58|76|76 Path not found|70|58|76|53|FalseTrue76renamedTrueFalse|1");
    EXPECT_TRUE(stdfs::exists(Path("renamed/sub/x.txt")));
}

TEST_F(Fso, TheRootIsNeverDeletedAndDotNamesTheFolder) {
    stdfs::create_directories(Path("keep/inner"));
    WriteBytes(Path("keep/inner/f.txt"), "f");
    WriteBytes(Path("stay.txt"), "s");
    EXPECT_EQ(Body(R"vb(On Error Resume Next
fso.DeleteFolder "/"
r = Err.Number
Err.Clear
fso.CopyFolder "/", dir & "/rootcopy"
r = r & "|" & Err.Number
Err.Clear
fso.MoveFolder "/.", dir & "/rootmove"
r = r & "|" & Err.Number
Err.Clear
On Error GoTo 0
fso.DeleteFolder dir & "/keep/inner/."
r = r & "|" & fso.FolderExists(dir & "/keep/inner") & fso.FolderExists(dir & "/keep") & _
    fso.FileExists(dir & "/stay.txt"))vb"),
              "70|70|70|FalseTrueTrue");
}

TEST_F(Fso, ReadOnlyFilesRefuseWritesAndDeletes) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root is not bound by file permissions";
    WriteBytes(Path("ro.txt"), "keep");
    EXPECT_EQ(Body(R"vb(Set f = fso.GetFile(dir & "/ro.txt")
f.Attributes = f.Attributes Or 1
r = f.Attributes
On Error Resume Next
Set t = fso.OpenTextFile(dir & "/ro.txt", 2)
r = r & "|" & Err.Number & " " & Err.Description
Err.Clear
fso.CopyFile dir & "/ro.txt", dir & "/ro2.txt"
fso.CopyFile dir & "/ro.txt", dir & "/ro2.txt"
r = r & "|" & Err.Number
Err.Clear
fso.DeleteFile dir & "/ro.txt"
r = r & "|" & Err.Number
Err.Clear
On Error GoTo 0
fso.DeleteFile dir & "/ro*.txt", True
r = r & "|" & fso.GetFolder(dir).Files.Count)vb"),
              "33|70 Permission denied|70|70|0");
}

TEST_F(Fso, CollectionsAndForEach) {
    stdfs::create_directory(Path("b"));
    stdfs::create_directory(Path("A"));
    for (const char *name : {"z.txt", "Y.txt", ".hidden"})
        WriteBytes(Path(name), "1");
    EXPECT_EQ(Body(R"vb(Set folder = fso.GetFolder(dir)
For Each f In folder.Files
    r = r & f.Name & "(" & TypeName(f) & f.Size & ")"
Next
For Each s In folder.SubFolders
    r = r & s.Name & "/" & TypeName(s) & s.Files.Count & ";"
Next
r = r & folder.Files.Count & folder.SubFolders.Count & folder.Files("z.txt").Name & _
    folder.SubFolders.Item("b").Name & folder.SubFolders.Add("c").Name & folder.SubFolders.Count
On Error Resume Next
x = folder.Files("none")
r = r & "|" & Err.Number
Err.Clear
x = folder.SubFolders("none")
r = r & "|" & Err.Number)vb"),
              ".hidden(File1)Y.txt(File1)z.txt(File1)A/Folder0;b/Folder0;32z.txtbc3|53|76");
}

TEST_F(Fso, PathTexts) {
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    EXPECT_EQ(Body(R"vb(r = fso.BuildPath("/a", "b") & " " & fso.BuildPath("/a/", "b") & " " & _
    fso.BuildPath("/a/", "/b") & " " & fso.BuildPath("", "b") & "|" & _
    fso.GetBaseName("/x/file.tar.gz") & " " & fso.GetExtensionName("/x/file.tar.gz") & " " & _
    fso.GetFileName("/x/y/") & " " & fso.GetParentFolderName("/x/y/") & " " & _
    fso.GetParentFolderName("/x") & "," & fso.GetParentFolderName("x") & "," & _
    fso.GetExtensionName("noext") & "," & fso.GetFileName("a\b") & "|" & _
    (fso.GetAbsolutePathName("sub/../f.txt") = dir & "/f.txt") & " " & _
    fso.GetAbsolutePathName("/a//b/./c/..") & " " & (fso.GetAbsolutePathName("") = dir) & "|" & _
    fso.GetDriveName("/x") & fso.DriveExists("/") & fso.GetDrive("/").Path & _
    fso.Drives.Count & fso.GetDrive("/").RootFolder.IsRootFolder & _
    (fso.GetDrive("/").TotalSize > 0) & "|" & TypeName(fso.GetSpecialFolder(2)))vb"),
              "/a/b /a/b /a/b b|file.tar gz y /x /,,,a\\b|True /a/b True|/True/1TrueTrue|"
              "Folder");
    const std::string temp = Body("r = fso.GetTempName & fso.GetTempName");
    EXPECT_TRUE(std::regex_match(temp, std::regex("rad[0-9A-F]{5}\\.tmprad[0-9A-F]{5}\\.tmp")))
        << temp;
    EXPECT_NE(temp.substr(0, 12), temp.substr(12));
}

TEST_F(Fso, AttributesDatesAndRenaming) {
    stdfs::create_directory(Path("folder"));
    WriteBytes(Path("f.txt"), "12345");
    WriteBytes(Path(".dot"), "");
    EXPECT_EQ(Body(R"vb(Set f = fso.GetFile(dir & "/f.txt")
r = f.Attributes & " " & fso.GetFile(dir & "/.dot").Attributes & " " & _
    fso.GetFolder(dir & "/folder").Attributes & " " & f.Type & " " & _
    fso.GetFolder(dir & "/folder").Type & " " & f.Size & " " & VarType(f.DateLastModified) & " " & _
    (Abs(DateDiff("s", f.DateLastModified, Now)) < 120) & _
    (f.DateCreated <= f.DateLastModified + 1 / 86400) & (Year(f.DateLastAccessed) >= 2000) & _
    " " & (f.ParentFolder.Path = dir) & " " & f.Drive.Path & " " & f
f.Name = "g.txt"
r = r & "|" & f.Name & fso.FileExists(dir & "/g.txt") & fso.FileExists(dir & "/f.txt")
fso.CreateTextFile dir & "/h.txt"
On Error Resume Next
f.Name = "h.txt"
r = r & "|" & Err.Number
Err.Clear
x = fso.GetFile(dir & "/none").Size
r = r & "|" & Err.Number
Err.Clear
On Error GoTo 0
f.Copy dir & "/folder/"
f.Move dir & "/folder/moved.txt"
r = r & "|" & (f.Path = dir & "/folder/moved.txt") & fso.GetFolder(dir & "/folder").Files.Count
Set t = f.OpenAsTextStream(1)
r = r & t.ReadAll
t.Close
f.Delete
r = r & fso.FileExists(dir & "/folder/moved.txt")
fso.GetFolder(dir & "/folder").CreateTextFile("in.txt").Write "1"
fso.GetFolder(dir & "/folder").CreateTextFile(dir & "/full.txt").Write "2"
r = r & fso.FileExists(dir & "/folder/in.txt") & fso.FileExists(dir & "/full.txt"))vb"),
              "32 34 16 TXT File File folder 5 7 TrueTrueTrue True / " + dir_ +
                  "/f.txt|g.txtTrueFalse|58|53|True212345FalseTrueTrue");
}

TEST_F(Fso, BadArgumentsGiveErrorsNotCrashes) {
    EXPECT_EQ(Body(R"vb(On Error Resume Next
x = fso.GetFile("")
r = Err.Number
Err.Clear
x = fso.FileExists("a" & Chr(0) & "b")
r = r & "|" & Err.Number
Err.Clear
x = fso.GetFile(dir & "/" & String(5000, "x"))
r = r & "|" & Err.Number
Err.Clear
x = fso.OpenTextFile(dir & "/a.txt", 2, True, 7)
r = r & "|" & Err.Number
Err.Clear
x = fso.BuildPath("a")
r = r & "|" & Err.Number
Err.Clear
x = fso.NoSuchMember
r = r & "|" & Err.Number
Err.Clear
x = fso.GetSpecialFolder(9)
r = r & "|" & Err.Number
Err.Clear
x = fso.GetDrive("C:")
r = r & "|" & Err.Number
Err.Clear
Set t = fso.CreateTextFile(dir & "/a.txt")
t.WriteBlankLines -1
r = r & "|" & Err.Number
Err.Clear
x = t.Read(1)
r = r & "|" & Err.Number
Err.Clear
fso.CopyFile "", dir
r = r & "|" & Err.Number
Err.Clear
x = fso.GetStandardStream(3)
r = r & "|" & Err.Number)vb"),
              "5|52|52|5|450|438|5|68|5|54|5|5");
}

TEST_F(Fso, StandardOutputStream) {
    // Standard output goes to a file for the length of the script.
    std::fflush(stdout);
    const int saved = dup(1);
    const int file = open(Path("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    dup2(file, 1);
    close(file);
    const std::string result = Body(R"vb(Set s = fso.GetStandardStream(1)
s.WriteLine "out 中"
s.Close
On Error Resume Next
x = fso.GetStandardStream(1).ReadLine
r = Err.Number)vb");
    dup2(saved, 1);
    close(saved);
    EXPECT_EQ(result, "54");
    EXPECT_EQ(ReadBytes(Path("stdout.txt")), "out \xD6\xD0\r\n");
    // Closing the stream left the process's standard output open.
    EXPECT_NE(fcntl(1, F_GETFD), -1);
}

TEST_F(Fso, HostRunsScriptsWithTheObject) {
    // Through the host as the exports call it: GBK script text, the object by its ProgID.
    const std::string script = kestrun::interop::Utf8ToAnsi(
        "Function F(p)\nSet fso = CreateObject(\"scripting.FileSystemObject\")\n"
        "fso.CreateTextFile(p).Write \"中\"\nF = TypeName(fso) & fso.GetFile(p).Size\n"
        "End Function\n");
    vb::FunctionResult result;
    std::string errorText;
    ASSERT_EQ(vb::RunFunction(script, "F", {vb::Value::str(vb::utf8ToU16(Path("h.txt")))}, result,
                              errorText, false),
              1)
        << errorText;
    EXPECT_EQ(vb::u16ToUtf8(result.value.s()), "FileSystemObject2");
}

} // namespace
