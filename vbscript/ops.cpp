#include "ops.h"

#include "errors.h"
#include "kestrun/interop/libm.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace kestrun::vbscript {

namespace {

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string_view trim(std::u16string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int &y, int &m, int &d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// Days from 1970-01-01 to 1899-12-30.
constexpr int64_t kEpochShift = -25569;

// Splits a serial into whole days and seconds of the day, rounding to the second. A serial
// outside the years 100 to 9999 (or not a number), which only a caller's VARIANT can bring in,
// is an overflow, as making such a date in a script is.
void splitSerial(double serial, int64_t &days, int64_t &secs) {
    if (!(serial >= -657434.0 && serial < 2958466.0))
        raise(err::Overflow);
    double whole = std::trunc(serial);
    double frac = std::fabs(serial - whole);
    days = static_cast<int64_t>(whole);
    secs = std::llround(frac * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        days += serial < 0 ? -1 : 1;
    }
}

enum class Kind { Byte, Int, Long, Single, Double, Currency, Date };

Kind kindOf(const Value &v) {
    switch (v.type()) {
    case VType::Byte:
        return Kind::Byte;
    case VType::Long:
        return Kind::Long;
    case VType::Single:
        return Kind::Single;
    case VType::Currency:
        return Kind::Currency;
    case VType::Date:
        return Kind::Date;
    case VType::String:
    case VType::Double:
        return Kind::Double;
    default:
        return Kind::Int; // Empty, Boolean, Integer
    }
}

Kind combine(Kind a, Kind b) {
    if (a == Kind::Double || b == Kind::Double)
        return Kind::Double;
    if (a == Kind::Date || b == Kind::Date)
        return Kind::Date;
    if (a == Kind::Currency || b == Kind::Currency)
        return Kind::Currency;
    if (a == Kind::Single || b == Kind::Single)
        return (a == Kind::Long || b == Kind::Long) ? Kind::Double : Kind::Single;
    if (a == Kind::Long || b == Kind::Long)
        return Kind::Long;
    if (a == Kind::Byte && b == Kind::Byte)
        return Kind::Byte;
    return Kind::Int;
}

Value fitInteger(int64_t r, Kind k) {
    if (k == Kind::Byte && r >= 0 && r <= 255)
        return Value::byte(static_cast<uint8_t>(r));
    if ((k == Kind::Byte || k == Kind::Int) && r >= -32768 && r <= 32767)
        return Value::integer(static_cast<int16_t>(r));
    if (r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max())
        return Value::lng(static_cast<int32_t>(r));
    return Value::dbl(static_cast<double>(r));
}

double checked(double d) {
    if (std::isnan(d) || std::isinf(d))
        raise(err::Overflow);
    return d;
}

int64_t intOf(Interp &in, const Value &v) {
    if (v.isInteger())
        return v.intValue();
    if (v.type() == VType::Boolean)
        return v.b() ? -1 : 0;
    if (v.isEmpty())
        return 0;
    return toLong(in, v);
}

// Bitwise/logical operators share the integer width rules of arithmetic.
Value logical(Interp &in, Op op, const Value &a, const Value &b) {
    auto apply = [op](int64_t x, int64_t y) -> int64_t {
        switch (op) {
        case Op::And:
            return x & y;
        case Op::Or:
            return x | y;
        case Op::Xor:
            return x ^ y;
        case Op::Eqv:
            return ~(x ^ y);
        default: // Imp
            return (~x) | y;
        }
    };
    if (a.isNull() || b.isNull()) {
        const Value &other = a.isNull() ? b : a;
        if (other.isNull())
            return Value::null();
        int64_t x = intOf(in, other);
        if (op == Op::And && x == 0)
            return other.type() == VType::Boolean ? Value::boolean(false)
                                                  : fitInteger(0, Kind::Int);
        if (op == Op::Or && x == -1)
            return other.type() == VType::Boolean ? Value::boolean(true)
                                                  : fitInteger(-1, Kind::Int);
        if (op == Op::Imp && a.isNull() && x == -1)
            return Value::boolean(true);
        if (op == Op::Imp && b.isNull() && x == 0)
            return Value::boolean(true);
        return Value::null();
    }
    if (a.type() == VType::Boolean && b.type() == VType::Boolean)
        return Value::boolean(apply(a.b() ? -1 : 0, b.b() ? -1 : 0) != 0);
    int64_t x = intOf(in, a), y = intOf(in, b);
    Kind ka = kindOf(a), kb = kindOf(b);
    bool narrow = (ka == Kind::Int || ka == Kind::Byte) && (kb == Kind::Int || kb == Kind::Byte) &&
                  a.type() != VType::String && b.type() != VType::String;
    int64_t r = apply(x, y);
    if (narrow) {
        if (ka == Kind::Byte && kb == Kind::Byte)
            return Value::byte(static_cast<uint8_t>(r & 0xFF));
        return Value::integer(static_cast<int16_t>(r));
    }
    return Value::lng(static_cast<int32_t>(r));
}

int compareStrings(const std::u16string &a, const std::u16string &b, bool text) {
    if (!text) {
        int c = a.compare(b);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y + 32);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

} // namespace

Value scalar(Interp &in, const Value &v) {
    if (!v.isObject())
        return v;
    if (!v.o())
        raise(err::ObjectNotSet);
    Value r = v.o()->get(in, u"", {});
    if (r.isObject())
        raise(err::NoMember);
    return r;
}

bool parseNumber(std::u16string_view s, double &out) {
    s = trim(s);
    if (s.empty())
        return false;
    if (s.size() > 2 && s[0] == u'&' &&
        (s[1] == u'H' || s[1] == u'h' || s[1] == u'O' || s[1] == u'o')) {
        int base = (s[1] == u'H' || s[1] == u'h') ? 16 : 8;
        uint64_t v = 0;
        for (size_t i = 2; i < s.size(); ++i) {
            int dgt;
            char16_t c = s[i];
            if (c >= u'0' && c <= u'9')
                dgt = c - u'0';
            else if (base == 16 && c >= u'a' && c <= u'f')
                dgt = c - u'a' + 10;
            else if (base == 16 && c >= u'A' && c <= u'F')
                dgt = c - u'A' + 10;
            else
                return false;
            if (dgt >= base)
                return false;
            v = v * base + dgt;
            if (v > 0xFFFFFFFFull)
                return false;
        }
        out = v <= 0x7FFFFFFF ? static_cast<double>(v)
                              : static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
        return true;
    }
    std::string buf;
    size_t i = 0;
    if (s[i] == u'+' || s[i] == u'-')
        buf.push_back(static_cast<char>(s[i++]));
    while (i < s.size() && isSpace(s[i]))
        ++i;
    size_t digits = 0;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
        buf.push_back(static_cast<char>(s[i++]));
        ++digits;
    }
    if (i < s.size() && s[i] == u'.') {
        buf.push_back('.');
        ++i;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
            buf.push_back(static_cast<char>(s[i++]));
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E' || s[i] == u'd' || s[i] == u'D')) {
        buf.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
            buf.push_back(static_cast<char>(s[i++]));
        size_t ed = 0;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
            buf.push_back(static_cast<char>(s[i++]));
            ++ed;
        }
        if (ed == 0)
            return false;
    }
    if (i != s.size())
        return false;
    out = std::strtod(buf.c_str(), nullptr);
    return !std::isinf(out);
}

