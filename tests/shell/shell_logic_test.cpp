// Dialog and clipboard logic without a display: the dialogs and the clipboard are stand-ins
// that record the request and give a chosen answer.
#include "kestrun/shell/clipboard.h"
#include "kestrun/shell/desktop_folder_seam.h"
#include "kestrun/shell/dialogs.h"
#ifndef _WIN32
#include "kestrun/shell/child_process.h"
#endif

#include <gtest/gtest.h>

#include <stdexcept>

using namespace kestrun::shell;
using namespace std::string_literals;

namespace {

class ScriptedDialogs : public DialogSeam {
public:
    DialogAnswer answer;
    bool fail = false;
    std::vector<DialogRequest> requests;

    DialogAnswer Show(const DialogRequest &request) override {
        requests.push_back(request);
        if (fail) {
            throw std::runtime_error("no dialog");
        }
        return answer;
    }
};

DialogAnswer Chosen(std::vector<std::u16string> paths) {
    return DialogAnswer{true, std::move(paths)};
}

std::u16string Desktop() {
    return u"/home/u/Desktop";
}

class RecordingClipboard : public ClipboardSeam {
public:
    bool accept = true;
    std::vector<std::vector<std::string>> calls;
    bool PutFiles(const std::vector<std::string> &files) override {
        calls.push_back(files);
        return accept;
    }
};

// GBK for 对话框已初始化; 已执行试图打开对话框; 已执行打开对话框;
const std::string kFilled = "\xB6\xD4\xBB\xB0\xBF\xF2\xD2\xD1\xB3\xF5\xCA\xBC\xBB\xAF;";
const std::string kCalling =
    "\xD2\xD1\xD6\xB4\xD0\xD0\xCA\xD4\xCD\xBC\xB4\xF2\xBF\xAA\xB6\xD4\xBB\xB0\xBF\xF2;";

} // namespace

TEST(FilterList, BarsBecomeNulsAndTwoNulsEndTheList) {
    EXPECT_EQ(FilterList(u"Text|*.txt"), u"Text\0*.txt\0\0"s);
    EXPECT_EQ(FilterList(u""), u"");
    const auto pairs = FilterPairs(FilterList(u"Text files|*.txt|All files|*.*"));
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].first, u"Text files");
    EXPECT_EQ(pairs[1].second, u"*.*");
    // A trailing bar changes nothing; a description without pattern is dropped.
    EXPECT_EQ(FilterPairs(FilterList(u"Text|*.txt|")), FilterPairs(FilterList(u"Text|*.txt")));
    EXPECT_EQ(FilterPairs(FilterList(u"Text|*.txt|Images")).size(), 1u);
    // An empty text ends the list, as the platform reads it.
    EXPECT_TRUE(FilterPairs(FilterList(u"|*.txt")).empty());
}

TEST(JoinSelection, EveryPathIsFollowedByTheSeparator) {
    EXPECT_EQ(JoinSelection({u"/d/a.txt", u"/d/b.txt", u"/d/c.txt"}, u";"),
              u"/d/a.txt;/d/b.txt;/d/c.txt;");
    EXPECT_EQ(JoinSelection({u"/a.txt"}, u"|"), u"/a.txt|");
    EXPECT_EQ(JoinSelection({u"/a", u"/b"}, u""), u"/a/b");
}

TEST(WithDefaultExtension, OnlyNamesWithoutExtensionGetIt) {
    EXPECT_EQ(WithDefaultExtension(u"/d/report", u"txt"), u"/d/report.txt");
    EXPECT_EQ(WithDefaultExtension(u"/d/report", u".txt"), u"/d/report.txt");
    EXPECT_EQ(WithDefaultExtension(u"/d/report.csv", u"txt"), u"/d/report.csv");
    EXPECT_EQ(WithDefaultExtension(u"/d.x/report", u"txt"), u"/d.x/report.txt");
    EXPECT_EQ(WithDefaultExtension(u"/d/report", u""), u"/d/report");
}

TEST(SelectionPaths, FolderAndNamesAsTheOpenDialogReportsThem) {
    // Several files: the folder, then the names, each ended by a NUL, and one more NUL.
    const std::u16string several = u"C:\\Data\\Sub\0a.txt\0b.txt\0c.txt\0\0"s;
    EXPECT_EQ(SelectionPaths(several, 12),
              (std::vector<std::u16string>{u"C:\\Data\\Sub\\a.txt", u"C:\\Data\\Sub\\b.txt",
                                           u"C:\\Data\\Sub\\c.txt"}));
    // One file in this mode: its full path, the offset at its name.
    EXPECT_EQ(SelectionPaths(u"C:\\Data\\a.txt\0\0"s, 8),
              std::vector<std::u16string>{u"C:\\Data\\a.txt"});
    // The drive root already ends with a backslash; a root file has none before its name.
    EXPECT_EQ(SelectionPaths(u"C:\\\0a\0b\0\0"s, 4),
              (std::vector<std::u16string>{u"C:\\a", u"C:\\b"}));
    EXPECT_EQ(SelectionPaths(u"C:\\a.txt\0\0"s, 3), std::vector<std::u16string>{u"C:\\a.txt"});
    // Joined as the export returns them.
    EXPECT_EQ(JoinSelection(SelectionPaths(several, 12), u";"),
              u"C:\\Data\\Sub\\a.txt;C:\\Data\\Sub\\b.txt;C:\\Data\\Sub\\c.txt;");
    // Offsets outside the buffer, and a buffer without its final NUL, stay inside it.
    EXPECT_TRUE(SelectionPaths(several, 0).empty());
    EXPECT_TRUE(SelectionPaths(several, several.size()).empty());
    EXPECT_TRUE(SelectionPaths(u"", 1).empty());
    EXPECT_EQ(SelectionPaths(u"C:\\d\0a\0b"s, 5),
              (std::vector<std::u16string>{u"C:\\d\\a", u"C:\\d\\b"}));
}

