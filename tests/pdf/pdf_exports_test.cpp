#include "pdf_fixtures.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

using pdftest::PageMarkers;
using pdftest::TempFolder;
using pdftest::WritePdf;
using vbhost::Gbk;

namespace {

// A file's path as a Visual Basic program passes it: code page 936 bytes.
std::string Ansi(const std::filesystem::path &file) {
    return Gbk(pdftest::Utf8(file));
}

std::filesystem::path Utf8Name(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

size_t EntriesIn(const std::filesystem::path &folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                             std::filesystem::directory_iterator()));
}

} // namespace

TEST(GetAnnotationFromPDF, ReplacesTheCallersTable) {
    TempFolder folder;
    WritePdf(folder / "review.pdf",
             {{"p1", {{"Text", "alice", "first note"}}},
              {"p2", {{"FreeText", "bob", "\u4F60\u597D"}, {"Highlight", "carol", "ok"}}}});
    WritePdf(folder / "plain.pdf", {{"p1", {}}});
    vbhost::String file(Ansi(folder / "review.pdf"));
    vbhost::Array table;
    table.CreateStrings({{2, 0}});
    vbhost::String error("old message");

    ASSERT_EQ(GetAnnotationFromPDF(file.ref(), table.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(error.bytes(), "");
    ASSERT_EQ(table.count(0), 4u);
    ASSERT_EQ(table.count(1), 4u);
    EXPECT_EQ(table.at({0, 1}).value_or(""), "");
    EXPECT_EQ(table.at({1, 0}).value_or(""), "");
    EXPECT_EQ(table.at({1, 1}), "alice");
    EXPECT_EQ(table.at({1, 2}), "Text");
    EXPECT_EQ(table.at({2, 3}), "\x60\x7D"); // low bytes of U+4F60 U+597D
    EXPECT_EQ(table.at({3, 1}), "carol");

    // Without annotations the one-row table of four empty columns is left.
    vbhost::String plain(Ansi(folder / "plain.pdf"));
    EXPECT_EQ(GetAnnotationFromPDF(plain.ref(), table.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("006-没有标记！"));
    EXPECT_EQ(table.count(0), 1u);
    EXPECT_EQ(table.count(1), 4u);

    vbhost::String unset;
    EXPECT_EQ(GetAnnotationFromPDF(unset.ref(), table.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("002-文件打开失败！"));
    EXPECT_EQ(GetAnnotationFromPDF(plain.ref(), nullptr, error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("001-数组创建失败！"));
    EXPECT_EQ(GetAnnotationFromPDF(nullptr, nullptr, nullptr), 0);
}

TEST(CombinePDF, MergesTheCallersFileList) {
    TempFolder folder;
    WritePdf(folder / "a.pdf", {{"a1", {}}, {"a2", {}}});
    WritePdf(folder / Utf8Name("\u62A5\u544A.pdf"), {{"r1", {{"Text", "dan", "seen"}}}});

    // An array declared (1 To 3) is read from its lower bound on; paths are GBK and name the
    // files whose UTF-8 names hold the same characters.
    vbhost::Array files;
    files.CreateStrings({{3, 1}});
    files.set({1}, Ansi(folder / "a.pdf"));
    files.set({2}, Ansi(folder / "absent.pdf"));
    files.set({3}, Ansi(folder / Utf8Name("\u62A5\u544A.pdf")));
    vbhost::String output(Ansi(folder / Utf8Name("\u5408\u5E76.pdf")));
    vbhost::String error("old message");
    ASSERT_EQ(CombinePDF(files.ref(), output.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(error.bytes(), "");
    EXPECT_EQ(PageMarkers(folder / Utf8Name("\u5408\u5E76.pdf")),
              (std::vector<std::string>{"a1", "a2", "r1"}));

    // No array: an empty document.
    vbhost::Array none;
    vbhost::String empty(Ansi(folder / "empty.pdf"));
    ASSERT_EQ(CombinePDF(none.ref(), empty.ref(), error.ref()), 1) << error.bytes();
    EXPECT_TRUE(pdftest::PassesCheck(folder / "empty.pdf"));

    vbhost::String nowhere(Ansi(folder / "no" / "out.pdf"));
    EXPECT_EQ(CombinePDF(files.ref(), nowhere.ref(), error.ref()), 0);
    EXPECT_TRUE(pdftest::SameComError(error.bytes(), "ERROR:(COM_ERROR)80004005,Unspecified error"))
        << error.bytes();
    EXPECT_EQ(CombinePDF(nullptr, nullptr, nullptr), 0);
}

TEST(GetAnnotationFromPDF, ALockedTableIsKept) {
    // A host iterating over the table (For Each) holds it locked: it cannot be replaced.
    TempFolder folder;
    WritePdf(folder / "review.pdf", {{"p1", {{"Text", "alice", "note"}}}});
    vbhost::String file(Ansi(folder / "review.pdf"));
    vbhost::Array table;
    table.CreateStrings({{2, 0}});
    table.set({1}, "kept");
    SAFEARRAY *held = table.get();
    vbhost::String error;
    ASSERT_EQ(SafeArrayLock(held), S_OK);
    EXPECT_EQ(GetAnnotationFromPDF(file.ref(), table.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("001-数组创建失败！"));
    EXPECT_EQ(table.get(), held);
    EXPECT_EQ(table.at({1}), "kept");
    ASSERT_EQ(SafeArrayUnlock(held), S_OK);
    EXPECT_EQ(GetAnnotationFromPDF(file.ref(), table.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(table.at({1, 1}), "alice");
}

#ifndef _WIN32
TEST(CombinePDF, SpecialFilesLinksAndOddArrays) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    TempFolder folder;
    WritePdf(folder / "a.pdf", {{"a1", {}}});
    ASSERT_EQ(::mkfifo((folder / "fifo.pdf").c_str(), 0600), 0);
    std::filesystem::create_directory(folder / "dir.pdf");

    // Sources that are no regular file count as files that do not open.
    vbhost::Array files;
    files.CreateStrings({{4, 0}});
    files.set({0}, Ansi(folder / "fifo.pdf"));
    files.set({1}, "/dev/zero");
    files.set({2}, Ansi(folder / "dir.pdf"));
    files.set({3}, Ansi(folder / "a.pdf"));
    vbhost::String error;

    // Saved through a relative symbolic link: the file it names is written, the link stays.
    std::filesystem::create_directory(folder / "out");
    std::filesystem::create_symlink("../merged.pdf", folder / "out" / "link.pdf");
    vbhost::String link(Ansi(folder / "out" / "link.pdf"));
    ASSERT_EQ(CombinePDF(files.ref(), link.ref(), error.ref()), 1) << error.bytes();
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "out" / "link.pdf"));
    EXPECT_EQ(PageMarkers(folder / "merged.pdf"), (std::vector<std::string>{"a1"}));

    // A device, a FIFO or a link to a device is never replaced by a file. The device is a
    // private node with the null device's numbers, so that a fault here could never replace a
    // node the system uses.
    const std::string node = Ansi(folder / "node.pdf");
    const bool haveNode = ::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::filesystem::create_symlink(node, folder / "null.pdf");
    for (const std::string &target : {node, Ansi(folder / "null.pdf"), Ansi(folder / "fifo.pdf")}) {
        if (target != Ansi(folder / "fifo.pdf") && !haveNode) {
            continue;
        }
        vbhost::String output(target);
        EXPECT_EQ(CombinePDF(files.ref(), output.ref(), error.ref()), 0) << target;
        EXPECT_TRUE(
            pdftest::SameComError(error.bytes(), "ERROR:(COM_ERROR)80004005,Unspecified error"))
            << error.bytes();
    }
    EXPECT_TRUE(!haveNode || std::filesystem::is_character_file(node));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "null.pdf"));
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "fifo.pdf"));
    alarm(0);
}
#endif

TEST(CombinePDF, OddArraysAndAnExistingOutput) {
    TempFolder folder;
    WritePdf(folder / "a.pdf", {{"a1", {}}});
    WritePdf(folder / "b.pdf", {{"b1", {}}, {"b2", {}}});
    vbhost::String error;

    // A list of two dimensions or of Variants holds no usable path: an empty document.
    vbhost::Array square, variants;
    square.CreateStrings({{2, 0}, {2, 0}});
    variants.CreateVariants({{2, 0}});
    for (vbhost::Array *odd : {&square, &variants}) {
        vbhost::String output(Ansi(folder / "odd.pdf"));
        EXPECT_EQ(CombinePDF(odd->ref(), output.ref(), error.ref()), 1) << error.bytes();
        EXPECT_TRUE(pdftest::PassesCheck(folder / "odd.pdf"));
    }

    // An existing output file, Chinese names included, is replaced as a whole; no temporary
    // file stays beside it. Its folder 乗 is 81 5C in GBK: a trail byte that is a backslash.
    const std::filesystem::path inner = folder / Utf8Name("\u4E57");
    std::filesystem::create_directory(inner);
    const std::filesystem::path merged = inner / Utf8Name("\u5408\u5E76.pdf");
    pdftest::WriteBytes(merged, std::string(100000, 'x'));
    vbhost::Array files;
    files.CreateStrings({{2, 0}});
    files.set({0}, Ansi(folder / "b.pdf"));
    files.set({1}, Ansi(folder / "a.pdf"));
    vbhost::String output(Ansi(merged));
    ASSERT_EQ(CombinePDF(files.ref(), output.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(PageMarkers(merged), (std::vector<std::string>{"b1", "b2", "a1"}));
    EXPECT_TRUE(pdftest::PassesCheck(merged));
    EXPECT_EQ(EntriesIn(inner), 1u);

    // Its annotations are read back through the same GBK path.
    WritePdf(merged, {{"m1", {{"Text", "\u5F20\u4E09", "ok"}}}});
    vbhost::Array table;
    ASSERT_EQ(GetAnnotationFromPDF(output.ref(), table.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(table.at({1, 1}), "\x20\x09"); // low bytes of U+5F20 U+4E09
    EXPECT_EQ(table.at({1, 3}), "ok");
}

#ifdef _WIN32
// Another program holding a file without sharing it: the file neither opens nor is replaced,
// and stays as it was. Device names count as files that do not open.
TEST(PdfOnWindows, LockedMissingAndDeviceFiles) {
    TempFolder folder;
    WritePdf(folder / "a.pdf", {{"a1", {{"Text", "alice", "note"}}}});
    const std::filesystem::path held = folder / Utf8Name("\u9501\u5B9A.pdf");
    WritePdf(held, {{"h1", {{"Text", "bob", "held"}}}});
    const std::string before = pdftest::ReadBytes(held);
    HANDLE lock = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    vbhost::String heldName(Ansi(held));
    vbhost::Array table;
    vbhost::String error;
    EXPECT_EQ(GetAnnotationFromPDF(heldName.ref(), table.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("002-文件打开失败！"));
    EXPECT_EQ(table.count(0), 1u);

    vbhost::Array files;
    files.CreateStrings({{5, 0}});
    files.set({0}, Ansi(held));
    files.set({1}, Ansi(folder / "missing.pdf"));
    files.set({2}, "NUL");
    files.set({3}, "CON");
    files.set({4}, Ansi(folder / "a.pdf"));
    vbhost::String output(Ansi(folder / "out.pdf"));
    ASSERT_EQ(CombinePDF(files.ref(), output.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(PageMarkers(folder / "out.pdf"), (std::vector<std::string>{"a1"}));

    // The held file as the output, and the null device: refused with the COM error text.
    vbhost::String device("NUL");
    for (vbhost::String *target : {&heldName, &device}) {
        EXPECT_EQ(CombinePDF(files.ref(), target->ref(), error.ref()), 0);
        EXPECT_TRUE(
            pdftest::SameComError(error.bytes(), "ERROR:(COM_ERROR)80004005,Unspecified error"))
            << error.bytes();
    }
    CloseHandle(lock);
    EXPECT_EQ(pdftest::ReadBytes(held), before);
    EXPECT_EQ(EntriesIn(folder.path()), 3u);

    // Once let go, it is read and replaced like any other file.
    EXPECT_EQ(GetAnnotationFromPDF(heldName.ref(), table.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(table.at({1, 3}), "held");
    vbhost::Array twice;
    twice.CreateStrings({{2, 0}});
    twice.set({0}, Ansi(folder / "a.pdf"));
    twice.set({1}, Ansi(folder / "a.pdf"));
    ASSERT_EQ(CombinePDF(twice.ref(), heldName.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(PageMarkers(held), (std::vector<std::string>{"a1", "a1"}));
}
#endif
