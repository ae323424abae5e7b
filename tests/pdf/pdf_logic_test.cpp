#include "kestrun/automation/pdf/dispatch.h"
#include "kestrun/automation/pdf/pdf.h"
#include "kestrun/interop/boundary.h"
#include "kestrun/interop/codepage.h"
#include "pdf_fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

using namespace kestrun::automation::pdf;
using kestrun::interop::SetVariantText;
using kestrun::interop::UniqueVariant;
using pdftest::PageMarkers;
using pdftest::TempFolder;
using pdftest::WritePdf;
namespace server = kestrun::platform::pdf;

namespace {

std::string Gbk(std::string_view utf8) {
    return kestrun::interop::Utf8ToAnsi(utf8);
}

struct VectorTable : AnnotationTable {
    std::vector<std::array<std::string, 4>> rows;
    bool Reset(size_t count) override {
        rows.assign(count, {});
        return true;
    }
    void Put(size_t row, size_t column, std::string_view text) override {
        rows.at(row).at(column) = text;
    }
};

using Row = std::array<std::string, 4>;

// Three listed annotations over two pages, with a pop-up and a link that are not listed.
void WriteReviewedPdf(const std::filesystem::path &file) {
    WritePdf(file, {{"p1", {{"Text", "alice", "first note"}, {"Popup", "", ""}}},
                    {"p2",
                     {{"Link", "", ""},
                      {"FreeText", "Zo\u00EB", "\u4F60\u597D"},
                      {"Highlight", "", "a\u2022b"}}}});
}

// Counts the calls that matter for closing and can replace the script object.
struct Calls {
    int opened = 0;
    int closed = 0;
};

class SpyDocument final : public server::PdfDocument {
public:
    SpyDocument(Calls &calls, std::function<server::ComPtr()> script = {})
        : inner_(server::CreatePdfDocument()), calls_(calls), script_(std::move(script)) {}
    bool Open(std::u16string_view path) override {
        const bool ok = inner_->Open(path);
        calls_.opened += ok ? 1 : 0;
        return ok;
    }
    bool Close() override {
        ++calls_.closed;
        return inner_->Close();
    }
    bool InsertPages(LONG after, PdfDocument &source, LONG first, LONG count,
                     LONG bookmarks) override {
        return inner_->InsertPages(after, source, first, count, bookmarks);
    }
    LONG GetNumPages() override { return inner_->GetNumPages(); }
    bool Create() override { return inner_->Create(); }
    bool Save(SHORT type, std::u16string_view path) override { return inner_->Save(type, path); }
    server::ComPtr GetJSObject() override { return script_ ? script_() : inner_->GetJSObject(); }
    std::shared_ptr<server::DocumentContent> Content() override { return inner_->Content(); }

private:
    std::unique_ptr<PdfDocument> inner_;
    Calls &calls_;
    std::function<server::ComPtr()> script_;
};

DocumentFactory Spy(Calls &calls, std::function<server::ComPtr()> script = {}) {
    return [&calls, script] { return std::make_unique<SpyDocument>(calls, script); };
}

server::DispatchMember Returns(std::u16string name, WORD kind,
                               std::function<void(VARIANT *)> fill) {
    return {std::move(name), kind, [fill](VARIANT *result) {
                fill(result);
                return S_OK;
            }};
}

void PutObject(VARIANT *result, server::ComPtr object) {
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object.Detach();
}

// A script object whose "getAnnots" answers with `list`.
std::function<server::ComPtr()> ScriptListing(std::function<void(VARIANT *)> list) {
    return [list] {
        return server::MakeDispatchObject(
            {Returns(u"syncAnnotScan", server::kDispatchMethod, [](VARIANT *) {}),
             Returns(u"getAnnots", server::kDispatchMethod, list)});
    };
}

// An annotation whose properties are author "bob", type "Ink" (or a failing read) and the
// number 7 as contents.
server::ComPtr FakeAnnotation(bool typeFails) {
    constexpr WORD kGet = server::kDispatchPropertyGet;
    auto props = [typeFails](VARIANT *r) {
        PutObject(r, server::MakeDispatchObject(
                         {Returns(u"author", kGet, [](VARIANT *v) { SetVariantText(v, u"bob"); }),
                          {u"type", kGet,
                           [typeFails](VARIANT *v) {
                               SetVariantText(v, u"Ink");
                               return typeFails ? DISP_E_EXCEPTION : S_OK;
                           }},
                          Returns(u"contents", kGet, [](VARIANT *v) {
                              V_VT(v) = VT_I4;
                              V_I4(v) = 7;
                          })}));
    };
    return server::MakeDispatchObject({Returns(u"getprops", server::kDispatchMethod, props)});
}

} // namespace