namespace {

// Reads the digits of one date or time field.
bool readInt(std::u16string_view s, size_t &i, int &v) {
    size_t start = i;
    v = 0;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9' && i - start < 5)
        v = v * 10 + (s[i++] - u'0');
    return i > start;
}

bool validDate(int y, int m, int d) {
    if (m < 1 || m > 12 || d < 1 || y < 100 || y > 9999)
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

int fixYear(int y, size_t digits) {
    if (digits <= 2)
        return y < 30 ? 2000 + y : 1900 + y;
    return y;
}

} // namespace

bool parseDate(std::u16string_view s, double &out) {
    s = trim(s);
    if (s.empty())
        return false;
    size_t i = 0;
    bool haveDate = false, haveTime = false;
    double date = 0, time = 0;
    // Date part: a/b/c with '/', '-' or '.' separators; year first when it has four digits.
    {
        size_t j = 0;
        int a, b, c;
        size_t s0 = j;
        if (readInt(s, j, a) && j < s.size() && (s[j] == u'/' || s[j] == u'-' || s[j] == u'.')) {
            size_t lenA = j - s0;
            char16_t sep = s[j++];
            if (readInt(s, j, b)) {
                int y, m, d;
                bool ok = false;
                if (j < s.size() && s[j] == sep) {
                    ++j;
                    size_t s2 = j;
                    if (readInt(s, j, c)) {
                        size_t lenC = j - s2;
                        if (lenA >= 3) {
                            y = a, m = b, d = c;
                        } else {
                            m = a, d = b, y = fixYear(c, lenC);
                            if (!validDate(y, m, d) && validDate(y, b, a))
                                m = b, d = a;
                        }
                        ok = validDate(y, m, d);
                    }
                } else if (sep != u'.') {
                    // Two fields: month/day of the current year is not deterministic; read as
                    // year/month when the first has four digits, else month/day of year 1900+.
                    if (lenA >= 3) {
                        y = a, m = b, d = 1;
                        ok = validDate(y, m, d);
                    }
                }
                if (ok) {
                    date = static_cast<double>(makeDate(y, m, d));
                    haveDate = true;
                    i = j;
                }
            }
        }
    }
    while (i < s.size() && isSpace(s[i]))
        ++i;
    if (i < s.size()) {
        size_t j = i;
        int h, mi = 0, se = 0;
        if (!readInt(s, j, h))
            return false;
        if (j < s.size() && s[j] == u':') {
            ++j;
            if (!readInt(s, j, mi))
                return false;
            if (j < s.size() && s[j] == u':') {
                ++j;
                if (!readInt(s, j, se))
                    return false;
            }
        } else {
            // A bare number followed by AM/PM only.
            size_t k = j;
            while (k < s.size() && isSpace(s[k]))
                ++k;
            if (k >= s.size())
                return false;
        }
        while (j < s.size() && isSpace(s[j]))
            ++j;
        if (j + 1 < s.size() + 0 && j + 2 == s.size()) {
            std::u16string ap = upperAscii(s.substr(j));
            if (ap == u"AM" || ap == u"PM") {
                if (h < 1 || h > 12)
                    return false;
                h = h % 12 + (ap == u"PM" ? 12 : 0);
                j += 2;
            }
        }
        if (j != s.size() || h > 23 || mi > 59 || se > 59)
            return false;
        time = (h * 3600.0 + mi * 60.0 + se) / 86400.0;
        haveTime = true;
    }
    if (!haveDate && !haveTime)
        return false;
    out = date + (date < 0 ? -time : time);
    return true;
}

double toDouble(Interp &in, const Value &v) {
    switch (v.type()) {
    case VType::Empty:
        return 0;
    case VType::Null:
        raise(err::InvalidNull);
    case VType::Boolean:
        return v.b() ? -1 : 0;
    case VType::Byte:
        return v.by();
    case VType::Integer:
        return v.i();
    case VType::Long:
        return v.l();
    case VType::Single:
        return v.f();
    case VType::Double:
    case VType::Date:
        return v.d();
    case VType::Currency:
        return static_cast<double>(v.cy()) / 10000.0;
    case VType::String: {
        double d;
        if (parseNumber(v.s(), d))
            return d;
        if (parseDate(v.s(), d))
            return d;
        raise(err::TypeMismatch);
    }
    case VType::Object:
        return toDouble(in, scalar(in, v));
    default:
        raise(err::TypeMismatch);
    }
}

double roundHalfEven(double x) {
    double r = std::nearbyint(x); // default rounding mode is round-half-even
    return r;
}

int32_t toLong(Interp &in, const Value &v) {
    if (v.isInteger())
        return v.intValue();
    if (v.type() == VType::Boolean)
        return v.b() ? -1 : 0;
    double d = roundHalfEven(toDouble(in, v));
    if (!(d >= -2147483648.0 && d <= 2147483647.0))
        raise(err::Overflow);
    return static_cast<int32_t>(d);
}

int16_t toInteger(Interp &in, const Value &v) {
    int32_t l;
    if (v.isInteger() || v.type() == VType::Boolean) {
        l = toLong(in, v);
    } else {
        double d = roundHalfEven(toDouble(in, v));
        if (!(d >= -32768.0 && d <= 32767.0))
            raise(err::Overflow);
        l = static_cast<int32_t>(d);
    }
    if (l < -32768 || l > 32767)
        raise(err::Overflow);
    return static_cast<int16_t>(l);
}

bool toBool(Interp &in, const Value &v) {
    switch (v.type()) {
    case VType::Boolean:
        return v.b();
    case VType::Empty:
        return false;
    case VType::Null:
        raise(err::InvalidNull);
    case VType::String: {
        std::u16string t = lowerAscii(trim(v.s()));
        if (t == u"true" || t == u"#true#")
            return true;
        if (t == u"false" || t == u"#false#")
            return false;
        double d;
        if (parseNumber(v.s(), d))
            return d != 0;
        raise(err::TypeMismatch);
    }
    case VType::Object:
        return toBool(in, scalar(in, v));
    case VType::Array:
        raise(err::TypeMismatch);
    default:
        return toDouble(in, v) != 0;
    }
}

double toDate(Interp &in, const Value &v) {
    switch (v.type()) {
    case VType::Date:
        return v.d();
    case VType::String: {
        double d;
        if (parseDate(v.s(), d))
            return d;
        if (parseNumber(v.s(), d))
            return d;
        raise(err::TypeMismatch);
    }
    case VType::Null:
        raise(err::InvalidNull);
    default: {
        double d = toDouble(in, v);
        if (d < -657434.0 || d > 2958465.999999)
            raise(err::Overflow);
        return d;
    }
    }
}

int64_t toCurrency(Interp &in, const Value &v) {
    if (v.type() == VType::Currency)
        return v.cy();
    double d = toDouble(in, v) * 10000.0;
    if (!(std::fabs(d) < 9.2233720368547e18))
        raise(err::Overflow);
    return static_cast<int64_t>(roundHalfEven(d));
}

std::u16string formatLong(int64_t v) {
    return asciiToU16(std::to_string(v));
}

std::u16string formatDouble(double d, int digits) {
    if (d == 0)
        return u"0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", digits, d);
    return asciiToU16(buf);
}

