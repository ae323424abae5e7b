// SAFEARRAY descriptors with the Windows layout and copy semantics.
//
// A hidden header before each descriptor remembers the element VARTYPE (Windows keeps it in the
// same place). Bounds are stored reversed, as on Windows: rgsabound[cDims - 1] is the first
// dimension given to SafeArrayCreate.
#include "oleauto.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

struct Header {
    VARTYPE vt;
    uint16_t pad[7];
};
static_assert(sizeof(Header) == 16, "descriptor header keeps the descriptor 16-byte aligned");

Header *HeaderOf(SAFEARRAY *psa) {
    return reinterpret_cast<Header *>(reinterpret_cast<unsigned char *>(psa) - sizeof(Header));
}

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
        return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
        return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return sizeof(void *);
    case VT_DECIMAL:
        return sizeof(DECIMAL);
    case VT_VARIANT:
        return sizeof(VARIANT);
    default:
        return 0;
    }
}

USHORT FeaturesFor(VARTYPE vt) {
    USHORT features = FADF_HAVEVARTYPE;
    if (vt == VT_BSTR) {
        features |= FADF_BSTR;
    } else if (vt == VT_VARIANT) {
        features |= FADF_VARIANT;
    } else if (vt == VT_UNKNOWN) {
        features |= FADF_UNKNOWN;
    } else if (vt == VT_DISPATCH) {
        features |= FADF_DISPATCH;
    }
    return features;
}

// Number of elements, or SIZE_MAX when the product overflows.
size_t ElementCount(const SAFEARRAY *psa) {
    size_t total = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        const size_t n = psa->rgsabound[i].cElements;
        if (n != 0 && total > std::numeric_limits<size_t>::max() / n) {
            return std::numeric_limits<size_t>::max();
        }
        total *= n;
    }
    return total;
}

void ReleaseElements(SAFEARRAY *psa) {
    if (psa->pvData == nullptr) {
        return;
    }
    const size_t count = ElementCount(psa);
    const VARTYPE vt = HeaderOf(psa)->vt;
    if (vt == VT_BSTR) {
        auto *items = static_cast<BSTR *>(psa->pvData);
        for (size_t i = 0; i < count; ++i) {
            SysFreeString(items[i]);
            items[i] = nullptr;
        }
    } else if (vt == VT_VARIANT) {
        auto *items = static_cast<VARIANT *>(psa->pvData);
        for (size_t i = 0; i < count; ++i) {
            VariantClear(&items[i]);
        }
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        auto *items = static_cast<IUnknown **>(psa->pvData);
        for (size_t i = 0; i < count; ++i) {
            if (items[i] != nullptr) {
                items[i]->lpVtbl->Release(items[i]);
                items[i] = nullptr;
            }
        }
    }
}

// Offset in elements of an index vector given in creation order, or false when out of bounds.
bool OffsetOf(SAFEARRAY *psa, const LONG *indices, size_t *offset) {
    size_t result = 0;
    size_t stride = 1;
    for (USHORT dim = 0; dim < psa->cDims; ++dim) {
        const SAFEARRAYBOUND &b = psa->rgsabound[psa->cDims - 1 - dim];
        const int64_t rel = static_cast<int64_t>(indices[dim]) - b.lLbound;
        if (rel < 0 || rel >= static_cast<int64_t>(b.cElements)) {
            return false;
        }
        result += static_cast<size_t>(rel) * stride;
        stride *= b.cElements;
    }
    *offset = result;
    return true;
}

