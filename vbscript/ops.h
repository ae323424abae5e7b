// Coercions, formatting and operators of the language.
#pragma once

#include "value.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::vbscript {

// An object's default value (error 438 without one, 91 for Nothing); other values unchanged.
Value scalar(Interp &in, const Value &v);

bool parseNumber(std::u16string_view s, double &out);
bool parseDate(std::u16string_view s, double &out);

double toDouble(Interp &in, const Value &v);
int32_t toLong(Interp &in, const Value &v);    // banker's rounding, error 6 out of range
int16_t toInteger(Interp &in, const Value &v); // banker's rounding, error 6 out of range
bool toBool(Interp &in, const Value &v);
double toDate(Interp &in, const Value &v);
// Text of a value; Null gives error 94 unless nullAsEmpty.
std::u16string toStr(Interp &in, const Value &v, bool nullAsEmpty = false);
int64_t toCurrency(Interp &in, const Value &v);

// The text of a value for reading, without copying a string: a String is read where it lives
// (the value is held, so the text stays valid even if script code run by a later conversion of
// another argument reassigns the variable); other values are converted into a text of its own.
class TextOf {
public:
    TextOf(Interp &in, const Value &v, bool nullAsEmpty = false);
    explicit TextOf(std::u16string_view literal) : view_(literal) {}
    TextOf(const TextOf &) = delete;
    TextOf &operator=(const TextOf &) = delete;

    std::u16string_view view() const { return view_; }
    operator std::u16string_view() const { return view_; }
    size_t size() const { return view_.size(); }
    bool empty() const { return view_.empty(); }
    char16_t operator[](size_t i) const { return view_[i]; }
    std::u16string_view substr(size_t pos, size_t n = std::u16string_view::npos) const {
        return view_.substr(pos, n);
    }
    auto begin() const { return view_.begin(); }
    auto end() const { return view_.end(); }

private:
    Value held_;
    std::u16string own_;
    std::u16string_view view_;
};

double roundHalfEven(double x);
std::u16string formatDouble(double d, int digits = 15);
std::u16string formatCurrency(int64_t scaled);
std::u16string formatDate(double serial);
std::u16string formatLong(int64_t v);

// Date serials count days from 1899-12-30; the fraction is the time of day.
double makeDate(int64_t year, int64_t month, int64_t day); // normalises overflowing fields
void splitDate(double serial, int &year, int &month, int &day);
void splitTime(double serial, int &hour, int &minute, int &second);
int weekdayOf(double serial); // 1 = Sunday

// Binary and unary operators.
enum class Op : uint8_t {
    Add,
    Sub,
    Mul,
    Div,
    IntDiv,
    Mod,
    Pow,
    Concat,
    Eq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    Is,
    And,
    Or,
    Xor,
    Eqv,
    Imp,
};

Value binaryOp(Interp &in, Op op, const Value &a, const Value &b);
Value negate(Interp &in, const Value &v);
Value logicalNot(Interp &in, const Value &v);
// -1, 0 or 1; `text` compares case-insensitively. Null operands are the caller's concern.
int compareValues(Interp &in, const Value &a, const Value &b, bool text = false);
bool equalForSelect(Interp &in, const Value &a, const Value &b);

} // namespace kestrun::vbscript
