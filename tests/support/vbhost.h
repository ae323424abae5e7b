// Calls exports the way a Visual Basic host does: String variables hold BSTRs of GBK bytes made
// with the OLE Automation stand-in; results and out-strings are owned and freed here.
#pragma once

#include "kestrun.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace vbhost {

// A String variable. Starts unset (a null BSTR) unless given bytes.
class String {
public:
    String() = default;
    explicit String(std::string_view bytes);
    ~String();
    String(const String &) = delete;
    String &operator=(const String &) = delete;

    // For ref-string and out-string parameters.
    BSTR *ref() { return &value_; }
    BSTR get() const { return value_; }
    bool isNull() const { return value_ == nullptr; }
    // All bytes of the BSTR (its byte count), "" when unset.
    std::string bytes() const;

private:
    BSTR value_ = nullptr;
};

// Takes ownership of a String result: its bytes, or nullopt for a null result.
std::optional<std::string> Take(BSTR result);
// As Take, with a null result read as "" (what a Visual Basic caller sees).
std::string TakeText(BSTR result);

// An array variable (string or variant elements), destroyed with the variable.
class Array {
public:
    Array() = default;
    ~Array();
    Array(const Array &) = delete;
    Array &operator=(const Array &) = delete;

    SAFEARRAY **ref() { return &value_; }
    SAFEARRAY *get() const { return value_; }
    // A new string array with the given bounds (subscript order), replacing what is held.
    void CreateStrings(std::initializer_list<SAFEARRAYBOUND> bounds);
    void CreateVariants(std::initializer_list<SAFEARRAYBOUND> bounds);
    // Element count of a dimension (0 = first subscript); 0 when there is no array.
    unsigned long count(unsigned dimension) const;
    // A string element's bytes; nullopt for a null element or a bad index.
    std::optional<std::string> at(std::initializer_list<long> indices) const;
    void set(std::initializer_list<long> indices, std::string_view bytes);

private:
    SAFEARRAY *value_ = nullptr;
};

// Code page 936 <-> UTF-8 through iconv, independent of the library's own conversions, so that
// tests can write their expectations in UTF-8 source text.
std::string Gbk(std::string_view utf8);
std::string Utf8(std::string_view gbk);

} // namespace vbhost
