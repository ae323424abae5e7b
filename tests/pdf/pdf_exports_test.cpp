#include "pdf_fixtures.h"
#include "vbhost.h"

#include <gtest/gtest.h>

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
