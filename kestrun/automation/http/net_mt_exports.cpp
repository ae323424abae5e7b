// Net_MT.
#include "kestrun.h"
#include "kestrun/automation/http/net_mt.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
using kestrun::http::DefaultRequestFactory;
using kestrun::http::ReadDecimal;
using kestrun::http::RequestSlot;
using kestrun::http::RunRequestBatch;

namespace {

constexpr unsigned kFields = 6;
constexpr LONG kResultField = 5;

// A table of requests: two dimensions of string elements, both counted from 0, at least six
// fields per row. Anything else is left untouched.
bool IsRequestTable(SAFEARRAY *array) {
    VARTYPE vt = VT_EMPTY;
    return array != nullptr && array->cDims == 2 && SUCCEEDED(SafeArrayGetVartype(array, &vt)) &&
           vt == VT_BSTR && DimensionLowerBound(array, 0) == 0 &&
           DimensionLowerBound(array, 1) == 0 && DimensionCount(array, 1) >= kFields;
}

} // namespace

KESTRUN_EXPORT int32_t KESTRUN_CALL Net_MT(SAFEARRAY **requests) {
    return Guard(int32_t{1}, [&]() -> int32_t {
        SAFEARRAY *table = requests == nullptr ? nullptr : *requests;
        if (!IsRequestTable(table)) {
            return 1;
        }
        const size_t rows = DimensionCount(table, 0);
        auto field = [table](size_t row, LONG index) {
            return GetArrayString(table, {static_cast<LONG>(row), index}).value_or(std::string());
        };
        RunRequestBatch(
            rows,
            [&](size_t row) {
                RequestSlot slot;
                slot.url = field(row, 0);
                slot.method = field(row, 1);
                slot.requestHeaders = field(row, 2);
                slot.body = field(row, 3);
                slot.asText = ReadDecimal(field(row, 4));
                return slot;
            },
            [&](size_t row, const std::string &result) {
                PutArrayString(table, {static_cast<LONG>(row), kResultField}, result);
            },
            DefaultRequestFactory());
        return 1;
    });
}
