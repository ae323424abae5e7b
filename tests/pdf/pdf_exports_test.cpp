#include "pdf_fixtures.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using pdftest::PageMarkers;
using pdftest::TempFolder;
using pdftest::WritePdf;
using vbhost::Gbk;

TEST(GetAnnotationFromPDF, ReplacesTheCallersTable) {
    TempFolder folder;
    WritePdf(folder / "review.pdf",
             {{"p1", {{"Text", "alice", "first note"}}},
              {"p2", {{"FreeText", "bob", "\u4F60\u597D"}, {"Highlight", "carol", "ok"}}}});
    WritePdf(folder / "plain.pdf", {{"p1", {}}});
    vbhost::String file((folder / "review.pdf").string());
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
    vbhost::String plain((folder / "plain.pdf").string());
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
    WritePdf(folder / "\u62A5\u544A.pdf", {{"r1", {{"Text", "dan", "seen"}}}});

    // An array declared (1 To 3) is read from its lower bound on; paths are GBK and name the
    // files whose UTF-8 names hold the same characters.
    vbhost::Array files;
    files.CreateStrings({{3, 1}});
    files.set({1}, (folder / "a.pdf").string());
    files.set({2}, (folder / "absent.pdf").string());
    files.set({3}, Gbk((folder / "\u62A5\u544A.pdf").string()));
    vbhost::String output(Gbk((folder / "\u5408\u5E76.pdf").string()));
    vbhost::String error("old message");
    ASSERT_EQ(CombinePDF(files.ref(), output.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(error.bytes(), "");
    EXPECT_EQ(PageMarkers(folder / "\u5408\u5E76.pdf"),
              (std::vector<std::string>{"a1", "a2", "r1"}));

    // No array: an empty document.
    vbhost::Array none;
    vbhost::String empty((folder / "empty.pdf").string());
    ASSERT_EQ(CombinePDF(none.ref(), empty.ref(), error.ref()), 1) << error.bytes();
    EXPECT_TRUE(pdftest::PassesCheck(folder / "empty.pdf"));

    vbhost::String nowhere((folder / "no" / "out.pdf").string());
    EXPECT_EQ(CombinePDF(files.ref(), nowhere.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), "ERROR:(COM_ERROR)80004005,Unspecified error");
    EXPECT_EQ(CombinePDF(nullptr, nullptr, nullptr), 0);
}

TEST(GetAnnotationFromPDF, ALockedTableIsKept) {
    // A host iterating over the table (For Each) holds it locked: it cannot be replaced.
    TempFolder folder;
    WritePdf(folder / "review.pdf", {{"p1", {{"Text", "alice", "note"}}}});
    vbhost::String file((folder / "review.pdf").string());
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

TEST(CombinePDF, SpecialFilesLinksAndOddArrays) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    TempFolder folder;
    WritePdf(folder / "a.pdf", {{"a1", {}}});
    ASSERT_EQ(::mkfifo((folder / "fifo.pdf").c_str(), 0600), 0);
    std::filesystem::create_directory(folder / "dir.pdf");

    // Sources that are no regular file count as files that do not open.
    vbhost::Array files;
    files.CreateStrings({{4, 0}});
    files.set({0}, (folder / "fifo.pdf").string());
    files.set({1}, "/dev/zero");
    files.set({2}, (folder / "dir.pdf").string());
    files.set({3}, (folder / "a.pdf").string());
    vbhost::String error;

    // Saved through a relative symbolic link: the file it names is written, the link stays.
    std::filesystem::create_directory(folder / "out");
    std::filesystem::create_symlink("../merged.pdf", folder / "out" / "link.pdf");
    vbhost::String link((folder / "out" / "link.pdf").string());
    ASSERT_EQ(CombinePDF(files.ref(), link.ref(), error.ref()), 1) << error.bytes();
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "out" / "link.pdf"));
    EXPECT_EQ(PageMarkers(folder / "merged.pdf"), (std::vector<std::string>{"a1"}));

    // A device, a FIFO or a link to a device is never replaced by a file. The device is a
    // private node with the null device's numbers, so that a fault here could never replace a
    // node the system uses.
    const std::string node = (folder / "node.pdf").string();
    const bool haveNode = ::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::filesystem::create_symlink(node, folder / "null.pdf");
    for (const std::string &target :
         {node, (folder / "null.pdf").string(), (folder / "fifo.pdf").string()}) {
        if (target != (folder / "fifo.pdf").string() && !haveNode) {
            continue;
        }
        vbhost::String output(target);
        EXPECT_EQ(CombinePDF(files.ref(), output.ref(), error.ref()), 0) << target;
        EXPECT_EQ(error.bytes(), "ERROR:(COM_ERROR)80004005,Unspecified error");
    }
    EXPECT_TRUE(!haveNode || std::filesystem::is_character_file(node));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "null.pdf"));
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "fifo.pdf"));

    // A list of two dimensions or of Variants holds no usable path: an empty document.
    vbhost::Array square, variants;
    square.CreateStrings({{2, 0}, {2, 0}});
    variants.CreateVariants({{2, 0}});
    for (vbhost::Array *odd : {&square, &variants}) {
        vbhost::String output((folder / "odd.pdf").string());
        EXPECT_EQ(CombinePDF(odd->ref(), output.ref(), error.ref()), 1) << error.bytes();
        EXPECT_TRUE(pdftest::PassesCheck(folder / "odd.pdf"));
    }
    alarm(0);
}
