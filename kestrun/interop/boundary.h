// The platform types at the export boundary: reading arguments, returning strings, writing
// out-strings and out-arrays, and RAII owners for BSTR, SAFEARRAY and VARIANT.
#pragma once

#include "oleauto.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrun::interop {

struct BstrFree {
    void operator()(OLECHAR *b) const { SysFreeString(b); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFree>;

struct SafeArrayFree {
    void operator()(SAFEARRAY *a) const { SafeArrayDestroy(a); }
};
using UniqueSafeArray = std::unique_ptr<SAFEARRAY, SafeArrayFree>;

// A VARIANT that is cleared when it goes out of scope.
class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&v_); }
    ~UniqueVariant() { VariantClear(&v_); }
    UniqueVariant(const UniqueVariant &) = delete;
    UniqueVariant &operator=(const UniqueVariant &) = delete;
    VARIANT *get() { return &v_; }
    const VARIANT *get() const { return &v_; }
    // Hands the value over to `target` (which must be empty or cleared) and leaves this empty.
    void MoveTo(VARIANT *target) {
        *target = v_;
        VariantInit(&v_);
    }

private:
    VARIANT v_;
};

// An in-string argument: the bytes up to the first zero byte; a null pointer reads as "".
std::string InString(const char *p);

// The bytes of a BSTR that carries ANSI bytes, up to the first zero byte ("" for null).
std::string BstrBytes(BSTR b);

// A ref-string argument: the BSTR held by the variable, read as above; a null variable pointer
// or a null BSTR reads as "".
std::string RefString(const BSTR *variable);

// A String result over `bytes` cut at the first zero byte (null only if allocation fails).
BSTR StringResult(std::string_view bytes);

// Stores a new BSTR over `bytes` (cut at the first zero byte) in the caller's variable after
// releasing the one it held. A null variable pointer is ignored.
void WriteOutString(BSTR *variable, std::string_view bytes);

// Destroys any array the variable holds and stores a new array with the given bounds (listed
// in subscript order) and element type. Returns the new array, or null when it could not be made
// (the variable then holds null). A null variable pointer gives null. An array that is locked
// (the caller is iterating over it, say) cannot be replaced: the variable is left as it is and
// the result is null.
SAFEARRAY *ReplaceOutArray(SAFEARRAY **variable, std::span<const SAFEARRAYBOUND> bounds,
                           VARTYPE vt = VT_BSTR);
SAFEARRAY *ReplaceOutArray(SAFEARRAY **variable, std::initializer_list<SAFEARRAYBOUND> bounds,
                           VARTYPE vt = VT_BSTR);

// True when `array` is not null, has `dimensions` dimensions and elements of type `vt`: the
// check to make before reading or writing a caller's array by index.
bool HasShape(const SAFEARRAY *array, unsigned dimensions, VARTYPE vt);

// Writes `text` (cut at the first zero byte) into an element of a VT_BSTR array; false on a bad
// index or an array of another element type.
bool PutArrayString(SAFEARRAY *array, std::initializer_list<LONG> indices, std::string_view text);

// Reads an element of a VT_BSTR array as ANSI bytes (up to the first zero byte); nullopt on a bad
// index, a null array or an array of another element type.
std::optional<std::string> GetArrayString(SAFEARRAY *array, std::initializer_list<LONG> indices);

// Copies an element of a VT_VARIANT array into `target` (cleared first). A VT_BSTR array's
// element, whose bytes are ANSI, arrives as a string VARIANT holding its UTF-16 form. False (and
// `target` Empty) on a bad index or an array of any other element type.
bool GetArrayVariant(SAFEARRAY *array, std::initializer_list<LONG> indices, VARIANT *target);

// Stores a copy of `value` into an element of a VT_VARIANT array; false on a bad index or an
// array of another element type.
bool PutArrayVariant(SAFEARRAY *array, std::initializer_list<LONG> indices, const VARIANT *value);

// Element count and lower bound of a dimension, counted from 0 in subscript order (0 is the
// first subscript). 0 for a null array or a dimension it does not have.
ULONG DimensionCount(const SAFEARRAY *array, unsigned dimension);
LONG DimensionLowerBound(const SAFEARRAY *array, unsigned dimension);

// A VARIANT holding a UTF-16 BSTR, as COM objects hand out strings.
void SetVariantText(VARIANT *target, std::u16string_view text);

} // namespace kestrun::interop