TEST(ShowOpenFile, FillsTheRequestAndFormatsTheAnswer) {
    ScriptedDialogs dialogs;
    dialogs.answer = Chosen({u"/home/u/\u62a5\u544a.txt"});
    // 报告 in GBK.
    EXPECT_EQ(ShowOpenFile(dialogs, Desktop, 42, "Text|*.txt", "", "title", "|", 2),
              "/home/u/\xB1\xA8\xB8\xE6.txt");
    ASSERT_EQ(dialogs.requests.size(), 1u);
    const auto &request = dialogs.requests[0];
    EXPECT_EQ(request.kind, DialogKind::Open); // 2 is not 1: one file
    EXPECT_EQ(request.owner, 42u);
    EXPECT_EQ(request.initialFolder, u"/home/u/Desktop");
    EXPECT_EQ(request.filter, u"Text\0*.txt\0\0"s);

    dialogs.answer = Chosen({u"/d/Sub/a", u"/d/Sub/b", u"/d/Sub/c"});
    EXPECT_EQ(ShowOpenFile(dialogs, Desktop, 0, "", "/d/Sub", "", ";", 1),
              "/d/Sub/a;/d/Sub/b;/d/Sub/c;");
    EXPECT_EQ(dialogs.requests[1].kind, DialogKind::OpenMultiple);
    EXPECT_EQ(dialogs.requests[1].initialFolder, u"/d/Sub");
    EXPECT_TRUE(dialogs.requests[1].filter.empty());

    dialogs.answer = DialogAnswer{};
    EXPECT_EQ(ShowOpenFile(dialogs, Desktop, 0, "", "", "", ";", 1), "");
}

TEST(ShowOpenFile, FailuresCarryTheStageNotes) {
    ScriptedDialogs dialogs;
    dialogs.fail = true;
    EXPECT_EQ(ShowOpenFile(dialogs, Desktop, 0, "", "", "", "", 0),
              "ERROR:no dialog" + kFilled + kCalling);
    EXPECT_EQ(ShowSaveFile(dialogs, Desktop, 0, "", "", "", "txt"),
              "ERROR:no dialog" + kFilled + kCalling);
    // The folder dialog reports the exception alone.
    EXPECT_EQ(ShowBrowserFolder(dialogs, Desktop, 0, "", ""), "ERROR:no dialog");
}

TEST(ShowSaveFile, HandsTheDefaultExtensionToTheDialog) {
    ScriptedDialogs dialogs;
    dialogs.answer = Chosen({u"/d/report.txt"});
    // 报表 in GBK.
    EXPECT_EQ(ShowSaveFile(dialogs, Desktop, 0, "Text|*.txt", "/d", "", "\xB1\xA8\xB1\xED"),
              "/d/report.txt");
    EXPECT_EQ(dialogs.requests[0].kind, DialogKind::Save);
    EXPECT_EQ(dialogs.requests[0].defaultExtension, u"\u62a5\u8868");
    EXPECT_EQ(dialogs.requests[0].initialFolder, u"/d");
    dialogs.answer = Chosen({u"/d/old.log"});
    EXPECT_EQ(ShowSaveFile(dialogs, Desktop, 0, "", "", "", "txt"), "/d/old.log");
    EXPECT_EQ(dialogs.requests[1].initialFolder, u"/home/u/Desktop");
    dialogs.answer = DialogAnswer{};
    EXPECT_EQ(ShowSaveFile(dialogs, Desktop, 0, "", "", "", ""), "");
    EXPECT_TRUE(dialogs.requests[2].defaultExtension.empty());
}

TEST(ShowBrowserFolder, StartsAtTheDesktopWhateverTheFolderArgumentSays) {
    ScriptedDialogs dialogs;
    dialogs.answer = Chosen({u"/srv/data"});
    // 选择 in GBK.
    EXPECT_EQ(ShowBrowserFolder(dialogs, Desktop, 7, "/elsewhere", "\xD1\xA1\xD4\xF1"),
              "/srv/data");
    EXPECT_EQ(dialogs.requests[0].kind, DialogKind::Folder);
    EXPECT_EQ(dialogs.requests[0].initialFolder, u"/home/u/Desktop");
    EXPECT_EQ(dialogs.requests[0].title, u"\u9009\u62e9");
    EXPECT_EQ(dialogs.requests[0].owner, 7u);
    dialogs.answer = DialogAnswer{};
    EXPECT_EQ(ShowBrowserFolder(dialogs, Desktop, 0, "", ""), "");
}

