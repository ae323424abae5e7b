// Values as the command-line host holds them between calls: GBK text, numbers, arrays and
// variants, with the conversions between them and the terminal's UTF-8.
#pragma once

#include "oleauto.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun_cli {

std::string ToGbk(std::string_view utf8);
// A whole decimal number, or hexadecimal after 0x, with an optional sign; empty text is 0.
std::optional<long long> ParseNumber(std::string_view text);
std::string FromGbk(std::string_view gbk);
std::string Hex(std::string_view bytes);

struct BstrFree {
    void operator()(OLECHAR *b) const { SysFreeString(b); }
};
struct ArrayFree {
    void operator()(SAFEARRAY *a) const { SafeArrayDestroy(a); }
};
using BstrPtr = std::unique_ptr<OLECHAR, BstrFree>;
using ArrayPtr = std::unique_ptr<SAFEARRAY, ArrayFree>;

// A VARIANT that clears itself.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    // Windows declares the sources of VariantCopy and VariantChangeType non-const; they are only
    // read.
    Variant(const Variant &other) : Variant() {
        VariantCopy(&value_, const_cast<VARIANT *>(&other.value_));
    }
    Variant &operator=(const Variant &other) {
        if (this != &other) {
            VariantClear(&value_);
            VariantCopy(&value_, const_cast<VARIANT *>(&other.value_));
        }
        return *this;
    }
    VARIANT *get() { return &value_; }
    const VARIANT *get() const { return &value_; }

private:
    VARIANT value_;
};

// A BSTR over GBK bytes, from UTF-8 text.
BSTR MakeAnsiBstr(std::string_view utf8);
std::string BstrBytes(BSTR b);
// The BSTR's GBK bytes as UTF-8, or as hexadecimal bytes; "(null)" for a null BSTR.
std::string BstrText(BSTR b, bool hex);
std::string VariantText(const VARIANT *v);

// A 1-D array from "a|b|c", or a 2-D array (rows x fields) when the text has line feeds; a
// line feed at the end ends the last row, so "a|b\n" is a table of one row.
// Text is UTF-8; string elements become GBK, variant elements that are whole numbers Long.
ArrayPtr MakeArray(std::string_view layout, VARTYPE vt);
ArrayPtr CopyArray(const SAFEARRAY *array);
// "  [i] a | b" lines, one per row.
std::string ArrayLines(SAFEARRAY *array, bool hex);

// A variable of a session.
class Value {
public:
    enum class Type { Null, Text, Number, Array, Variant };

    static Value Null() { return Value(); }
    static Value Text(std::string gbk);
    static Value Number(long long number);
    static Value Array(ArrayPtr array);
    static Value FromVariant(const Variant &variant);

    Value() = default;
    Value(const Value &other);
    Value &operator=(const Value &other);
    Value(Value &&) = default;
    Value &operator=(Value &&) = default;

    Type type() const { return type_; }
    // The value as GBK text (numbers in decimal, variants converted, arrays empty).
    std::string AsGbk() const;
    long long AsNumber() const;
    // A new array: a copy of an array value, or one built from the text's layout.
    ArrayPtr AsArray(VARTYPE vt) const;

private:
    Type type_ = Type::Null;
    std::string text_;
    long long number_ = 0;
    ArrayPtr array_;
    Variant variant_;
};

} // namespace kestrun_cli
