// VARIANT lifetime, deep copy and the conversions that hosts and the library use.
#include "oleauto.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

bool IsKnownBaseType(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

BSTR AsciiBstr(const std::string &text) {
    std::u16string units(text.begin(), text.end());
    return SysAllocStringLen(reinterpret_cast<const OLECHAR *>(units.data()),
                             static_cast<UINT>(units.size()));
}

// Shortest general form with the given significant digits, exponent as E+NN / E-NN.
std::string FormatReal(double value, int digits) {
    if (value == 0) {
        return "0";
    }
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-Infinity" : "Infinity";
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", digits, value);
    return buf;
}

std::string FormatCurrency(int64_t scaled) {
    const bool negative = scaled < 0;
    const uint64_t magnitude =
        negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    std::string text = std::to_string(magnitude / 10000);
    uint64_t fraction = magnitude % 10000;
    if (fraction != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04llu", static_cast<unsigned long long>(fraction));
        std::string digits = buf;
        while (!digits.empty() && digits.back() == '0') {
            digits.pop_back();
        }
        text += "." + digits;
    }
    return negative ? "-" + text : text;
}

// Days since 1899-12-30 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t *year, unsigned *month, unsigned *day) {
    int64_t z = days - 25569 + 719468; // 1970-01-01 is day 25569
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

// Dates are written in the short form of the Chinese (PRC) locale that the library is made for:
// "yyyy/M/d H:mm:ss", the date alone at midnight and the time alone on day zero.
bool FormatDate(double value, std::string *out) {
    if (!std::isfinite(value) || std::fabs(value) > 2958465.99999) {
        return false;
    }
    double whole = std::trunc(value);
    auto seconds = static_cast<int64_t>(std::llround(std::fabs(value - whole) * 86400.0));
    if (seconds >= 86400) {
        seconds -= 86400;
        whole += value < 0 ? -1 : 1;
    }
    const auto days = static_cast<int64_t>(whole);
    char buf[64];
    std::string text;
    if (days != 0 || seconds == 0) {
        int64_t y;
        unsigned m, d;
        CivilFromDays(days, &y, &m, &d);
        std::snprintf(buf, sizeof buf, "%lld/%u/%u", static_cast<long long>(y), m, d);
        text = buf;
    }
    if (seconds != 0) {
        std::snprintf(buf, sizeof buf, "%s%lld:%02lld:%02lld", text.empty() ? "" : " ",
                      static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60),
                      static_cast<long long>(seconds % 60));
        text += buf;
    }
    *out = text;
    return true;
}

// A source value reduced to the few shapes the conversions need.
struct Scalar {
    enum Kind { Empty, Integer, Real, Currency, Boolean, Date, Text, Other } kind = Other;
    int64_t i = 0;
    uint64_t u = 0;
    bool isUnsigned = false;
    double r = 0;
    std::u16string text;
};

// By-reference VARIANTs followed at most; a longer chain (one that refers to itself, say) is a
// value of no convertible kind, so the conversion fails with a type mismatch.
constexpr int kMaxReferenceDepth = 64;