#ifndef _WIN32
TEST(DesktopFolder, ReadsTheUserDirsFile) {
    EXPECT_EQ(DesktopFolderFrom("", "/home/u"), "/home/u/Desktop");
    EXPECT_EQ(DesktopFolderFrom("# comment\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", "/home/u"),
              "/home/u/Bureau");
    EXPECT_EQ(DesktopFolderFrom("XDG_DESKTOP_DIR=\"/data/desk top\"", "/home/u"), "/data/desk top");
    EXPECT_EQ(DesktopFolderFrom("XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n", "/h"), "/h/Desktop");
    EXPECT_EQ(DesktopFolderFrom("XDG_DESKTOP_DIR=\"relative\"\n", "/h"), "/h/Desktop");
    EXPECT_EQ(DesktopFolderFrom("XDG_DESKTOP_DIR=\"$HOME/a\\\"b\"\n", "/h"), "/h/a\"b");
}
#endif

TEST(Clipboard, FileListAndUri) {
    EXPECT_TRUE(ClipboardFileList("", "/cwd").empty());
    EXPECT_EQ(ClipboardFileList("a.txt", "/cwd"), std::vector<std::string>{"/cwd/a.txt"});
    EXPECT_EQ(ClipboardFileList("a.txt", "/"), std::vector<std::string>{"/a.txt"});
    // Without a folder the name stays as given (the Windows file list).
    EXPECT_EQ(ClipboardFileList("a.txt", ""), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(ClipboardFileList("C:\\\xB1\xA8.txt", ""),
              std::vector<std::string>{"C:\\\xE6\x8A\xA5.txt"});
    EXPECT_EQ(ClipboardFileList("/x/\xB1\xA8.txt", "/cwd"),
              std::vector<std::string>{"/x/\xE6\x8A\xA5.txt"});
    EXPECT_EQ(FileUri("/a b/100%#?.txt"), "file:///a%20b/100%25%23%3F.txt");
    EXPECT_EQ(FileUri("/x/\xE6\x8A\xA5~_-.t"), "file:///x/%E6%8A%A5~_-.t");
}

TEST(Clipboard, DropFilesBlock) {
    const std::string header("\x14\0\0\0"       // list offset 20
                             "\0\0\0\0\0\0\0\0" // drop point
                             "\0\0\0\0"         // non-client flag
                             "\x01\0\0\0",      // wide names
                             20);
    // An empty list: the record and two NUL units, 24 bytes.
    EXPECT_EQ(DropFilesBlock({}), header + std::string(4, '\0'));
    // One path: 2 x units + 24 bytes, little-endian UTF-16 (报 is U+62A5).
    EXPECT_EQ(DropFilesBlock({u"C:\\\u62a5"}),
              header + std::string("C\0:\0\\\0\xA5\x62\0\0\0\0", 12));
    EXPECT_EQ(DropFilesBlock({u"ab"}).size(), 2u * 2 + 24);
    // Several paths, each with its NUL, then the NUL that ends the list.
    EXPECT_EQ(DropFilesBlock({u"a", u"b"}), header + std::string("a\0\0\0b\0\0\0\0\0", 10));
}

TEST(Clipboard, ResultFollowsTheSeam) {
    RecordingClipboard clipboard;
    EXPECT_EQ(CopyFileToClipboard(clipboard, nullptr, "/"), 0);
    EXPECT_TRUE(clipboard.calls.empty());
    EXPECT_EQ(CopyFileToClipboard(clipboard, "", "/"), 1);
    EXPECT_TRUE(clipboard.calls.at(0).empty());
    EXPECT_EQ(CopyFileToClipboard(clipboard, "/no/such/file", "/"), 1);
    clipboard.accept = false;
    EXPECT_EQ(CopyFileToClipboard(clipboard, "/f", "/"), 0);
}

#ifndef _WIN32
TEST(ChildProcess, ReadsWaitsAndKills) {
    auto echo = ChildProcess::Start("/bin/echo", {"hello", "world"}, false);
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->ReadOutput(std::nullopt), "hello world\n");
    EXPECT_EQ(echo->Wait(), 0);

    auto failing = ChildProcess::Start("/bin/false", {}, false);
    ASSERT_TRUE(failing);
    EXPECT_EQ(failing->Wait(), 1);

    auto sleeping = ChildProcess::Start("/bin/sleep", {"30"}, true);
    ASSERT_TRUE(sleeping);
    EXPECT_FALSE(sleeping->ReadOutput(std::chrono::milliseconds(50)));
    sleeping->Kill();
    EXPECT_EQ(sleeping->Wait(), -1);

    EXPECT_FALSE(ChildProcess::Start("/no/such/program", {}, false));
    // A child dropped without waiting is killed and reaped by its owner.
    { auto dropped = ChildProcess::Start("/bin/sleep", {"30"}, false); }
}
#endif