HRESULT CopyElementOut(VARTYPE vt, const void *slot, void *out, ULONG size) {
    switch (vt) {
    case VT_BSTR: {
        BSTR src = *static_cast<const BSTR *>(slot);
        BSTR copy = nullptr;
        if (src != nullptr) {
            copy =
                SysAllocStringByteLen(reinterpret_cast<const char *>(src), SysStringByteLen(src));
            if (copy == nullptr) {
                return E_OUTOFMEMORY;
            }
        }
        *static_cast<BSTR *>(out) = copy;
        return S_OK;
    }
    case VT_VARIANT:
        VariantInit(static_cast<VARIANT *>(out));
        return VariantCopy(static_cast<VARIANT *>(out), static_cast<const VARIANT *>(slot));
    case VT_UNKNOWN:
    case VT_DISPATCH: {
        IUnknown *obj = *static_cast<IUnknown *const *>(slot);
        if (obj != nullptr) {
            obj->lpVtbl->AddRef(obj);
        }
        *static_cast<IUnknown **>(out) = obj;
        return S_OK;
    }
    default:
        std::memcpy(out, slot, size);
        return S_OK;
    }
}

HRESULT CopyElementIn(VARTYPE vt, void *slot, void *in, ULONG size) {
    switch (vt) {
    case VT_BSTR: {
        // The value is the BSTR itself, not a pointer to a BSTR variable.
        BSTR src = static_cast<BSTR>(in);
        BSTR copy = nullptr;
        if (src != nullptr) {
            copy =
                SysAllocStringByteLen(reinterpret_cast<const char *>(src), SysStringByteLen(src));
            if (copy == nullptr) {
                return E_OUTOFMEMORY;
            }
        }
        SysFreeString(*static_cast<BSTR *>(slot));
        *static_cast<BSTR *>(slot) = copy;
        return S_OK;
    }
    case VT_VARIANT:
        return VariantCopy(static_cast<VARIANT *>(slot), static_cast<const VARIANT *>(in));
    case VT_UNKNOWN:
    case VT_DISPATCH: {
        auto *obj = static_cast<IUnknown *>(in);
        if (obj != nullptr) {
            obj->lpVtbl->AddRef(obj);
        }
        IUnknown *old = *static_cast<IUnknown **>(slot);
        *static_cast<IUnknown **>(slot) = obj;
        if (old != nullptr) {
            old->lpVtbl->Release(old);
        }
        return S_OK;
    }
    default:
        if (in == nullptr) {
            return E_INVALIDARG;
        }
        std::memcpy(slot, in, size);
        return S_OK;
    }
}

SAFEARRAY *AllocateDescriptor(VARTYPE vt, UINT cDims) {
    const size_t bytes = sizeof(Header) + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto *block = static_cast<unsigned char *>(std::calloc(1, bytes));
    if (block == nullptr) {
        return nullptr;
    }
    reinterpret_cast<Header *>(block)->vt = vt;
    auto *psa = reinterpret_cast<SAFEARRAY *>(block + sizeof(Header));
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = FeaturesFor(vt);
    psa->cbElements = ElementSize(vt);
    return psa;
}

void FreeDescriptor(SAFEARRAY *psa) {
    std::free(HeaderOf(psa));
}

} // namespace

extern "C" {

SAFEARRAY *SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound) {
    if (cDims == 0 || cDims > 0xFFFF || rgsabound == nullptr || ElementSize(vt) == 0) {
        return nullptr;
    }
    SAFEARRAY *psa = AllocateDescriptor(vt, cDims);
    if (psa == nullptr) {
        return nullptr;
    }
    for (UINT i = 0; i < cDims; ++i) {
        psa->rgsabound[cDims - 1 - i] = rgsabound[i];
    }
    const size_t count = ElementCount(psa);
    if (count != 0) {
        if (count > std::numeric_limits<size_t>::max() / psa->cbElements) {
            FreeDescriptor(psa);
            return nullptr;
        }
        // Zeroed memory is an empty element for every supported type (null BSTR, VT_EMPTY...).
        psa->pvData = std::calloc(count, psa->cbElements);
        if (psa->pvData == nullptr) {
            FreeDescriptor(psa);
            return nullptr;
        }
    }
    return psa;
}