Scalar ReadScalar(const VARIANT *v, int depth = 0) {
    Scalar s;
    VARTYPE vt = V_VT(v);
    const bool byref = (vt & VT_BYREF) != 0;
    vt &= static_cast<VARTYPE>(~VT_BYREF);
    if (byref && V_BYREF(v) == nullptr) {
        return s;
    }
    if (vt == VT_VARIANT && byref) {
        return depth < kMaxReferenceDepth ? ReadScalar(V_VARIANTREF(v), depth + 1) : s;
    }
    auto get = [&](auto field, auto *refField) { return byref ? *refField : field; };
    switch (vt) {
    case VT_EMPTY:
        s.kind = Scalar::Empty;
        break;
    case VT_I1:
        s.kind = Scalar::Integer;
        s.i = byref ? *static_cast<const char *>(V_BYREF(v)) : V_I1(v);
        break;
    case VT_UI1:
        s.kind = Scalar::Integer;
        s.i = get(V_UI1(v), v->pbVal);
        break;
    case VT_I2:
        s.kind = Scalar::Integer;
        s.i = get(V_I2(v), v->piVal);
        break;
    case VT_UI2:
        s.kind = Scalar::Integer;
        s.i = byref ? *static_cast<const USHORT *>(V_BYREF(v)) : V_UI2(v);
        break;
    case VT_I4:
    case VT_INT:
        s.kind = Scalar::Integer;
        s.i = get(V_I4(v), v->plVal);
        break;
    case VT_UI4:
    case VT_UINT:
        s.kind = Scalar::Integer;
        s.i = byref ? *static_cast<const ULONG *>(V_BYREF(v)) : V_UI4(v);
        break;
    case VT_I8:
        s.kind = Scalar::Integer;
        s.i = get(V_I8(v), v->pllVal);
        break;
    case VT_UI8:
        s.kind = Scalar::Integer;
        s.isUnsigned = true;
        s.u = byref ? *static_cast<const ULONGLONG *>(V_BYREF(v)) : V_UI8(v);
        break;
    case VT_R4:
        s.kind = Scalar::Real;
        s.r = get(V_R4(v), v->pfltVal);
        break;
    case VT_R8:
        s.kind = Scalar::Real;
        s.r = get(V_R8(v), v->pdblVal);
        break;
    case VT_CY:
        s.kind = Scalar::Currency;
        s.i = byref ? v->pcyVal->int64 : V_CY(v).int64;
        break;
    case VT_DATE:
        s.kind = Scalar::Date;
        s.r = get(V_DATE(v), v->pdate);
        break;
    case VT_BOOL:
        s.kind = Scalar::Boolean;
        s.i = get(V_BOOL(v), v->pboolVal) != 0 ? -1 : 0;
        break;
    case VT_BSTR: {
        s.kind = Scalar::Text;
        BSTR b = byref ? *v->pbstrVal : V_BSTR(v);
        if (b != nullptr) {
            s.text.assign(reinterpret_cast<const char16_t *>(b), SysStringLen(b));
        }
        break;
    }
    default:
        break;
    }
    return s;
}

// Parses a decimal number written in ASCII digits; false when the text is not a number.
bool ParseNumber(const std::u16string &text, double *out) {
    std::string ascii;
    for (char16_t c : text) {
        if (c > 0x7F) {
            return false;
        }
        ascii.push_back(static_cast<char>(c));
    }
    const size_t first = ascii.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return false;
    }
    const size_t last = ascii.find_last_not_of(" \t");
    ascii = ascii.substr(first, last - first + 1);
    if (ascii.size() > 2 && ascii[0] == '&' && (ascii[1] == 'H' || ascii[1] == 'h')) {
        char *end = nullptr;
        const unsigned long long v = std::strtoull(ascii.c_str() + 2, &end, 16);
        if (*end != 0) {
            return false;
        }
        *out = static_cast<double>(v);
        return true;
    }
    for (char c : ascii) {
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
              c == 'e' || c == 'E')) {
            return false;
        }
    }
    char *end = nullptr;
    *out = std::strtod(ascii.c_str(), &end);
    return end != ascii.c_str() && *end == 0;
}

bool ScalarToDouble(const Scalar &s, double *out, HRESULT *hr) {
    switch (s.kind) {
    case Scalar::Empty:
        *out = 0;
        return true;
    case Scalar::Integer:
    case Scalar::Boolean:
        *out = s.isUnsigned ? static_cast<double>(s.u) : static_cast<double>(s.i);
        return true;
    case Scalar::Real:
    case Scalar::Date:
        *out = s.r;
        return true;
    case Scalar::Currency:
        *out = static_cast<double>(s.i) / 10000.0;
        return true;
    case Scalar::Text:
        if (ParseNumber(s.text, out)) {
            return true;
        }
        *hr = DISP_E_TYPEMISMATCH;
        return false;
    default:
        *hr = DISP_E_TYPEMISMATCH;
        return false;
    }
}