std::u16string formatCurrency(int64_t scaled) {
    bool neg = scaled < 0;
    uint64_t u = neg ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    std::string s = std::to_string(u / 10000);
    uint64_t frac = u % 10000;
    if (frac) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
        std::string f = buf;
        while (!f.empty() && f.back() == '0')
            f.pop_back();
        s += "." + f;
    }
    return asciiToU16((neg ? "-" : "") + s);
}

double makeDate(int64_t year, int64_t month, int64_t day) {
    int64_t m0 = month - 1;
    int64_t yAdj = m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
    year += yAdj;
    m0 -= yAdj * 12;
    int64_t days = daysFromCivil(year, m0 + 1, 1) + (day - 1);
    return static_cast<double>(days - kEpochShift);
}

void splitDate(double serial, int &year, int &month, int &day) {
    int64_t days, secs;
    splitSerial(serial, days, secs);
    civilFromDays(days + kEpochShift, year, month, day);
}

void splitTime(double serial, int &hour, int &minute, int &second) {
    int64_t days, secs;
    splitSerial(serial, days, secs);
    hour = static_cast<int>(secs / 3600);
    minute = static_cast<int>(secs / 60 % 60);
    second = static_cast<int>(secs % 60);
}

int weekdayOf(double serial) {
    int64_t days, secs;
    splitSerial(serial, days, secs);
    // 1899-12-30 was a Saturday (7).
    int64_t w = (days + 6) % 7;
    if (w < 0)
        w += 7;
    return static_cast<int>(w) + 1;
}

