#include "kestrun/automation/pdf/pdf.h"

#include "kestrun/interop/boundary.h"
#include "kestrun/interop/codepage.h"
#include "kestrun/interop/errors.h"

#include <limits>
#include <memory>

namespace kestrun::automation::pdf {

using interop::AnsiToWide;
using interop::ComError;
using interop::ExceptionMessage;
using interop::UniqueVariant;
using platform::pdf::ComPtr;
using platform::pdf::DISPID;
using platform::pdf::PdfDocument;

namespace {

// Message texts, GBK bytes of the Chinese text in the comment above each.
// 函数查找失败！
constexpr char kMethodLookupFailed[] = "\xBA\xAF\xCA\xFD\xB2\xE9\xD5\xD2\xCA\xA7\xB0\xDC\xA3\xA1";
// 函数错误！
constexpr char kMethodFailed[] = "\xBA\xAF\xCA\xFD\xB4\xED\xCE\xF3\xA3\xA1";
// 属性查找失败！
constexpr char kPropertyLookupFailed[] = "\xCA\xF4\xD0\xD4\xB2\xE9\xD5\xD2\xCA\xA7\xB0\xDC\xA3\xA1";
// 属性读取错误！
constexpr char kPropertyReadFailed[] = "\xCA\xF4\xD0\xD4\xB6\xC1\xC8\xA1\xB4\xED\xCE\xF3\xA3\xA1";
// 数组创建失败！
constexpr char kArrayFailed[] = "\xCA\xFD\xD7\xE9\xB4\xB4\xBD\xA8\xCA\xA7\xB0\xDC\xA3\xA1";
// 文件打开失败！
constexpr char kOpenFailed[] = "\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC\xA3\xA1";
// GetJSObject对象获取失败！
constexpr char kNoScriptObject[] =
    "GetJSObject\xB6\xD4\xCF\xF3\xBB\xF1\xC8\xA1\xCA\xA7\xB0\xDC\xA3\xA1";
// 没有标记！
constexpr char kNoAnnotations[] = "\xC3\xBB\xD3\xD0\xB1\xEA\xBC\xC7\xA3\xA1";
// ASSERT False！
constexpr char kBadBounds[] = "ASSERT False\xA3\xA1";

std::string Step(std::string_view code, std::string_view text) {
    std::string message(code);
    message += '-';
    message += text;
    return message;
}

// The text of the exception being handled, after its step code.
std::string CaughtStep(std::string_view code) {
    std::string text;
    ExceptionMessage(text);
    return Step(code, text);
}

// A document object that does not exist fails its first use with an invalid-pointer COM error.
PdfDocument &Use(const std::unique_ptr<PdfDocument> &document) {
    if (document == nullptr) {
        throw ComError(E_POINTER);
    }
    return *document;
}

IDispatch *ObjectIn(const VARIANT &value) {
    return V_VT(&value) == VT_DISPATCH ? V_DISPATCH(&value) : nullptr;
}

// A property value as cell text: a string's UTF-16 units (other values converted to a string
// where they can be, otherwise empty), one low byte per unit.
std::string CellText(const VARIANT &value) {
    UniqueVariant converted;
    const VARIANT *text = &value;
    if (V_VT(&value) != VT_BSTR) {
        // The source is only read; the system's declaration lacks the const.
        if (FAILED(VariantChangeType(converted.get(), const_cast<VARIANT *>(&value), 0, VT_BSTR)) ||
            V_VT(converted.get()) != VT_BSTR) {
            return {};
        }
        text = converted.get();
    }
    const BSTR units = V_BSTR(text);
    if (units == nullptr) {
        return {};
    }
    return LowBytes(
        std::u16string_view(reinterpret_cast<const char16_t *>(units), SysStringLen(units)));
}

// Steps 3 to 7 of the listing, on an open document: nullopt on success, else the message.
std::optional<std::string> ListAnnotations(PdfDocument &document, AnnotationTable &table) {
    const ComPtr script = document.GetJSObject();
    if (!script) {
        return Step("003", kNoScriptObject);
    }
    {
        UniqueVariant ignored;
        if (auto failure =
                CallByName(script.get(), "syncAnnotScan", CallKind::Method, ignored.get())) {
            return Step("004", *failure);
        }
    }
    UniqueVariant list;
    if (auto failure = CallByName(script.get(), "getAnnots", CallKind::Method, list.get())) {
        return Step("005", *failure);
    }
    const VARTYPE type = V_VT(list.get());
    if ((type & VT_ARRAY) == 0 || (type & VT_BYREF) != 0 || V_ARRAY(list.get()) == nullptr) {
        return Step("006", kNoAnnotations);
    }
    // The list must have the array bit and bit 0x0008, as an array of variants (0x200C) has;
    // any other array is taken as listing nothing.
    constexpr VARTYPE kListBits = VT_ARRAY | 0x0008;
    if ((type & kListBits) != kListBits) {
        return std::nullopt;
    }
    SAFEARRAY *annotations = V_ARRAY(list.get());
    LONG lower = 0;
    LONG upper = 0;
    if (FAILED(SafeArrayGetLBound(annotations, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(annotations, 1, &upper))) {
        return Step("007", kBadBounds);
    }
    const int64_t count = static_cast<int64_t>(upper) - lower + 1;
    if (count < 0 || count >= std::numeric_limits<ULONG>::max() ||
        !table.Reset(static_cast<size_t>(count) + 1)) {
        return Step("008", kArrayFailed);
    }
    VARTYPE elementType = VT_EMPTY;
    SafeArrayGetVartype(annotations, &elementType);

    struct Property {
        const char *name;
        const char *code;
        size_t column;
    };
    static constexpr Property kProperties[] = {
        {"author", "010", 1}, {"type", "011", 2}, {"contents", "012", 3}};

    for (int64_t i = 0; i < count; ++i) {
        // An element that is not a variant holding an object fails the "getprops" lookup.
        UniqueVariant annotation;
        if (elementType == VT_VARIANT) {
            LONG index = static_cast<LONG>(lower + i);
            SafeArrayGetElement(annotations, &index, annotation.get());
        }
        UniqueVariant props;
        if (auto failure = CallByName(ObjectIn(*annotation.get()), "getprops", CallKind::Method,
                                      props.get())) {
            return Step("009", *failure);
        }
        for (const Property &property : kProperties) {
            UniqueVariant value;
            if (auto failure = CallByName(ObjectIn(*props.get()), property.name, CallKind::Property,
                                          value.get())) {
                return Step(property.code, *failure);
            }
            table.Put(static_cast<size_t>(i) + 1, property.column, CellText(*value.get()));
        }
    }
    return std::nullopt;
}

// Closes an open source document when a merge step is done with it, whichever way it ends.
class CloseWhenDone {
public:
    explicit CloseWhenDone(PdfDocument &document) : document_(document) {}
    ~CloseWhenDone() {
        try {
            document_.Close();
        } catch (...) {
        }
    }
    CloseWhenDone(const CloseWhenDone &) = delete;
    CloseWhenDone &operator=(const CloseWhenDone &) = delete;

private:
    PdfDocument &document_;
};

} // namespace

std::optional<std::string> CallByName(IDispatch *object, std::string_view name, CallKind kind,
                                      VARIANT *result) {
    const bool method = kind == CallKind::Method;
    std::string failure(name);
    const ComPtr dispatch = platform::pdf::QueryDispatch(object);
    DISPID id = 0;
    if (!dispatch || FAILED(platform::pdf::GetMemberId(dispatch.get(), AnsiToWide(name), &id))) {
        return failure + (method ? kMethodLookupFailed : kPropertyLookupFailed);
    }
    const WORD flags =
        method ? platform::pdf::kDispatchMethod : platform::pdf::kDispatchPropertyGet;
    if (FAILED(platform::pdf::InvokeMember(dispatch.get(), id, flags, result))) {
        return failure + (method ? kMethodFailed : kPropertyReadFailed);
    }
    return std::nullopt;
}

std::string LowBytes(std::u16string_view units) {
    std::string bytes;
    bytes.reserve(units.size());
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
    }
    return bytes;
}

int32_t GetAnnotations(std::string_view pdfFile, AnnotationTable &table, std::string &errorText,
                       const DocumentFactory &server) {
    errorText.clear();
    try {
        if (!table.Reset(1)) {
            errorText = Step("001", kArrayFailed);
            return 0;
        }
    } catch (...) {
        errorText = CaughtStep("014");
        return 0;
    }

    std::unique_ptr<PdfDocument> document;
    bool opened = false;
    std::optional<std::string> failure;
    try {
        if (server) {
            document = server();
        }
        opened = Use(document).Open(AnsiToWide(pdfFile));
        failure = opened ? ListAnnotations(*document, table) : Step("002", kOpenFailed);
    } catch (...) {
        failure = CaughtStep("013");
    }
    // Every path after a successful Open closes the document; a failing Close changes nothing.
    if (opened) {
        try {
            document->Close();
        } catch (...) {
        }
    }
    if (failure) {
        errorText = std::move(*failure);
        return 0;
    }
    return 1;
}

int32_t Combine(std::span<const std::string> pdfFiles, std::string_view outputFile,
                std::string &errorText, const DocumentFactory &server) {
    errorText.clear();
    try {
        std::unique_ptr<PdfDocument> source = server ? server() : nullptr;
        std::unique_ptr<PdfDocument> target = server ? server() : nullptr;
        Use(target).Create();
        for (const std::string &file : pdfFiles) {
            if (!Use(source).Open(AnsiToWide(file))) {
                continue; // a file that does not open is left out
            }
            CloseWhenDone closeSource(*source);
            const LONG pages = source->GetNumPages();
            if (pages > 0) {
                // After the target's last page; for an empty target that is -1, the front.
                const LONG last = target->GetNumPages() - 1;
                if (!target->InsertPages(last, *source, 0, pages, 0)) {
                    throw ComError(platform::pdf::kServerError);
                }
            }
        }
        // A refused save is a failure, not a merged file.
        if (!target->Save(platform::pdf::kSaveFull, AnsiToWide(outputFile))) {
            throw ComError(platform::pdf::kServerError);
        }
        target->Close();
        return 1;
    } catch (...) {
        ExceptionMessage(errorText);
        return 0;
    }
}

} // namespace kestrun::automation::pdf