// Rounds half to even, the rounding of the platform's numeric conversions.
bool RoundToInteger(double value, double lo, double hi, int64_t *out) {
    if (std::isnan(value)) {
        return false;
    }
    const double rounded = std::nearbyint(value);
    if (rounded < lo || rounded > hi) {
        return false;
    }
    *out = static_cast<int64_t>(rounded);
    return true;
}

HRESULT ToBstr(const Scalar &s, USHORT flags, VARIANT *result) {
    std::string text;
    switch (s.kind) {
    case Scalar::Empty:
        break;
    case Scalar::Integer:
        text = s.isUnsigned ? std::to_string(s.u) : std::to_string(s.i);
        break;
    case Scalar::Real:
        text = FormatReal(s.r, 15);
        break;
    case Scalar::Currency:
        text = FormatCurrency(s.i);
        break;
    case Scalar::Boolean:
        if ((flags & VARIANT_ALPHABOOL) != 0 || (flags & VARIANT_LOCALBOOL) != 0) {
            text = s.i != 0 ? "True" : "False";
        } else {
            text = s.i != 0 ? "-1" : "0";
        }
        break;
    case Scalar::Date:
        if (!FormatDate(s.r, &text)) {
            return DISP_E_OVERFLOW;
        }
        break;
    case Scalar::Text: {
        BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(s.text.data()),
                                   static_cast<UINT>(s.text.size()));
        if (b == nullptr) {
            return E_OUTOFMEMORY;
        }
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = b;
        return S_OK;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
    BSTR b = AsciiBstr(text);
    if (b == nullptr) {
        return E_OUTOFMEMORY;
    }
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = b;
    return S_OK;
}

HRESULT ToNumber(const Scalar &s, VARTYPE vt, VARIANT *result) {
    HRESULT hr = S_OK;
    if (s.kind == Scalar::Text && vt == VT_BOOL) {
        std::u16string t = s.text;
        for (auto &c : t) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char16_t>(c - 'A' + 'a');
            }
        }
        if (t == u"true" || t == u"false") {
            V_VT(result) = VT_BOOL;
            V_BOOL(result) = t == u"true" ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
    }
    double value = 0;
    if (!ScalarToDouble(s, &value, &hr)) {
        return hr;
    }
    int64_t n = 0;
    switch (vt) {
    case VT_R8:
        V_R8(result) = value;
        break;
    case VT_R4:
        if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
            return DISP_E_OVERFLOW;
        }
        V_R4(result) = static_cast<float>(value);
        break;
    case VT_DATE:
        V_DATE(result) = value;
        break;
    case VT_BOOL:
        V_BOOL(result) = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_UI1:
        if (!RoundToInteger(value, 0, 255, &n)) {
            return DISP_E_OVERFLOW;
        }
        V_UI1(result) = static_cast<BYTE>(n);
        break;
    case VT_I2:
        if (!RoundToInteger(value, -32768, 32767, &n)) {
            return DISP_E_OVERFLOW;
        }
        V_I2(result) = static_cast<SHORT>(n);
        break;
    case VT_I4:
    case VT_INT:
        if (!RoundToInteger(value, -2147483648.0, 2147483647.0, &n)) {
            return DISP_E_OVERFLOW;
        }
        V_I4(result) = static_cast<LONG>(n);
        break;
    case VT_I8:
        if (s.kind == Scalar::Integer && !s.isUnsigned) {
            V_I8(result) = s.i;
            break;
        }
        if (!RoundToInteger(value, -9223372036854775808.0, 9223372036854774784.0, &n)) {
            return DISP_E_OVERFLOW;
        }
        V_I8(result) = n;
        break;
    case VT_CY:
        if (!RoundToInteger(value * 10000.0, -9223372036854775808.0, 9223372036854774784.0, &n)) {
            return DISP_E_OVERFLOW;
        }
        V_CY(result).int64 = n;
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    V_VT(result) = vt;
    return S_OK;
}

} // namespace