std::u16string formatDate(double serial) {
    int64_t days, secs;
    splitSerial(serial, days, secs);
    std::string out;
    char buf[64];
    if (days != 0 || secs == 0) {
        int y, m, d;
        civilFromDays(days + kEpochShift, y, m, d);
        std::snprintf(buf, sizeof buf, "%d/%d/%d", y, m, d);
        out = buf;
    }
    if (secs != 0) {
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d", static_cast<int>(secs / 3600),
                      static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
        if (!out.empty())
            out += ' ';
        out += buf;
    }
    return asciiToU16(out);
}

TextOf::TextOf(Interp &in, const Value &v, bool nullAsEmpty) {
    if (v.isString()) {
        held_ = v;
        view_ = held_.s();
    } else {
        own_ = toStr(in, v, nullAsEmpty);
        view_ = own_;
    }
}

std::u16string toStr(Interp &in, const Value &v, bool nullAsEmpty) {
    switch (v.type()) {
    case VType::String:
        return v.s();
    case VType::Empty:
        return {};
    case VType::Null:
        if (nullAsEmpty)
            return {};
        raise(err::InvalidNull);
    case VType::Boolean:
        return v.b() ? u"True" : u"False";
    case VType::Byte:
    case VType::Integer:
    case VType::Long:
        return formatLong(v.intValue());
    case VType::Single:
        return formatDouble(v.f(), 7);
    case VType::Double:
        return formatDouble(v.d());
    case VType::Currency:
        return formatCurrency(v.cy());
    case VType::Date:
        return formatDate(v.d());
    case VType::Error:
        return u"Error " + formatLong(v.l());
    case VType::Object:
        return toStr(in, scalar(in, v), nullAsEmpty);
    default:
        raise(err::TypeMismatch);
    }
}

