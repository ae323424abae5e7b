#include "kestrun/automation/vbscript/variant.h"

#include "kestrun/automation/vbscript/object_proxy.h"
#include "kestrun/interop/libm.h"
#include "vbscript/errors.h"

#include <cmath>
#include <vector>

namespace kestrun::vbscript {

namespace {

Value numberValue(double d) {
    if (d >= -2147483648.0 && d <= 2147483647.0 && d == std::floor(d))
        return Value::lng(static_cast<int32_t>(d));
    return Value::dbl(d);
}

std::u16string bstrText(BSTR b) {
    if (!b)
        return {};
    return std::u16string(reinterpret_cast<const char16_t *>(b), SysStringLen(b));
}

// By-reference links and arrays inside arrays followed at most, so that a VARIANT that refers to
// itself (or an array that holds a reference to itself) cannot recurse without end.
constexpr int kMaxDepth = 64;

Value fromVariantAt(const VARIANT &v, int depth, Interp *engine);

Value fromArray(SAFEARRAY *sa, VARTYPE vt, int depth, Interp *engine) {
    auto *rep = new ArrayRep;
    Value out = Value::array(rep);
    rep->bytes = vt == VT_UI1; // a Byte() array stays one in the script
    if (!sa)
        return out;
    UINT dims = SafeArrayGetDim(sa);
    size_t total = 1;
    std::vector<LONG> lower(dims), count(dims);
    for (UINT d = 0; d < dims; ++d) {
        LONG lb = 0, ub = -1;
        SafeArrayGetLBound(sa, d + 1, &lb);
        SafeArrayGetUBound(sa, d + 1, &ub);
        lower[d] = lb;
        count[d] = ub >= lb ? ub - lb + 1 : 0;
        rep->dims.push_back(static_cast<int32_t>(count[d]));
        total *= static_cast<size_t>(count[d]);
    }
    rep->data.resize(dims ? total : 0);
    std::vector<LONG> idx(dims);
    for (size_t n = 0; n < rep->data.size(); ++n) {
        size_t rest = n;
        for (UINT d = 0; d < dims; ++d) {
            idx[d] = lower[d] + static_cast<LONG>(rest % static_cast<size_t>(count[d]));
            rest /= static_cast<size_t>(count[d]);
        }
        if (vt == VT_VARIANT) {
            VARIANT e;
            VariantInit(&e);
            if (SafeArrayGetElement(sa, idx.data(), &e) == S_OK) {
                try {
                    rep->data[n] = fromVariantAt(e, depth + 1, engine);
                } catch (...) {
                    VariantClear(&e);
                    throw;
                }
            }
            VariantClear(&e);
        } else {
            void *p = nullptr;
            if (SafeArrayPtrOfIndex(sa, idx.data(), &p) == S_OK && p) {
                VARIANT ref;
                VariantInit(&ref);
                ref.vt = static_cast<VARTYPE>(vt | VT_BYREF);
                ref.byref = p;
                rep->data[n] = fromVariantAt(ref, depth + 1, engine);
            }
        }
    }
    return out;
}

Value fromVariantAt(const VARIANT &v, int depth, Interp *engine) {
    if (depth > kMaxDepth)
        throw ScriptError(err::TypeMismatch);
    VARTYPE vt = v.vt;
    if (vt & VT_ARRAY) {
        SAFEARRAY *sa = (vt & VT_BYREF) ? (v.pparray ? *v.pparray : nullptr) : v.parray;
        return fromArray(sa, static_cast<VARTYPE>(vt & VT_TYPEMASK), depth, engine);
    }
    if (vt & VT_BYREF) {
        if (!v.byref)
            return {};
        VARTYPE base = static_cast<VARTYPE>(vt & VT_TYPEMASK);
        if (base == VT_VARIANT)
            return fromVariantAt(*v.pvarVal, depth + 1, engine);
        VARIANT copy;
        VariantInit(&copy);
        copy.vt = base;
        switch (base) {
        case VT_I2:
            copy.iVal = *v.piVal;
            break;
        case VT_I4:
            copy.lVal = *v.plVal;
            break;
        case VT_R4:
            copy.fltVal = *v.pfltVal;
            break;
        case VT_R8:
            copy.dblVal = *v.pdblVal;
            break;
        case VT_CY:
            copy.cyVal = *v.pcyVal;
            break;
        case VT_DATE:
            copy.date = *v.pdate;
            break;
        case VT_BOOL:
            copy.boolVal = *v.pboolVal;
            break;
        case VT_ERROR:
            copy.scode = *v.pscode;
            break;
        case VT_UI1:
            copy.bVal = *v.pbVal;
            break;
        case VT_I8:
            copy.llVal = *v.pllVal;
            break;
        case VT_BSTR:
            return Value::str(bstrText(*v.pbstrVal));
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return ObjectFromInterface(*v.ppunkVal, engine);
        default:
            return {};
        }
        return fromVariantAt(copy, depth + 1, engine);
    }
    switch (vt) {
    case VT_NULL:
        return Value::null();
    case VT_I2:
        return Value::integer(v.iVal);
    case VT_I4:
    case VT_INT:
        return Value::lng(v.lVal);
    case VT_R4:
        return Value::single(v.fltVal);
    case VT_R8:
        return Value::dbl(v.dblVal);
    case VT_CY:
        return Value::currency(v.cyVal.int64);
    case VT_DATE:
        return Value::date(v.date);
    case VT_BSTR:
        return Value::str(bstrText(v.bstrVal));
    case VT_ERROR:
        return Value::error(v.scode);
    case VT_BOOL:
        return Value::boolean(v.boolVal != 0);
    case VT_UI1:
        return Value::byte(v.bVal);
    case VT_I1:
        return Value::integer(static_cast<int16_t>(v.cVal));
    case VT_UI2:
        return Value::lng(v.uiVal);
    case VT_UI4:
    case VT_UINT:
        return numberValue(static_cast<double>(v.ulVal));
    case VT_I8:
        return numberValue(static_cast<double>(v.llVal));
    case VT_UI8:
        return numberValue(static_cast<double>(v.ullVal));
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return ObjectFromInterface(v.punkVal, engine);
    case VT_DECIMAL: {
        double d = static_cast<double>(v.decVal.Lo64) +
                   static_cast<double>(v.decVal.Hi32) * 18446744073709551616.0;
        d /= libm::Pow(10.0, v.decVal.scale);
        return Value::dbl(v.decVal.sign ? -d : d);
    }
    default:
        return {};
    }
}

// A Byte() array of one dimension whose elements are all still Bytes (a script may have stored
// other values into it) crosses as an array of bytes; anything else as an array of VARIANTs.
bool IsByteArray(const ArrayRep &a) {
    if (!a.bytes || a.dims.size() != 1)
        return false;
    for (const Value &e : a.data)
        if (e.type() != VType::Byte)
            return false;
    return true;
}

SAFEARRAY *ByteSafeArray(const ArrayRep &a) {
    SAFEARRAY *sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(a.data.size()));
    if (!sa)
        throw std::bad_alloc();
    if (!a.data.empty()) {
        void *p = nullptr;
        if (SafeArrayAccessData(sa, &p) != S_OK || !p) {
            SafeArrayDestroy(sa);
            throw std::bad_alloc();
        }
        auto *bytes = static_cast<unsigned char *>(p);
        for (size_t n = 0; n < a.data.size(); ++n)
            bytes[n] = a.data[n].by();
        SafeArrayUnaccessData(sa);
    }
    return sa;
}

} // namespace

