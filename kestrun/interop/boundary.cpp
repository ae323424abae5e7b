#include "boundary.h"

#include "codepage.h"

#include <cstring>
#include <vector>

namespace kestrun::interop {
namespace {

std::string_view CutAtZero(std::string_view bytes) {
    const size_t zero = bytes.find('\0');
    return zero == std::string_view::npos ? bytes : bytes.substr(0, zero);
}

BSTR AllocBytes(std::string_view bytes) {
    const std::string_view text = CutAtZero(bytes);
    if (text.size() > 0xFFFFFFF0u) {
        return nullptr;
    }
    return SysAllocStringByteLen(text.data(), static_cast<UINT>(text.size()));
}

} // namespace

std::string InString(const char *p) {
    return p == nullptr ? std::string() : std::string(p);
}

std::string BstrBytes(BSTR b) {
    if (b == nullptr) {
        return {};
    }
    // The data is followed by two zero bytes, so the scan always ends inside the allocation.
    return std::string(reinterpret_cast<const char *>(b));
}

std::string RefString(const BSTR *variable) {
    return variable == nullptr ? std::string() : BstrBytes(*variable);
}

BSTR StringResult(std::string_view bytes) {
    return AllocBytes(bytes);
}

void WriteOutString(BSTR *variable, std::string_view bytes) {
    if (variable == nullptr) {
        return;
    }
    SysFreeString(*variable);
    *variable = AllocBytes(bytes);
}

SAFEARRAY *ReplaceOutArray(SAFEARRAY **variable, std::span<const SAFEARRAYBOUND> bounds,
                           VARTYPE vt) {
    if (variable == nullptr) {
        return nullptr;
    }
    if (*variable != nullptr) {
        // Checked first: a locked array that is taken out of the variable is lost to the caller.
        if ((*variable)->cLocks > 0 || FAILED(SafeArrayDestroy(*variable))) {
            return nullptr;
        }
        *variable = nullptr;
    }
    std::vector<SAFEARRAYBOUND> copy(bounds.begin(), bounds.end());
    *variable = SafeArrayCreate(vt, static_cast<UINT>(copy.size()), copy.data());
    return *variable;
}

SAFEARRAY *ReplaceOutArray(SAFEARRAY **variable, std::initializer_list<SAFEARRAYBOUND> bounds,
                           VARTYPE vt) {
    return ReplaceOutArray(variable, std::span<const SAFEARRAYBOUND>(bounds.begin(), bounds.size()),
                           vt);
}

bool HasShape(const SAFEARRAY *array, unsigned dimensions, VARTYPE vt) {
    VARTYPE actual = VT_EMPTY;
    return array != nullptr && array->cDims == dimensions &&
           SUCCEEDED(SafeArrayGetVartype(const_cast<SAFEARRAY *>(array), &actual)) && actual == vt;
}

bool PutArrayString(SAFEARRAY *array, std::initializer_list<LONG> indices, std::string_view text) {
    if (!HasShape(array, static_cast<unsigned>(indices.size()), VT_BSTR)) {
        return false;
    }
    UniqueBstr value(AllocBytes(text));
    if (!value && !CutAtZero(text).empty()) {
        return false;
    }
    std::vector<LONG> idx(indices);
    return SUCCEEDED(SafeArrayPutElement(array, idx.data(), value.get()));
}

std::optional<std::string> GetArrayString(SAFEARRAY *array, std::initializer_list<LONG> indices) {
    if (!HasShape(array, static_cast<unsigned>(indices.size()), VT_BSTR)) {
        return std::nullopt;
    }
    std::vector<LONG> idx(indices);
    BSTR fetched = nullptr;
    if (FAILED(SafeArrayGetElement(array, idx.data(), &fetched))) {
        return std::nullopt;
    }
    UniqueBstr owner(fetched);
    return BstrBytes(owner.get());
}

bool GetArrayVariant(SAFEARRAY *array, std::initializer_list<LONG> indices, VARIANT *target) {
    if (target == nullptr) {
        return false;
    }
    VariantClear(target);
    const auto dimensions = static_cast<unsigned>(indices.size());
    if (HasShape(array, dimensions, VT_VARIANT)) {
        std::vector<LONG> idx(indices);
        return SUCCEEDED(SafeArrayGetElement(array, idx.data(), target));
    }
    if (HasShape(array, dimensions, VT_BSTR)) {
        const std::optional<std::string> text = GetArrayString(array, indices);
        if (!text) {
            return false;
        }
        SetVariantText(target, AnsiToWide(*text));
        return V_VT(target) == VT_BSTR;
    }
    return false;
}

bool PutArrayVariant(SAFEARRAY *array, std::initializer_list<LONG> indices, const VARIANT *value) {
    if (value == nullptr || !HasShape(array, static_cast<unsigned>(indices.size()), VT_VARIANT)) {
        return false;
    }
    std::vector<LONG> idx(indices);
    return SUCCEEDED(SafeArrayPutElement(array, idx.data(), const_cast<VARIANT *>(value)));
}

ULONG DimensionCount(const SAFEARRAY *array, unsigned dimension) {
    if (array == nullptr || dimension >= array->cDims) {
        return 0;
    }
    return array->rgsabound[array->cDims - 1 - dimension].cElements;
}

LONG DimensionLowerBound(const SAFEARRAY *array, unsigned dimension) {
    if (array == nullptr || dimension >= array->cDims) {
        return 0;
    }
    return array->rgsabound[array->cDims - 1 - dimension].lLbound;
}

void SetVariantText(VARIANT *target, std::u16string_view text) {
    VariantClear(target);
    V_BSTR(target) = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()),
                                       static_cast<UINT>(text.size()));
    V_VT(target) = V_BSTR(target) == nullptr ? VT_EMPTY : VT_BSTR;
}

} // namespace kestrun::interop
