// RunVBScript, RunVBFunction and RunVBFunction_MT: thin shims over host.h.
#include "kestrun/automation/vbscript/host.h"
#include "kestrun/automation/vbscript/object_proxy.h"
#include "kestrun/automation/vbscript/threads.h"
#include "kestrun/automation/vbscript/variant.h"
#include "kestrun/interop/frame.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrun::vbscript {

namespace {

using interop::UniqueSafeArray;
using interop::UniqueVariant;

// Writes the message of the exception being handled to the out-string; never throws.
void ReportException(BSTR *errorText) noexcept {
    try {
        std::string text;
        interop::ExceptionMessage(text);
        interop::WriteOutString(errorText, text);
    } catch (...) {
    }
}

// The elements of the argument array (any dimensions, in memory order) as values. A String()
// array carries ANSI bytes like every String argument.
std::vector<Value> ArgumentsOf(SAFEARRAY *array) {
    std::vector<Value> out;
    if (!array)
        return out;
    VARTYPE vt = VT_VARIANT;
    SafeArrayGetVartype(array, &vt);
    if (vt == VT_BSTR) {
        // Every dimension, in memory order: the BSTRs hold ANSI bytes, never UTF-16.
        size_t total = SafeArrayGetDim(array) == 0 ? 0 : 1;
        for (UINT d = 0; d < SafeArrayGetDim(array); ++d)
            total *= interop::DimensionCount(array, d);
        void *data = nullptr;
        if (total == 0 || FAILED(SafeArrayAccessData(array, &data)))
            return out;
        const auto *elements = static_cast<const BSTR *>(data);
        try {
            for (size_t i = 0; i < total; ++i)
                out.push_back(Value::str(interop::AnsiToWide(interop::BstrBytes(elements[i]))));
        } catch (...) {
            SafeArrayUnaccessData(array);
            throw;
        }
        SafeArrayUnaccessData(array);
        return out;
    }
    VARIANT holder; // borrows the array: never cleared
    VariantInit(&holder);
    holder.vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    holder.parray = array;
    Value all = FromVariant(holder);
    if (all.isArray())
        out = all.a()->data;
    return out;
}

// RunVBFunction after its arguments were read: runs the call and, on success, stores the
// return value in `result` (whose previous content is cleared).
int32_t RunFunctionCall(const std::string &script, const std::string &functionName,
                        SAFEARRAY *arguments, VARIANT *result, std::string &errorText) {
    // COM for the call (objects the script creates, its result's proxies), set up before the
    // engine exists and undone after it is gone (or handed to the caller with the result).
    std::optional<CallApartment> apartment;
    if (!script.empty())
        apartment.emplace();
    FunctionResult outcome;
    std::vector<Value> values;
    try {
        values = ArgumentsOf(arguments);
    } catch (const ScriptError &e) {
        // An argument the engine cannot take (a VARIANT that refers to itself, say).
        errorText = ScriptErrorMessage(ScriptErrorRecord{e.number, e.description, e.line});
        return 0;
    }
    int32_t rc = RunFunction(script, functionName, std::move(values), outcome, errorText);
    if (rc == 1 && result) {
        VARIANT value;
        ToVariant(outcome.engine, outcome.value, value);
        // A locked array is refused before clearing: some OLE Automation libraries empty the
        // variable even though the array cannot be destroyed.
        const bool locked = (result->vt & (VT_ARRAY | VT_BYREF)) == VT_ARRAY &&
                            result->parray != nullptr && result->parray->cLocks > 0;
        if (const HRESULT hr = locked ? DISP_E_ARRAYISLOCKED : VariantClear(result); FAILED(hr)) {
            // The variable holds an array the caller has locked (or a value of no known type):
            // it stays as it is, and the call reports the error instead of dropping it.
            VariantClear(&value);
            const int32_t number = hr == DISP_E_ARRAYISLOCKED ? err::ArrayFixed : err::TypeMismatch;
            errorText = ScriptErrorMessage(ScriptErrorRecord{number, errorDescription(number), 0});
            return 0;
        }
        *result = value;
    }
    return rc;
}

// One row of RunVBFunction_MT.
struct CallSlot {
    int32_t index = 0;
    std::string script;
    std::string functionName;
    UniqueSafeArray arguments;
    std::string resultText;
    UniqueVariant result;
};

void CallThread(CallSlot &slot) noexcept {
    std::string errorText;
    int32_t rc = 0;
    try {
        rc = RunFunctionCall(slot.script, slot.functionName, slot.arguments.get(),
                             slot.result.get(), errorText);
    } catch (...) {
        interop::ExceptionMessage(errorText);
    }
    try {
        slot.resultText = rc == 1 ? std::string("OK") : std::string(interop::UpToZero(errorText));
    } catch (...) {
    }
}

// The argument count of a row: the text of `v` read as a decimal integer (leading blanks and a
// sign allowed, reading stops at the first non-digit, no digits give 0).
int64_t ArgumentCount(const VARIANT &field) {
    // A chain of by-reference VARIANTs too long to follow has no text form, like an array.
    const VARIANT *value = FollowReferences(field);
    if (value == nullptr)
        return 0;
    const VARIANT &v = *value;
    std::u16string text;
    if (v.vt == VT_BOOL) {
        // A Boolean reads as its name (True/False), so it gives no arguments.
        return 0;
    }
    if (v.vt == VT_BSTR) {
        if (v.bstrVal)
            text.assign(reinterpret_cast<const char16_t *>(v.bstrVal), SysStringLen(v.bstrVal));
    } else {
        UniqueVariant converted;
        // The system's declaration takes a non-const source that it only reads.
        if (VariantChangeType(converted.get(), const_cast<VARIANT *>(&v), 0, VT_BSTR) != S_OK ||
            converted.get()->vt != VT_BSTR)
            return 0; // no text form (array, object): the row gets no arguments
        BSTR b = converted.get()->bstrVal;
        if (b)
            text.assign(reinterpret_cast<const char16_t *>(b), SysStringLen(b));
    }
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    int64_t k = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
        k = k * 10 + (text[i++] - u'0');
        if (k > (int64_t{1} << 40))
            break;
    }
    return negative ? -k : k;
}

} // namespace

} // namespace kestrun::vbscript

