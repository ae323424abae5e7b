// GetAnnotationFromPDF, CombinePDF.
#include "kestrun.h"
#include "kestrun/automation/pdf/pdf.h"
#include "kestrun/interop/frame.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace kestrun::interop;
using kestrun::automation::pdf::AnnotationTable;
using kestrun::automation::pdf::Combine;
using kestrun::automation::pdf::GetAnnotations;

namespace {

// The caller's two-dimensional string array variable as the annotation table.
class ArrayTable final : public AnnotationTable {
public:
    explicit ArrayTable(SAFEARRAY **variable) : variable_(variable) {}

    bool Reset(size_t rows) override {
        if (rows > std::numeric_limits<ULONG>::max()) {
            return false;
        }
        array_ = ReplaceOutArray(variable_, {{static_cast<ULONG>(rows), 0}, {4, 0}});
        return array_ != nullptr;
    }

    void Put(size_t row, size_t column, std::string_view text) override {
        PutArrayString(array_, {static_cast<LONG>(row), static_cast<LONG>(column)}, text);
    }

private:
    SAFEARRAY **variable_;
    SAFEARRAY *array_ = nullptr;
};

} // namespace

KESTRUN_EXPORT int32_t KESTRUN_CALL GetAnnotationFromPDF(BSTR *pdfFile, SAFEARRAY **annotations,
                                                         BSTR *errorText) {
    return Guard(int32_t{0}, [&] {
        WriteOutString(errorText, "");
        ArrayTable table(annotations);
        std::string error;
        const int32_t result = GetAnnotations(RefString(pdfFile), table, error);
        WriteOutString(errorText, error);
        return result;
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL CombinePDF(SAFEARRAY **pdfFiles, BSTR *outputFile,
                                               BSTR *errorText) {
    return Guard(int32_t{0}, [&] {
        WriteOutString(errorText, "");
        // The paths, from the array's lower bound on; an element that cannot be read counts as
        // a file that does not open.
        SAFEARRAY *array = pdfFiles == nullptr ? nullptr : *pdfFiles;
        const ULONG count = DimensionCount(array, 0);
        const int64_t lower = DimensionLowerBound(array, 0);
        std::vector<std::string> files;
        files.reserve(count);
        for (ULONG i = 0; i < count; ++i) {
            files.push_back(GetArrayString(array, {static_cast<LONG>(lower + i)}).value_or(""));
        }
        std::string error;
        const int32_t result = Combine(files, RefString(outputFile), error);
        WriteOutString(errorText, error);
        return result;
    });
}