Value FromVariant(const VARIANT &v, Interp *engine) {
    return fromVariantAt(v, 0, engine);
}

const VARIANT *FollowReferences(const VARIANT &v) {
    const VARIANT *at = &v;
    for (int depth = 0; at->vt == (VT_BYREF | VT_VARIANT); ++depth) {
        if (depth >= kMaxDepth || at->pvarVal == nullptr)
            return nullptr;
        at = at->pvarVal;
    }
    return at;
}

void ToVariant(const std::shared_ptr<Interp> &engine, const Value &value, VARIANT &t) {
    VariantInit(&t);
    switch (value.type()) {
    case VType::Empty:
        break;
    case VType::Null:
        t.vt = VT_NULL;
        break;
    case VType::Integer:
        t.vt = VT_I2;
        t.iVal = value.i();
        break;
    case VType::Long:
        t.vt = VT_I4;
        t.lVal = value.l();
        break;
    case VType::Single:
        t.vt = VT_R4;
        t.fltVal = value.f();
        break;
    case VType::Double:
        t.vt = VT_R8;
        t.dblVal = value.d();
        break;
    case VType::Currency:
        t.vt = VT_CY;
        t.cyVal.int64 = value.cy();
        break;
    case VType::Date:
        t.vt = VT_DATE;
        t.date = value.d();
        break;
    case VType::Boolean:
        t.vt = VT_BOOL;
        t.boolVal = value.b() ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VType::Byte:
        t.vt = VT_UI1;
        t.bVal = value.by();
        break;
    case VType::Error:
        t.vt = VT_ERROR;
        t.scode = value.l();
        break;
    case VType::String: {
        const std::u16string &s = value.s();
        BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(s.data()),
                                   static_cast<UINT>(s.size()));
        if (!b)
            throw std::bad_alloc();
        t.vt = VT_BSTR;
        t.bstrVal = b;
        break;
    }
    case VType::Object: {
        t.vt = VT_DISPATCH;
        t.pdispVal = nullptr;
        if (value.o())
            t.pdispVal = NewObjectProxy(engine, value);
        break;
    }
    case VType::Array: {
        const ArrayRep *a = value.a();
        if (IsByteArray(*a)) {
            t.vt = VT_ARRAY | VT_UI1;
            t.parray = ByteSafeArray(*a);
            break;
        }
        std::vector<SAFEARRAYBOUND> bounds;
        for (int32_t n : a->dims)
            bounds.push_back(SAFEARRAYBOUND{static_cast<ULONG>(n), 0});
        if (bounds.empty())
            bounds.push_back(SAFEARRAYBOUND{0, 0});
        SAFEARRAY *sa =
            SafeArrayCreate(VT_VARIANT, static_cast<UINT>(bounds.size()), bounds.data());
        if (!sa)
            throw std::bad_alloc();
        std::vector<LONG> idx(bounds.size());
        for (size_t n = 0; n < a->data.size(); ++n) {
            size_t rest = n;
            for (size_t d = 0; d < a->dims.size(); ++d) {
                idx[d] = static_cast<LONG>(rest % static_cast<size_t>(a->dims[d]));
                rest /= static_cast<size_t>(a->dims[d]);
            }
            VARIANT e;
            try {
                ToVariant(engine, a->data[n], e);
            } catch (...) {
                SafeArrayDestroy(sa);
                throw;
            }
            SafeArrayPutElement(sa, idx.data(), &e);
            VariantClear(&e);
        }
        t.vt = VT_ARRAY | VT_VARIANT;
        t.parray = sa;
        break;
    }
    }
}

} // namespace kestrun::vbscript