TEST(PdfCallByName, ReportsLookupAndInvocationFailuresInTheirOwnWords) {
    const server::ComPtr object = server::MakeDispatchObject(
        {Returns(u"answer", server::kDispatchPropertyGet,
                 [](VARIANT *r) {
                     V_VT(r) = VT_I4;
                     V_I4(r) = 42;
                 }),
         {u"run", server::kDispatchMethod, [](VARIANT *) { return E_FAIL; }},
         {u"broken", server::kDispatchPropertyGet,
          [](VARIANT *) -> HRESULT { throw std::runtime_error("damaged"); }}});

    UniqueVariant value;
    EXPECT_EQ(CallByName(object.get(), "answer", CallKind::Property, value.get()), std::nullopt);
    EXPECT_EQ(V_I4(value.get()), 42);

    EXPECT_EQ(CallByName(object.get(), "missing", CallKind::Method, value.get()),
              "missing" + Gbk("函数查找失败！"));
    EXPECT_EQ(CallByName(object.get(), "run", CallKind::Method, value.get()),
              "run" + Gbk("函数错误！"));
    EXPECT_EQ(CallByName(object.get(), "Answer", CallKind::Property, value.get()),
              "Answer" + Gbk("属性查找失败！"));
    EXPECT_EQ(CallByName(object.get(), "broken", CallKind::Property, value.get()),
              "broken" + Gbk("属性读取错误！"));
    // A property called as a method is found but cannot be invoked that way.
    EXPECT_EQ(CallByName(object.get(), "answer", CallKind::Method, value.get()),
              "answer" + Gbk("函数错误！"));
    EXPECT_EQ(CallByName(nullptr, "getprops", CallKind::Method, value.get()),
              "getprops" + Gbk("函数查找失败！"));
}

TEST(PdfAnnotations, ListsEachAnnotationInPageOrderAsLowBytes) {
    TempFolder folder;
    WriteReviewedPdf(folder / "review.pdf");
    VectorTable table;
    std::string error = "stale";
    ASSERT_EQ(GetAnnotations((folder / "review.pdf").string(), table, error), 1) << error;
    EXPECT_EQ(error, "");
    ASSERT_EQ(table.rows.size(), 4u);
    EXPECT_EQ(table.rows[0], Row{});
    EXPECT_EQ(table.rows[1], (Row{"", "alice", "Text", "first note"}));
    // U+00EB keeps its byte; 你好 (U+4F60 U+597D) keeps the low bytes 60 7D; the bullet, byte 80
    // in PDFDocEncoding, is U+2022 and so keeps 22.
    EXPECT_EQ(table.rows[2], (Row{"", "Zo\xEB", "FreeText", "\x60\x7D"}));
    EXPECT_EQ(table.rows[3], (Row{"", "", "Highlight", "a\"b"}));
}

TEST(PdfAnnotations, FilesWithoutAnnotationsOrThatDoNotOpen) {
    TempFolder folder;
    WritePdf(folder / "plain.pdf", {{"p1", {}}, {"p2", {{"Link", "", ""}}}});
    pdftest::WriteBytes(folder / "notes.txt", "just some text\n");

    WriteReviewedPdf(folder / "good.pdf");
    const std::string good = pdftest::ReadBytes(folder / "good.pdf");
    // Cut short: nothing of the document survives.
    pdftest::WriteBytes(folder / "cut.pdf", good.substr(0, 20));
    // A wrong cross-reference offset: qpdf rebuilds the table and the file still reads.
    std::string moved = good;
    const auto at = moved.rfind("startxref\n");
    ASSERT_NE(at, std::string::npos);
    moved.replace(at + 10, moved.find('\n', at + 10) - (at + 10), "12");
    pdftest::WriteBytes(folder / "moved.pdf", moved);

    struct Case {
        std::string file;
        int32_t result;
        std::string error;
        size_t rows;
    };
    const Case cases[] = {
        {"plain.pdf", 0, Gbk("006-没有标记！"), 1},
        {"notes.txt", 0, Gbk("002-文件打开失败！"), 1},
        {"cut.pdf", 0, Gbk("002-文件打开失败！"), 1},
        {"absent.pdf", 0, Gbk("002-文件打开失败！"), 1},
        {"moved.pdf", 1, "", 4},
    };
    for (const Case &c : cases) {
        VectorTable table;
        std::string error;
        EXPECT_EQ(GetAnnotations((folder / c.file).string(), table, error), c.result) << c.file;
        EXPECT_EQ(error, c.error) << c.file;
        EXPECT_EQ(table.rows.size(), c.rows) << c.file;
    }
}