using namespace kestrun;

KESTRUN_EXPORT int32_t KESTRUN_CALL RunVBScript(BSTR *script, BSTR *errorText) {
    try {
        interop::WriteOutString(errorText, "");
        std::string message;
        int32_t rc = vbscript::RunScript(interop::RefString(script), message);
        if (rc != 1)
            interop::WriteOutString(errorText, message);
        return rc;
    } catch (...) {
        vbscript::ReportException(errorText);
        return 0;
    }
}

KESTRUN_EXPORT int32_t KESTRUN_CALL RunVBFunction(BSTR *script, BSTR *functionName,
                                                  SAFEARRAY **arguments, VARIANT *result,
                                                  BSTR *errorText) {
    try {
        interop::WriteOutString(errorText, "");
        std::string message;
        int32_t rc =
            vbscript::RunFunctionCall(interop::RefString(script), interop::RefString(functionName),
                                      arguments ? *arguments : nullptr, result, message);
        if (rc != 1)
            interop::WriteOutString(errorText, message);
        return rc;
    } catch (...) {
        vbscript::ReportException(errorText);
        return 0;
    }
}

KESTRUN_EXPORT int32_t KESTRUN_CALL RunVBFunction_MT(SAFEARRAY **calls, SAFEARRAY **arguments,
                                                     SAFEARRAY **results) {
    using vbscript::CallSlot;
    try {
        SAFEARRAY *callArray = calls ? *calls : nullptr;
        SAFEARRAY *argArray = arguments ? *arguments : nullptr;
        // Only a two-dimensional String() array can name the calls and take their outcomes;
        // any other array is refused (no array at all is a batch of no calls). Fields of an
        // arguments array of another shape or element type read as Empty, and a results array
        // of another shape or type receives nothing: the element reads and writes check both.
        if (callArray != nullptr && !interop::HasShape(callArray, 2, VT_BSTR))
            return 0;
        const ULONG n = interop::DimensionCount(callArray, 0);
        std::vector<std::unique_ptr<CallSlot>> slots;
        slots.reserve(n);
        for (ULONG row = 0; row < n; ++row) {
            auto slot = std::make_unique<CallSlot>();
            const LONG i = static_cast<LONG>(row);
            slot->index = i;
            slot->script = interop::GetArrayString(callArray, {i, 0}).value_or("");
            slot->functionName = interop::GetArrayString(callArray, {i, 1}).value_or("");
            interop::GetArrayVariant(argArray, {i, 0}, slot->result.get());
            const int64_t k = vbscript::ArgumentCount(*slot->result.get());
            if (k < 0 || k > 0x7FFFFFFF)
                return 0;
            SAFEARRAYBOUND bound{static_cast<ULONG>(k), 0};
            slot->arguments.reset(SafeArrayCreate(VT_VARIANT, 1, &bound));
            if (!slot->arguments)
                return 0;
            // Fields past the end of the arguments array's rows stay Empty without being looked
            // up, so that a huge count costs no more than the array it creates.
            const int64_t fieldEnd = int64_t{interop::DimensionLowerBound(argArray, 1)} +
                                     interop::DimensionCount(argArray, 1);
            for (LONG j = 0; j < static_cast<LONG>(k) && j + 1 < fieldEnd; ++j) {
                interop::UniqueVariant element;
                if (!interop::GetArrayVariant(argArray, {i, j + 1}, element.get()))
                    continue; // a field the array does not have stays Empty
                interop::PutArrayVariant(slot->arguments.get(), {j}, element.get());
            }
            slots.push_back(std::move(slot));
        }
        // One thread per row; a row whose thread cannot start runs here once the others run.
        vbscript::RunOnThreads(slots.size(),
                               [&slots](size_t i) { vbscript::CallThread(*slots[i]); });
        SAFEARRAY *resultArray = results ? *results : nullptr;
        for (auto &slot : slots) {
            // Objects a row returned were made on its thread, which has ended: they are the
            // caller's now.
            vbscript::AdoptObjectProxies(*slot->result.get());
            interop::PutArrayVariant(resultArray, {slot->index}, slot->result.get());
            interop::PutArrayString(callArray, {slot->index, 2}, slot->resultText);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}