SAFEARRAY *SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY *psa) {
    if (psa == nullptr) {
        return S_OK;
    }
    if (psa->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    ReleaseElements(psa);
    std::free(psa->pvData);
    FreeDescriptor(psa);
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY *psa) {
    return psa == nullptr ? 0 : psa->cDims;
}

UINT SafeArrayGetElemsize(SAFEARRAY *psa) {
    return psa == nullptr ? 0 : psa->cbElements;
}

HRESULT SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt) {
    if (psa == nullptr || pvt == nullptr) {
        return E_INVALIDARG;
    }
    *pvt = HeaderOf(psa)->vt;
    return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY *psa, LONG *rgIndices, void **ppvData) {
    if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    size_t offset = 0;
    if (psa->pvData == nullptr || !OffsetOf(psa, rgIndices, &offset)) {
        return DISP_E_BADINDEX;
    }
    *ppvData = static_cast<unsigned char *>(psa->pvData) + offset * psa->cbElements;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv) {
    if (pv == nullptr) {
        return E_INVALIDARG;
    }
    void *slot = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &slot);
    if (FAILED(hr)) {
        return hr;
    }
    ++psa->cLocks;
    hr = CopyElementOut(HeaderOf(psa)->vt, slot, pv, psa->cbElements);
    --psa->cLocks;
    return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv) {
    void *slot = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &slot);
    if (FAILED(hr)) {
        return hr;
    }
    ++psa->cLocks;
    hr = CopyElementIn(HeaderOf(psa)->vt, slot, pv, psa->cbElements);
    --psa->cLocks;
    return hr;
}

HRESULT SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound) {
    if (psa == nullptr || plLbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim < 1 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound) {
    if (psa == nullptr || plUbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim < 1 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    const SAFEARRAYBOUND &b = psa->rgsabound[psa->cDims - nDim];
    *plUbound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY *psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    if (psa->cLocks == 0xFFFFFFFFu) {
        return E_UNEXPECTED;
    }
    ++psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY *psa) {
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    if (psa->cLocks == 0) {
        return E_UNEXPECTED;
    }
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY *psa, void **ppvData) {
    if (psa == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    const HRESULT hr = SafeArrayLock(psa);
    if (SUCCEEDED(hr)) {
        *ppvData = psa->pvData;
    }
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY *psa) {
    return SafeArrayUnlock(psa);
}

HRESULT SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut) {
    if (ppsaOut == nullptr) {
        return E_INVALIDARG;
    }
    *ppsaOut = nullptr;
    if (psa == nullptr) {
        return S_OK;
    }
    const VARTYPE vt = HeaderOf(psa)->vt;
    SAFEARRAY *copy = AllocateDescriptor(vt, psa->cDims);
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    for (USHORT i = 0; i < psa->cDims; ++i) {
        copy->rgsabound[i] = psa->rgsabound[i];
    }
    const size_t count = ElementCount(psa);
    if (count != 0 && psa->pvData != nullptr) {
        copy->pvData = std::calloc(count, copy->cbElements);
        if (copy->pvData == nullptr) {
            FreeDescriptor(copy);
            return E_OUTOFMEMORY;
        }
        auto *from = static_cast<unsigned char *>(psa->pvData);
        auto *to = static_cast<unsigned char *>(copy->pvData);
        for (size_t i = 0; i < count; ++i) {
            void *src = from + i * psa->cbElements;
            void *dst = to + i * copy->cbElements;
            HRESULT hr = S_OK;
            if (vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH) {
                hr = CopyElementOut(vt, src, dst, copy->cbElements);
            } else if (vt == VT_VARIANT) {
                hr = VariantCopy(static_cast<VARIANT *>(dst), static_cast<VARIANT *>(src));
            } else {
                std::memcpy(dst, src, copy->cbElements);
            }
            if (FAILED(hr)) {
                SafeArrayDestroy(copy);
                return hr;
            }
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

} // extern "C"