TEST(PdfAnnotations, ClosesTheDocumentOnEveryPathAfterOpening) {
    TempFolder folder;
    WriteReviewedPdf(folder / "review.pdf");
    WritePdf(folder / "plain.pdf", {{"p1", {}}});
    const std::string review = (folder / "review.pdf").string();

    auto run = [&](const std::string &file, std::function<server::ComPtr()> script,
                   VectorTable &table, std::string &error) {
        Calls calls;
        const int32_t result = GetAnnotations(file, table, error, Spy(calls, std::move(script)));
        EXPECT_EQ(calls.closed, calls.opened) << error;
        return std::make_pair(result, calls.opened);
    };
    VectorTable table;
    std::string error;
    EXPECT_EQ(run(review, {}, table, error), std::make_pair(1, 1));
    EXPECT_EQ(run((folder / "plain.pdf").string(), {}, table, error), std::make_pair(0, 1));
    EXPECT_EQ(run((folder / "absent.pdf").string(), {}, table, error), std::make_pair(0, 0));

    // No script object.
    EXPECT_EQ(run(
                  review, [] { return server::ComPtr(); }, table, error),
              std::make_pair(0, 1));
    EXPECT_EQ(error, Gbk("003-GetJSObject对象获取失败！"));
    // A script object without the scan method.
    EXPECT_EQ(run(
                  review, [] { return server::MakeDispatchObject({}); }, table, error),
              std::make_pair(0, 1));
    EXPECT_EQ(error, Gbk("004-syncAnnotScan函数查找失败！"));

    // A list that is an array but not of variants: success with the one-row table.
    auto numbers = ScriptListing([](VARIANT *r) {
        V_VT(r) = VT_ARRAY | VT_I4;
        V_ARRAY(r) = SafeArrayCreateVector(VT_I4, 0, 2);
    });
    EXPECT_EQ(run(review, numbers, table, error), std::make_pair(1, 1));
    EXPECT_EQ(table.rows.size(), 1u);

    // The second annotation's "type" cannot be read: the rows filled so far stay.
    auto twoAnnotations = ScriptListing([](VARIANT *r) {
        V_VT(r) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(r) = SafeArrayCreateVector(VT_VARIANT, 5, 2);
        for (LONG index = 5; index < 7; ++index) {
            UniqueVariant element;
            PutObject(element.get(), FakeAnnotation(index == 6));
            SafeArrayPutElement(V_ARRAY(r), &index, element.get());
        }
    });
    EXPECT_EQ(run(review, twoAnnotations, table, error), std::make_pair(0, 1));
    EXPECT_EQ(error, Gbk("011-type属性读取错误！"));
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[1], (Row{"", "bob", "Ink", "7"}));
    EXPECT_EQ(table.rows[2], (Row{"", "bob", "", ""}));
}

TEST(PdfAnnotations, TableFailuresAndAMissingServer) {
    struct RefusingTable : VectorTable {
        bool Reset(size_t) override { return false; }
    } refusing;
    struct ThrowingTable : VectorTable {
        bool Reset(size_t) override { throw std::bad_alloc(); }
    } throwing;
    std::string error;
    EXPECT_EQ(GetAnnotations("x.pdf", refusing, error), 0);
    EXPECT_EQ(error, Gbk("001-数组创建失败！"));
    EXPECT_EQ(GetAnnotations("x.pdf", throwing, error), 0);
    EXPECT_EQ(error, "014-ERROR:std::bad_alloc");

    const DocumentFactory none = [] { return std::unique_ptr<server::PdfDocument>(); };
    VectorTable table;
    EXPECT_EQ(GetAnnotations("x.pdf", table, error, none), 0);
    EXPECT_TRUE(pdftest::SameComError(error, "013-ERROR:(COM_ERROR)80004003,Invalid pointer"))
        << error;
    EXPECT_EQ(table.rows.size(), 1u);

    TempFolder folder;
    const std::vector<std::string> files;
    EXPECT_EQ(Combine(files, (folder / "out.pdf").string(), error, none), 0);
    EXPECT_TRUE(pdftest::SameComError(error, "ERROR:(COM_ERROR)80004003,Invalid pointer")) << error;
    EXPECT_FALSE(std::filesystem::exists(folder / "out.pdf"));
}

