#include "pdf_fixtures.h"
#include "vbhost.h"

#include <gtest/gtest.h>

using pdftest::PageMarkers;
using pdftest::TempFolder;
using pdftest::WritePdf;
using vbhost::Gbk;

namespace {

std::string Cell(const vbhost::Array &table, long row, long column) {
    return table.at({row, column}).value_or("");
}

} // namespace

TEST(GetAnnotationFromPDF, FillsTheCallersTable) {
    TempFolder folder;
    WritePdf(folder / "review.pdf",
             {{"p1", {{"Text", "alice", "first note"}, {"Popup", "", ""}}},
              {"p2", {{"FreeText", "bob", "\u4F60\u597D"}, {"Highlight", "carol", "ok"}}}});
    vbhost::String file((folder / "review.pdf").string());
    vbhost::Array table;
    table.CreateStrings({{2, 0}});
    vbhost::String error("old message");

    ASSERT_EQ(GetAnnotationFromPDF(file.ref(), table.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(error.bytes(), "");
    ASSERT_EQ(table.count(0), 4u);
    ASSERT_EQ(table.count(1), 4u);
    for (long column = 0; column < 4; ++column) {
        EXPECT_EQ(Cell(table, 0, column), "");
    }
    for (long row = 0; row < 4; ++row) {
        EXPECT_EQ(Cell(table, row, 0), "");
    }
    EXPECT_EQ(Cell(table, 1, 1), "alice");
    EXPECT_EQ(Cell(table, 1, 2), "Text");
    EXPECT_EQ(Cell(table, 1, 3), "first note");
    EXPECT_EQ(Cell(table, 2, 2), "FreeText");
    EXPECT_EQ(Cell(table, 2, 3), "\x60\x7D"); // low bytes of U+4F60 U+597D
    EXPECT_EQ(Cell(table, 3, 1), "carol");
    EXPECT_EQ(Cell(table, 3, 2), "Highlight");
}

TEST(GetAnnotationFromPDF, FailuresLeaveTheOneRowTable) {
    TempFolder folder;
    WritePdf(folder / "plain.pdf", {{"p1", {}}});
    pdftest::WriteBytes(folder / "notes.txt", "plain text");

    vbhost::String plain((folder / "plain.pdf").string());
    vbhost::Array table;
    table.CreateStrings({{9, 0}, {9, 0}});
    vbhost::String error;
    EXPECT_EQ(GetAnnotationFromPDF(plain.ref(), table.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("006-没有标记！"));
    EXPECT_EQ(table.count(0), 1u);
    EXPECT_EQ(table.count(1), 4u);

    vbhost::String notes((folder / "notes.txt").string());
    EXPECT_EQ(GetAnnotationFromPDF(notes.ref(), table.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("002-文件打开失败！"));
    EXPECT_EQ(table.count(0), 1u);

    // Unset and absent arguments.
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
    WritePdf(folder / "c.pdf", {{"c1", {}}});

    // A Visual Basic array declared (1 To 3): the paths are read from its lower bound on.
    vbhost::Array files;
    files.CreateStrings({{3, 1}});
    files.set({1}, (folder / "a.pdf").string());
    files.set({2}, (folder / "absent.pdf").string());
    files.set({3}, (folder / "c.pdf").string());
    vbhost::String output((folder / "out.pdf").string());
    vbhost::String error("old message");
    ASSERT_EQ(CombinePDF(files.ref(), output.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(error.bytes(), "");
    EXPECT_EQ(PageMarkers(folder / "out.pdf"), (std::vector<std::string>{"a1", "a2", "c1"}));

    // No array: an empty document.
    vbhost::Array none;
    vbhost::String empty((folder / "empty.pdf").string());
    ASSERT_EQ(CombinePDF(none.ref(), empty.ref(), error.ref()), 1) << error.bytes();
    EXPECT_TRUE(pdftest::PassesCheck(folder / "empty.pdf"));

    // GBK paths name the files whose UTF-8 names hold the same characters.
    WritePdf(folder / "\u62A5\u544A.pdf", {{"r1", {{"Text", "dan", "seen"}}}});
    vbhost::Array chinese;
    chinese.CreateStrings({{1, 0}});
    chinese.set({0}, Gbk((folder / "\u62A5\u544A.pdf").string()));
    vbhost::String merged(Gbk((folder / "\u5408\u5E76.pdf").string()));
    ASSERT_EQ(CombinePDF(chinese.ref(), merged.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(PageMarkers(folder / "\u5408\u5E76.pdf"), std::vector<std::string>{"r1"});
    vbhost::Array table;
    EXPECT_EQ(GetAnnotationFromPDF(merged.ref(), table.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(table.at({1, 3}), "seen");

    vbhost::String nowhere((folder / "no" / "out.pdf").string());
    EXPECT_EQ(CombinePDF(files.ref(), nowhere.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), "ERROR:(COM_ERROR)80004005,Unspecified error");
    EXPECT_EQ(CombinePDF(nullptr, nullptr, nullptr), 0);
}