int compareValues(Interp &in, const Value &a0, const Value &b0, bool text) {
    const Value a = a0.isObject() ? scalar(in, a0) : a0;
    const Value b = b0.isObject() ? scalar(in, b0) : b0;
    if (a.isArray() || b.isArray())
        raise(err::TypeMismatch);
    if (a.isString() && b.isString())
        return compareStrings(a.s(), b.s(), text);
    if (a.isString() && b.isEmpty())
        return a.s().empty() ? 0 : 1;
    if (b.isString() && a.isEmpty())
        return b.s().empty() ? 0 : -1;
    if (a.isString())
        return 1; // a number is less than a string
    if (b.isString())
        return -1;
    if (a.isInteger() && b.isInteger()) {
        int32_t x = a.intValue(), y = b.intValue();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if ((a.type() == VType::Single && b.type() == VType::Double) ||
        (a.type() == VType::Double && b.type() == VType::Single)) {
        // A Single against a Double compares at the Single's precision: CSng(0.1) = 0.1.
        float x = static_cast<float>(toDouble(in, a)), y = static_cast<float>(toDouble(in, b));
        return x < y ? -1 : x > y ? 1 : 0;
    }
    double x = toDouble(in, a), y = toDouble(in, b);
    return x < y ? -1 : x > y ? 1 : 0;
}

bool equalForSelect(Interp &in, const Value &a, const Value &b) {
    if (a.isNull() || b.isNull())
        return false;
    // A text compared with a number is read as a number when it can be.
    if (a.isString() != b.isString() && !a.isEmpty() && !b.isEmpty() && !a.isObject() &&
        !b.isObject()) {
        const Value &s = a.isString() ? a : b;
        double d;
        if (parseNumber(s.s(), d))
            return d == toDouble(in, a.isString() ? b : a);
        return false;
    }
    return compareValues(in, a, b) == 0;
}

Value negate(Interp &in, const Value &v0) {
    const Value v = v0.isObject() ? scalar(in, v0) : v0;
    switch (v.type()) {
    case VType::Null:
        return Value::null();
    case VType::Empty:
        return Value::integer(0);
    case VType::Boolean:
        return Value::integer(v.b() ? 1 : 0);
    case VType::Byte:
    case VType::Integer:
        return fitInteger(-static_cast<int64_t>(v.intValue()), Kind::Int);
    case VType::Long:
        return fitInteger(-static_cast<int64_t>(v.l()), Kind::Long);
    case VType::Single:
        return Value::single(-v.f());
    case VType::Currency:
        return Value::currency(-v.cy());
    case VType::Date:
        return Value::date(-v.d());
    default:
        return Value::dbl(-toDouble(in, v));
    }
}

Value logicalNot(Interp &in, const Value &v0) {
    const Value v = v0.isObject() ? scalar(in, v0) : v0;
    switch (v.type()) {
    case VType::Null:
        return Value::null();
    case VType::Boolean:
        return Value::boolean(!v.b());
    case VType::Empty:
        return Value::integer(-1);
    case VType::Byte:
        return Value::byte(static_cast<uint8_t>(~v.by()));
    case VType::Integer:
        return Value::integer(static_cast<int16_t>(~v.i()));
    case VType::String: {
        // A number in text is negated bitwise; a Boolean's text ("#FALSE#", "True") logically.
        double d;
        if (!parseNumber(v.s(), d))
            return Value::boolean(!toBool(in, v));
        return Value::lng(~toLong(in, v));
    }
    default:
        return Value::lng(~toLong(in, v));
    }
}

Value binaryOp(Interp &in, Op op, const Value &a0, const Value &b0) {
    if (op == Op::Is) {
        if (!a0.isObject() || !b0.isObject())
            raise(err::ObjectRequired);
        return Value::boolean(a0.o() == b0.o());
    }
    const Value a = a0.isObject() ? scalar(in, a0) : a0;
    const Value b = b0.isObject() ? scalar(in, b0) : b0;
    if (a.isArray() || b.isArray())
        raise(err::TypeMismatch);
    switch (op) {
    case Op::Concat: {
        if (a.isNull() && b.isNull())
            return Value::null();
        std::u16string head = toStr(in, a, true);
        std::u16string tail = toStr(in, b, true);
        checkJoinedLength(head.size(), tail.size());
        return Value::str(head + tail);
    }
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Gt:
    case Op::Le:
    case Op::Ge: {
        if (a.isNull() || b.isNull())
            return Value::null();
        int c = compareValues(in, a, b);
        bool r = op == Op::Eq   ? c == 0
                 : op == Op::Ne ? c != 0
                 : op == Op::Lt ? c < 0
                 : op == Op::Gt ? c > 0
                 : op == Op::Le ? c <= 0
                                : c >= 0;
        return Value::boolean(r);
    }
    case Op::And:
    case Op::Or:
    case Op::Xor:
    case Op::Eqv:
    case Op::Imp:
        return logical(in, op, a, b);
    default:
        break;
    }
    if (a.isNull() || b.isNull())
        return Value::null();
    if (op == Op::Add && a.isString() && (b.isString() || b.isEmpty()))
        return Value::str(a.s() + (b.isString() ? b.s() : std::u16string()));
    if (op == Op::Add && b.isString() && a.isEmpty())
        return b;
    Kind k = combine(kindOf(a), kindOf(b));
    switch (op) {
    case Op::Pow: {
        double x = toDouble(in, a), y = toDouble(in, b);
        if (x == 0 && y < 0)
            raise(err::InvalidCall);
        if (x < 0 && y != std::floor(y))
            raise(err::InvalidCall);
        return Value::dbl(checked(libm::Pow(x, y)));
    }
    case Op::Div: {
        double x = toDouble(in, a), y = toDouble(in, b);
        if (y == 0)
            raise(x == 0 ? err::Overflow : err::DivByZero);
        if (k == Kind::Single)
            return Value::single(static_cast<float>(x / y));
        return Value::dbl(checked(x / y));
    }
    case Op::IntDiv:
    case Op::Mod: {
        int64_t x = intOf(in, a), y = intOf(in, b);
        if (y == 0)
            raise(err::DivByZero);
        int64_t r = op == Op::IntDiv ? x / y : x % y;
        Kind rk = (k == Kind::Byte) ? Kind::Byte : (k == Kind::Int) ? Kind::Int : Kind::Long;
        return fitInteger(r, rk);
    }
    default:
        break;
    }
    // Add, Sub, Mul.
    switch (k) {
    case Kind::Byte:
    case Kind::Int:
    case Kind::Long: {
        int64_t x = intOf(in, a), y = intOf(in, b);
        int64_t r = op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y;
        return fitInteger(r, k);
    }
    case Kind::Single: {
        double x = toDouble(in, a), y = toDouble(in, b);
        double r = op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y;
        if (std::fabs(r) > 3.402823466e38)
            return Value::dbl(checked(r));
        return Value::single(static_cast<float>(r));
    }
    case Kind::Currency: {
        // Exact sums and a product rounded once to 64 bits, whatever precision the caller left
        // the x87 unit at.
        libm::ExtendedPrecision extended;
        long double x = static_cast<long double>(toCurrency(in, a));
        long double y = static_cast<long double>(toCurrency(in, b));
        long double r = op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y / 10000.0L;
        if (!(std::fabs(r) < 9.2233720368547e18L))
            raise(err::Overflow);
        return Value::currency(static_cast<int64_t>(std::nearbyint(r)));
    }
    case Kind::Date: {
        double x = toDouble(in, a), y = toDouble(in, b);
        if (op == Op::Mul)
            return Value::dbl(checked(x * y));
        if (op == Op::Sub && a.type() == VType::Date && b.type() == VType::Date)
            return Value::dbl(x - y);
        double r = op == Op::Add ? x + y : x - y;
        if (r < -657434.0 || r > 2958466.0)
            raise(err::Overflow);
        return Value::date(r);
    }
    default: {
        double x = toDouble(in, a), y = toDouble(in, b);
        double r = op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y;
        return Value::dbl(checked(r));
    }
    }
}

} // namespace kestrun::vbscript