TEST(PdfCombine, MergesOpenableFilesInOrderAndSkipsTheRest) {
    TempFolder folder;
    WritePdf(folder / "a.pdf", {{"a1", {{"Text", "alice", "on a"}}}, {"a2", {}}});
    WritePdf(folder / "c.pdf", {{"c1", {{"Square", "carol", "on c"}}}});
    pdftest::WriteBytes(folder / "notes.txt", "not a pdf");
    std::string error = "stale";

    // An empty merge is a valid document without pages.
    ASSERT_EQ(Combine({}, (folder / "empty.pdf").string(), error), 1) << error;
    EXPECT_EQ(error, "");
    EXPECT_TRUE(pdftest::PassesCheck(folder / "empty.pdf"));
    EXPECT_TRUE(PageMarkers(folder / "empty.pdf").empty());

    const std::vector<std::string> files{
        (folder / "a.pdf").string(),     (folder / "absent.pdf").string(),
        (folder / "notes.txt").string(), (folder / "empty.pdf").string(),
        (folder / "c.pdf").string(),     (folder / "a.pdf").string()};
    ASSERT_EQ(Combine(files, (folder / "out.pdf").string(), error), 1) << error;
    EXPECT_EQ(PageMarkers(folder / "out.pdf"),
              (std::vector<std::string>{"a1", "a2", "c1", "a1", "a2"}));
    EXPECT_TRUE(pdftest::PassesCheck(folder / "out.pdf"));

    // The annotations travel with their pages.
    VectorTable table;
    ASSERT_EQ(GetAnnotations((folder / "out.pdf").string(), table, error), 1) << error;
    ASSERT_EQ(table.rows.size(), 4u);
    EXPECT_EQ(table.rows[1][3], "on a");
    EXPECT_EQ(table.rows[2][3], "on c");
    EXPECT_EQ(table.rows[3][3], "on a");

    // Saving over one of the files being merged.
    const std::vector<std::string> again{(folder / "a.pdf").string(), (folder / "c.pdf").string()};
#ifdef _WIN32
    // Windows does not replace a file that is still open: the save fails, the file stays whole
    // and no temporary file is left.
    const std::string before = pdftest::ReadBytes(folder / "a.pdf");
    EXPECT_EQ(Combine(again, (folder / "a.pdf").string(), error), 0);
    EXPECT_TRUE(pdftest::SameComError(error, "ERROR:(COM_ERROR)80004005,Unspecified error"))
        << error;
    EXPECT_EQ(pdftest::ReadBytes(folder / "a.pdf"), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              5);
#else
    ASSERT_EQ(Combine(again, (folder / "a.pdf").string(), error), 1) << error;
    EXPECT_EQ(PageMarkers(folder / "a.pdf"), (std::vector<std::string>{"a1", "a2", "c1"}));
    EXPECT_TRUE(pdftest::PassesCheck(folder / "a.pdf"));
#endif
}

TEST(PdfCombine, AFailedSaveIsReportedAndLeavesNoFile) {
    TempFolder folder;
    WritePdf(folder / "a.pdf", {{"a1", {}}});
    std::string error;
    const std::vector<std::string> files{(folder / "a.pdf").string()};
    EXPECT_EQ(Combine(files, (folder / "missing" / "out.pdf").string(), error), 0);
    EXPECT_TRUE(pdftest::SameComError(error, "ERROR:(COM_ERROR)80004005,Unspecified error"))
        << error;
    // A folder in the way of the output: nothing is left behind beside it.
    std::filesystem::create_directory(folder / "taken");
    EXPECT_EQ(Combine(files, (folder / "taken").string(), error), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              2);
}
