// Annotation listing and merging of PDF files through the PDF document server.
#pragma once

#include "kestrun/automation/pdf/document_seam.h"
#include "oleauto.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrun::automation::pdf {

using platform::pdf::DocumentFactory;

enum class CallKind { Method, Property };

// Calls the member `name` of a late-bound object with no arguments: looks the name up, then
// invokes it as a method or as a property read. On success the value is in `result` and the
// answer is nullopt; otherwise it is the failure text, `name` followed by "函数查找失败！" or
// "函数错误！" (method) or by "属性查找失败！" or "属性读取错误！" (property), in GBK. A null
// object fails its lookup.
std::optional<std::string> CallByName(IDispatch *object, std::string_view name, CallKind kind,
                                      VARIANT *result);

// The low-order byte of each UTF-16 code unit, in order. This is how annotation texts reach the
// caller: text outside U+0000..U+00FF does not survive it.
std::string LowBytes(std::u16string_view units);

// Where GetAnnotations writes its table of rows x 4 columns of text.
class AnnotationTable {
public:
    virtual ~AnnotationTable() = default;
    // Replaces the table by one of `rows` rows and 4 empty columns; false if it cannot be made.
    virtual bool Reset(size_t rows) = 0;
    virtual void Put(size_t row, size_t column, std::string_view text) = 0;
};

// Lists the annotations of the PDF file `pdfFile` (GBK path): row i (from 1) holds author, type
// and contents of the i-th annotation in columns 1 to 3; row 0 and column 0 stay empty. Returns
// 1 with `errorText` empty, or 0 with "code-text" in `errorText` (codes 001 to 014). A failure
// before the sized table exists leaves the one-row table; a later one leaves the rows filled so
// far.
int32_t GetAnnotations(std::string_view pdfFile, AnnotationTable &table, std::string &errorText,
                       const DocumentFactory &server = platform::pdf::CreatePdfDocument);

// Merges the pages of `pdfFiles` (GBK paths), in order, into a new document saved as
// `outputFile`. Files that cannot be opened are skipped. Returns 1 with `errorText` empty, or 0
// with the ExceptionMessage text of the failure.
int32_t Combine(std::span<const std::string> pdfFiles, std::string_view outputFile,
                std::string &errorText,
                const DocumentFactory &server = platform::pdf::CreatePdfDocument);

} // namespace kestrun::automation::pdf