extern "C" {

void VariantInit(VARIANTARG *pvarg) {
    if (pvarg != nullptr) {
        std::memset(pvarg, 0, sizeof *pvarg);
        V_VT(pvarg) = VT_EMPTY;
    }
}

HRESULT VariantClear(VARIANTARG *pvarg) {
    if (pvarg == nullptr) {
        return E_INVALIDARG;
    }
    const VARTYPE vt = V_VT(pvarg);
    if ((vt & VT_BYREF) == 0) {
        if ((vt & VT_ARRAY) != 0) {
            const HRESULT hr = SafeArrayDestroy(V_ARRAY(pvarg));
            if (FAILED(hr)) {
                return hr;
            }
        } else if (vt == VT_BSTR) {
            SysFreeString(V_BSTR(pvarg));
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            if (V_UNKNOWN(pvarg) != nullptr) {
                V_UNKNOWN(pvarg)->lpVtbl->Release(V_UNKNOWN(pvarg));
            }
        } else if (!IsKnownBaseType(vt)) {
            return DISP_E_BADVARTYPE;
        }
    }
    std::memset(pvarg, 0, sizeof *pvarg);
    V_VT(pvarg) = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (pvargDest == pvargSrc) {
        return S_OK;
    }
    const VARTYPE vt = V_VT(pvargSrc);
    if ((vt & VT_BYREF) == 0 && (vt & VT_ARRAY) == 0 && !IsKnownBaseType(vt)) {
        return DISP_E_BADVARTYPE;
    }
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        return hr;
    }
    VARIANT copy = *pvargSrc;
    if ((vt & VT_BYREF) == 0) {
        if ((vt & VT_ARRAY) != 0) {
            hr = SafeArrayCopy(V_ARRAY(pvargSrc), &V_ARRAY(&copy));
            if (FAILED(hr)) {
                return hr;
            }
        } else if (vt == VT_BSTR && V_BSTR(pvargSrc) != nullptr) {
            BSTR src = V_BSTR(pvargSrc);
            V_BSTR(&copy) =
                SysAllocStringByteLen(reinterpret_cast<const char *>(src), SysStringByteLen(src));
            if (V_BSTR(&copy) == nullptr) {
                return E_OUTOFMEMORY;
            }
        } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && V_UNKNOWN(pvargSrc) != nullptr) {
            V_UNKNOWN(pvargSrc)->lpVtbl->AddRef(V_UNKNOWN(pvargSrc));
        }
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr) {
        return E_INVALIDARG;
    }
    const VARTYPE srcType = V_VT(pvarSrc) & static_cast<VARTYPE>(~VT_BYREF);
    if (srcType == vt && (V_VT(pvarSrc) & VT_BYREF) == 0) {
        return VariantCopy(pvargDest, pvarSrc);
    }
    if (srcType == VT_NULL) {
        if (vt == VT_NULL) {
            VariantClear(pvargDest);
            V_VT(pvargDest) = VT_NULL;
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    }
    // Convert into a scratch value first so that the source may be the destination.
    VARIANT result;
    VariantInit(&result);
    const Scalar s = ReadScalar(pvarSrc);
    HRESULT hr;
    if (vt == VT_BSTR) {
        hr = ToBstr(s, wFlags, &result);
    } else if (vt == VT_EMPTY) {
        hr = S_OK;
    } else {
        hr = ToNumber(s, vt, &result);
    }
    if (FAILED(hr)) {
        return hr;
    }
    const HRESULT cleared = VariantClear(pvargDest);
    if (FAILED(cleared)) {
        VariantClear(&result);
        return cleared;
    }
    *pvargDest = result;
    return S_OK;
}

} // extern "C"
