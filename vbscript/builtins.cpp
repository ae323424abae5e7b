// Built-in functions and constants of the language.
#include "errors.h"
#include "interp.h"
#include "kestrun/interop/libm.h"
#include "objects.h"
#include "ops.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace kestrun::vbscript {

namespace {

using A = Args;

const Value &arg(A a, size_t i) {
    static const Value empty;
    return i < a.size() ? *a[i] : empty;
}
bool has(A a, size_t i) {
    return i < a.size() && !isMissing(*a[i]);
}
bool anyNull(A a, size_t n) {
    for (size_t i = 0; i < n && i < a.size(); ++i)
        if (a[i]->isNull())
            return true;
    return false;
}
std::u16string str(Interp &in, A a, size_t i) {
    return toStr(in, arg(a, i));
}
// The argument's text read in place (see TextOf); `def` when the argument is left out.
TextOf textArg(Interp &in, A a, size_t i) {
    return TextOf(in, arg(a, i));
}
TextOf textArgOr(Interp &in, A a, size_t i, std::u16string_view def) {
    if (!has(a, i))
        return TextOf(def);
    return TextOf(in, arg(a, i));
}
int32_t lng(Interp &in, A a, size_t i) {
    return toLong(in, arg(a, i));
}
int32_t lngOr(Interp &in, A a, size_t i, int32_t def) {
    return has(a, i) ? lng(in, a, i) : def;
}
double dbl(Interp &in, A a, size_t i) {
    return toDouble(in, arg(a, i));
}
// The compare argument of the text functions: 0 (binary) or 1 (text), error 5 otherwise.
bool textCompare(Interp &in, A a, size_t i) {
    if (!has(a, i))
        return false;
    int32_t c = lng(in, a, i);
    if (c < 0 || c > 2)
        raise(err::InvalidCall);
    return c == 1;
}

Value makeArray(std::vector<Value> items) {
    auto *r = new ArrayRep;
    r->dims.push_back(static_cast<int32_t>(items.size()));
    r->data = std::move(items);
    return Value::array(r);
}

char16_t lowerChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c + 32 : c;
}

size_t findText(std::u16string_view hay, std::u16string_view needle, size_t from, bool text) {
    if (!text)
        return hay.find(needle, from);
    if (needle.empty())
        return from <= hay.size() ? from : std::u16string::npos;
    for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && lowerChar(hay[i + k]) == lowerChar(needle[k]))
            ++k;
        if (k == needle.size())
            return i;
    }
    return std::u16string::npos;
}

size_t rfindText(std::u16string_view hay, std::u16string_view needle, size_t before, bool text) {
    // Last match that ends at or before `before`.
    if (needle.size() > before)
        return std::u16string::npos;
    for (size_t i = before - needle.size() + 1; i-- > 0;) {
        size_t k = 0;
        while (k < needle.size() &&
               (text ? lowerChar(hay[i + k]) == lowerChar(needle[k]) : hay[i + k] == needle[k]))
            ++k;
        if (k == needle.size())
            return i;
    }
    return std::u16string::npos;
}

// ---------------------------------------------------------------- strings

Value fLen(Interp &in, A a) {
    const Value &v = arg(a, 0);
    if (v.isNull())
        return Value::null();
    return Value::lng(static_cast<int32_t>(TextOf(in, v).size()));
}
// LenB of a Byte() array counts its bytes; of anything else, its text's characters.
Value fLenB(Interp &in, A a) {
    const Value &v = arg(a, 0);
    if (v.isArray() && v.a()->bytes && v.a()->dims.size() == 1)
        return Value::lng(v.a()->dims[0]);
    return fLen(in, a);
}
Value fLeft(Interp &in, A a) {
    int32_t n = lng(in, a, 1);
    if (n < 0)
        raise(err::InvalidCall);
    if (arg(a, 0).isNull())
        return Value::null();
    TextOf s = textArg(in, a, 0);
    return Value::str(s.substr(0, std::min<size_t>(s.size(), static_cast<size_t>(n))));
}
Value fRight(Interp &in, A a) {
    int32_t n = lng(in, a, 1);
    if (n < 0)
        raise(err::InvalidCall);
    if (arg(a, 0).isNull())
        return Value::null();
    TextOf s = textArg(in, a, 0);
    size_t k = std::min<size_t>(s.size(), static_cast<size_t>(n));
    return Value::str(s.substr(s.size() - k));
}
Value fMid(Interp &in, A a) {
    // Every argument is converted before any is checked: `Mid("x", 0, Null)` is error 94.
    int32_t start = lng(in, a, 1);
    int32_t n = has(a, 2) ? lng(in, a, 2) : -1;
    if (start < 1 || (has(a, 2) && n < 0))
        raise(err::InvalidCall);
    if (arg(a, 0).isNull())
        return Value::null();
    TextOf s = textArg(in, a, 0);
    size_t from = static_cast<size_t>(start - 1);
    if (from >= s.size())
        return Value::str(u"");
    if (!has(a, 2))
        return Value::str(s.substr(from));
    return Value::str(s.substr(from, static_cast<size_t>(n)));
}
Value fInStr(Interp &in, A a) {
    size_t base = 0;
    int32_t start = 1;
    if (a.size() >= 3) {
        if (arg(a, 0).isNull())
            raise(err::InvalidNull);
        start = lng(in, a, 0);
        base = 1;
    }
    if (start < 1)
        raise(err::InvalidCall);
    bool text = a.size() >= 4 && textCompare(in, a, 3);
    if (arg(a, base).isNull() || arg(a, base + 1).isNull())
        return Value::null();
    TextOf s = textArg(in, a, base), f = textArg(in, a, base + 1);
    if (static_cast<size_t>(start) > s.size())
        return Value::lng(0);
    size_t p = findText(s, f, static_cast<size_t>(start - 1), text);
    return Value::lng(p == std::u16string::npos ? 0 : static_cast<int32_t>(p + 1));
}
Value fInStrRev(Interp &in, A a) {
    // The text searched for, the start and the compare mode must not be Null (error 94).
    TextOf f = textArg(in, a, 1);
    int32_t start = lngOr(in, a, 2, -1);
    bool text = textCompare(in, a, 3);
    TextOf s = textArg(in, a, 0); // Null: error 94 like the other arguments
    if (start == 0 || start < -1)
        raise(err::InvalidCall);
    size_t before = start == -1 ? s.size() : static_cast<size_t>(start);
    if (before > s.size())
        return Value::lng(0);
    if (f.empty())
        return Value::lng(static_cast<int32_t>(before));
    size_t p = rfindText(s, f, before, text);
    return Value::lng(p == std::u16string::npos ? 0 : static_cast<int32_t>(p + 1));
}
Value fReplace(Interp &in, A a) {
    TextOf whole = textArg(in, a, 0), f = textArg(in, a, 1),
           r = textArg(in, a, 2); // Null: error 94
    int32_t start = lngOr(in, a, 3, 1);
    int32_t count = lngOr(in, a, 4, -1);
    bool text = textCompare(in, a, 5);
    if (start < 1 || count < -1)
        raise(err::InvalidCall);
    if (static_cast<size_t>(start) > whole.size())
        return Value::str(u"");
    std::u16string_view s = whole.substr(static_cast<size_t>(start - 1));
    if (f.empty() || count == 0)
        return Value::str(s);
    std::u16string out;
    size_t pos = 0;
    int done = 0;
    while (count < 0 || done < count) {
        size_t p = findText(s, f, pos, text);
        if (p == std::u16string::npos)
            break;
        out.append(s, pos, p - pos);
        out += r.view();
        pos = p + f.size();
        ++done;
    }
    out.append(s, pos, std::u16string::npos);
    return Value::str(std::move(out));
}
Value fSplit(Interp &in, A a) {
    TextOf s = textArg(in, a, 0); // Null: error 94
    TextOf d = textArgOr(in, a, 1, u" ");
    int32_t count = lngOr(in, a, 2, -1);
    bool text = textCompare(in, a, 3);
    if (count < -1) // -1: every part
        raise(err::InvalidCall);
    std::vector<Value> parts;
    if (s.empty() || count == 0)
        return makeArray({});
    if (d.empty())
        return makeArray({Value::str(s.view())});
    size_t pos = 0;
    while (true) {
        if (count > 0 && static_cast<int32_t>(parts.size()) == count - 1)
            break;
        size_t p = findText(s, d, pos, text);
        if (p == std::u16string::npos)
            break;
        parts.push_back(Value::str(s.substr(pos, p - pos)));
        pos = p + d.size();
    }
    parts.push_back(Value::str(s.substr(pos)));
    return makeArray(std::move(parts));
}
const ArrayRep &oneDim(const Value &v) {
    if (v.isNull())
        raise(err::InvalidNull);
    if (!v.isArray())
        raise(err::TypeMismatch);
    if (v.a()->dims.size() != 1)
        raise(err::Subscript);
    return *v.a();
}
Value fJoin(Interp &in, A a) {
    // An object has no list to join (438); an array of more than one dimension is not a list
    // (13).
    const Value &list = arg(a, 0);
    if (list.isObject())
        raise(err::NoMember);
    if (list.isArray() && list.a()->dims.size() != 1)
        raise(err::TypeMismatch);
    const ArrayRep &r = oneDim(list);
    TextOf d = textArgOr(in, a, 1, u" ");
    std::u16string out;
    for (size_t i = 0; i < r.data.size(); ++i) {
        if (i)
            out += d.view();
        if (r.data[i].isNull())
            raise(err::TypeMismatch);
        out += TextOf(in, r.data[i]).view();
    }
    return Value::str(std::move(out));
}
Value fFilter(Interp &in, A a) {
    const ArrayRep &r = oneDim(arg(a, 0));
    TextOf m = textArg(in, a, 1);
    bool include = has(a, 2) ? toBool(in, arg(a, 2)) : true;
    bool text = textCompare(in, a, 3);
    std::vector<Value> out;
    for (const Value &v : r.data) {
        TextOf s(in, v, true);
        bool hit = findText(s, m, 0, text) != std::u16string::npos;
        if (hit == include)
            out.push_back(v.isString() ? v : Value::str(s.view()));
    }
    return makeArray(std::move(out));
}
Value fStrComp(Interp &in, A a) {
    bool text = textCompare(in, a, 2);
    if (anyNull(a, 2))
        return Value::null();
    // Both sides compare as texts; a String argument is passed on as it is.
    auto asText = [&](size_t i) {
        return arg(a, i).isString() ? arg(a, i) : Value::str(str(in, a, i));
    };
    return Value::integer(static_cast<int16_t>(compareValues(in, asText(0), asText(1), text)));
}
Value fUCase(Interp &in, A a) {
    if (arg(a, 0).isNull())
        return Value::null();
    return Value::str(upperAscii(textArg(in, a, 0)));
}
Value fLCase(Interp &in, A a) {
    if (arg(a, 0).isNull())
        return Value::null();
    return Value::str(lowerAscii(textArg(in, a, 0)));
}
Value trimmed(Interp &in, A a, bool left, bool right) {
    if (arg(a, 0).isNull())
        return Value::null();
    TextOf s = textArg(in, a, 0);
    size_t b = 0, e = s.size();
    if (left)
        while (b < e && s[b] == u' ')
            ++b;
    if (right)
        while (e > b && s[e - 1] == u' ')
            --e;
    return Value::str(s.substr(b, e - b));
}
Value fTrim(Interp &in, A a) {
    return trimmed(in, a, true, true);
}
Value fLTrim(Interp &in, A a) {
    return trimmed(in, a, true, false);
}
Value fRTrim(Interp &in, A a) {
    return trimmed(in, a, false, true);
}
Value fSpace(Interp &in, A a) {
    int32_t n = lng(in, a, 0);
    if (n < 0 || n > (1 << 28))
        raise(err::InvalidCall);
    return Value::str(std::u16string(static_cast<size_t>(n), u' '));
}
Value fString(Interp &in, A a) {
    int32_t n = lng(in, a, 0);
    if (n < 0 || n > (1 << 28))
        raise(err::InvalidCall);
    const Value &c = arg(a, 1);
    if (c.isNull())
        return Value::null();
    char16_t ch;
    if (c.isString()) {
        if (c.s().empty())
            raise(err::InvalidCall);
        ch = c.s()[0];
    } else {
        ch = static_cast<char16_t>(toLong(in, c) & 0xFF);
    }
    return Value::str(std::u16string(static_cast<size_t>(n), ch));
}
Value fStrReverse(Interp &in, A a) {
    if (arg(a, 0).isNull())
        raise(err::InvalidNull);
    std::u16string s = str(in, a, 0);
    std::reverse(s.begin(), s.end());
    return Value::str(std::move(s));
}
Value fAscW(Interp &in, A a) {
    TextOf s = textArg(in, a, 0);
    if (s.empty())
        raise(err::InvalidCall);
    return Value::integer(static_cast<int16_t>(s[0]));
}
Value fAsc(Interp &in, A a) {
    TextOf s = textArg(in, a, 0);
    if (s.empty())
        raise(err::InvalidCall);
    if (s[0] < 0x80 || !in.toAnsi)
        return Value::integer(static_cast<int16_t>(s[0] < 0x100 ? s[0] : u'?'));
    std::string b = in.toAnsi(s.substr(0, 1));
    if (b.size() >= 2)
        return Value::integer(static_cast<int16_t>((static_cast<unsigned char>(b[0]) << 8) |
                                                   static_cast<unsigned char>(b[1])));
    return Value::integer(static_cast<int16_t>(b.empty() ? 63 : static_cast<unsigned char>(b[0])));
}
Value fChrW(Interp &in, A a) {
    int32_t c = lng(in, a, 0);
    if (c < -32768 || c > 65535)
        raise(err::InvalidCall);
    return Value::str(std::u16string(1, static_cast<char16_t>(c & 0xFFFF)));
}
Value fChr(Interp &in, A a) {
    int32_t c = lng(in, a, 0);
    if (c < -32768 || c > 65535)
        raise(err::InvalidCall);
    c &= 0xFFFF;
    if (c < 0x80 || !in.fromAnsi)
        return Value::str(std::u16string(1, static_cast<char16_t>(c)));
    std::string b;
    if (c > 0xFF)
        b.push_back(static_cast<char>(c >> 8));
    b.push_back(static_cast<char>(c & 0xFF));
    std::u16string w = in.fromAnsi(b);
    return Value::str(w.empty() ? std::u16string(1, u'?') : w.substr(0, 1));
}
Value radix(Interp &in, A a, bool hex) {
    const Value &v = arg(a, 0);
    if (v.isNull())
        return Value::null();
    int64_t n = toLong(in, v);
    uint32_t u = static_cast<uint32_t>(n);
    if (v.type() == VType::Integer || v.type() == VType::Byte || v.type() == VType::Boolean)
        u &= 0xFFFF;
    char buf[24];
    std::snprintf(buf, sizeof buf, hex ? "%X" : "%o", u);
    return Value::ascii(buf);
}
Value fHex(Interp &in, A a) {
    return radix(in, a, true);
}
Value fOct(Interp &in, A a) {
    return radix(in, a, false);
}

// ---------------------------------------------------------------- conversions and math

Value fCStr(Interp &in, A a) {
    if (arg(a, 0).isString())
        return arg(a, 0);
    return Value::str(str(in, a, 0));
}
Value fCInt(Interp &in, A a) {
    return Value::integer(toInteger(in, arg(a, 0)));
}
Value fCLng(Interp &in, A a) {
    return Value::lng(toLong(in, arg(a, 0)));
}
Value fCDbl(Interp &in, A a) {
    return Value::dbl(dbl(in, a, 0));
}
Value fCSng(Interp &in, A a) {
    double d = dbl(in, a, 0);
    if (std::fabs(d) > 3.402823466e38)
        raise(err::Overflow);
    return Value::single(static_cast<float>(d));
}
Value fCBool(Interp &in, A a) {
    return Value::boolean(toBool(in, arg(a, 0)));
}
Value fCByte(Interp &in, A a) {
    if (arg(a, 0).type() == VType::Boolean) // True is all bits set: 255
        return Value::byte(arg(a, 0).b() ? 255 : 0);
    double d = roundHalfEven(dbl(in, a, 0));
    if (d < 0 || d > 255)
        raise(err::Overflow);
    return Value::byte(static_cast<uint8_t>(d));
}
Value fCCur(Interp &in, A a) {
    return Value::currency(toCurrency(in, arg(a, 0)));
}
Value fCDate(Interp &in, A a) {
    return Value::date(toDate(in, arg(a, 0)));
}

Value keepType(const Value &v, double r) {
    switch (v.type()) {
    case VType::Empty:
        return Value::integer(0);
    case VType::Integer:
    case VType::Byte:
    case VType::Long:
    case VType::Boolean:
        return v.type() == VType::Boolean ? Value::integer(static_cast<int16_t>(r)) : v;
    case VType::Single:
        return Value::single(static_cast<float>(r));
    case VType::Currency:
        return Value::currency(static_cast<int64_t>(r * 10000));
    case VType::Date:
        return Value::date(r);
    default:
        return Value::dbl(r);
    }
}
Value fInt(Interp &in, A a) {
    const Value &v = arg(a, 0);
    if (v.isNull())
        return Value::null();
    return keepType(v.isString() ? Value::dbl(0) : v, std::floor(toDouble(in, v)));
}
Value fFix(Interp &in, A a) {
    const Value &v = arg(a, 0);
    if (v.isNull())
        return Value::null();
    return keepType(v.isString() ? Value::dbl(0) : v, std::trunc(toDouble(in, v)));
}
Value fRound(Interp &in, A a) {
    const Value &v = arg(a, 0);
    if (v.isNull())
        return Value::null();
    int32_t places = lngOr(in, a, 1, 0);
    if (places < 0)
        raise(err::InvalidCall);
    double d = toDouble(in, v);
    double r;
    if (places == 0) {
        r = roundHalfEven(d);
    } else {
        double m = libm::Pow(10.0, places);
        // Round the scaled value after trimming representation noise.
        double scaled = d * m;
        double nearest = std::nearbyint(scaled);
        if (std::fabs(scaled - nearest) < 1e-9 * std::max(1.0, std::fabs(scaled)))
            scaled = nearest;
        r = roundHalfEven(scaled) / m;
    }
    if (v.isInteger() || v.type() == VType::Boolean)
        return v; // a Boolean stays a Boolean
    if (v.type() == VType::Single)
        return Value::single(static_cast<float>(r));
    if (v.type() == VType::Currency)
        return Value::currency(static_cast<int64_t>(std::nearbyint(r * 10000)));
    return Value::dbl(r);
}
Value fAbs(Interp &in, A a) {
    const Value &v = arg(a, 0);
    if (v.isNull())
        return Value::null();
    if (v.isEmpty())
        return Value::integer(0);
    if (v.type() == VType::Integer)
        return v.i() == -32768 ? Value::lng(32768)
                               : Value::integer(static_cast<int16_t>(std::abs(v.i())));
    if (v.type() == VType::Long)
        return v.l() == INT32_MIN ? Value::dbl(2147483648.0) : Value::lng(std::abs(v.l()));
    if (v.type() == VType::Byte)
        return v;
    return keepType(v.isString() ? Value::dbl(0) : v, std::fabs(toDouble(in, v)));
}
Value fSgn(Interp &in, A a) {
    if (arg(a, 0).isNull())
        raise(err::InvalidNull);
    double d = dbl(in, a, 0);
    return Value::integer(static_cast<int16_t>(d > 0 ? 1 : d < 0 ? -1 : 0));
}
Value mathResult(double r) {
    if (std::isnan(r) || std::isinf(r))
        raise(err::Overflow);
    return Value::dbl(r);
}
Value fSqr(Interp &in, A a) {
    double d = dbl(in, a, 0);
    if (d < 0)
        raise(err::InvalidCall);
    return Value::dbl(libm::Sqrt(d));
}
Value fExp(Interp &in, A a) {
    return mathResult(libm::Exp(dbl(in, a, 0)));
}
Value fLog(Interp &in, A a) {
    double d = dbl(in, a, 0);
    if (d <= 0)
        raise(err::InvalidCall);
    return Value::dbl(libm::Log(d));
}
Value fSin(Interp &in, A a) {
    return mathResult(libm::Sin(dbl(in, a, 0)));
}
Value fCos(Interp &in, A a) {
    return mathResult(libm::Cos(dbl(in, a, 0)));
}
Value fTan(Interp &in, A a) {
    return mathResult(libm::Tan(dbl(in, a, 0)));
}
Value fAtn(Interp &in, A a) {
    return mathResult(libm::Atan(dbl(in, a, 0)));
}

// The generator is the language's own: a 24-bit linear congruential sequence whose state is
// the last number returned (times 2^24).
float rndValue(const Interp &in) {
    return static_cast<float>(in.rndState) / 16777216.0f;
}
float nextRnd(Interp &in) {
    in.rndState = (in.rndState * 1140671485u + 12820163u) & 0xFFFFFFu;
    return rndValue(in);
}
Value fRnd(Interp &in, A a) {
    if (has(a, 0)) {
        double d = dbl(in, a, 0);
        if (d == 0) // the last number again (the initial state before any call)
            return Value::single(rndValue(in));
        if (d < 0) {
            float f = static_cast<float>(d);
            uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            in.rndState = (bits + (bits >> 24)) & 0xFFFFFFu;
        }
    }
    return Value::single(nextRnd(in));
}
Value fRandomize(Interp &in, A a) {
    double seed;
    if (has(a, 0)) {
        seed = dbl(in, a, 0);
    } else {
        auto now = std::chrono::system_clock::now().time_since_epoch();
        seed =
            static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(now).count() %
                                86400000000LL) /
            1e6;
    }
    // The high word of the seed's Double, folded to 16 bits, replaces the middle bits of the
    // state; its lowest byte stays.
    uint64_t bits;
    std::memcpy(&bits, &seed, sizeof bits);
    uint32_t hi = static_cast<uint32_t>(bits >> 32);
    uint32_t fold = (hi ^ (hi >> 16)) & 0xFFFFu;
    in.rndState = (in.rndState & 0xFFu) | (fold << 8);
    return {};
}

// ---------------------------------------------------------------- inspection

std::u16string typeNameOf(const Value &v) {
    switch (v.type()) {
    case VType::Empty:
        return u"Empty";
    case VType::Null:
        return u"Null";
    case VType::Integer:
        return u"Integer";
    case VType::Long:
        return u"Long";
    case VType::Single:
        return u"Single";
    case VType::Double:
        return u"Double";
    case VType::Currency:
        return u"Currency";
    case VType::Date:
        return u"Date";
    case VType::String:
        return u"String";
    case VType::Boolean:
        return u"Boolean";
    case VType::Byte:
        return u"Byte";
    case VType::Error:
        return u"Error";
    case VType::Array:
        return v.a()->bytes ? u"Byte()" : u"Variant()";
    case VType::Object:
        return v.o() ? v.o()->typeName() : u"Nothing";
    }
    return u"Unknown";
}

Value fTypeName(Interp &, A a) {
    return Value::str(typeNameOf(arg(a, 0)));
}
Value fVarType(Interp &, A a) {
    const Value &v = arg(a, 0);
    if (v.isArray() && v.a()->bytes)
        return Value::integer(static_cast<int16_t>(kByteArrayVarType));
    return Value::integer(static_cast<int16_t>(static_cast<uint16_t>(v.type())));
}
Value fIsArray(Interp &, A a) {
    return Value::boolean(arg(a, 0).isArray());
}
Value fIsEmpty(Interp &, A a) {
    return Value::boolean(arg(a, 0).isEmpty());
}
Value fIsNull(Interp &, A a) {
    return Value::boolean(arg(a, 0).isNull());
}
Value fIsObject(Interp &, A a) {
    return Value::boolean(arg(a, 0).isObject());
}
Value fIsNumeric(Interp &in, A a) {
    const Value &v = arg(a, 0);
    switch (v.type()) {
    case VType::String: {
        double d;
        return Value::boolean(parseNumber(v.s(), d));
    }
    case VType::Null:
    case VType::Array:
    case VType::Date:
    case VType::Error:
        return Value::boolean(false);
    case VType::Object:
        try {
            Value s = scalar(in, v);
            return Value::boolean(s.isNumeric() && s.type() != VType::Date);
        } catch (const ScriptError &e) {
            if (e.fatal)
                throw;
            return Value::boolean(false);
        }
    default:
        return Value::boolean(true);
    }
}
Value fIsDate(Interp &, A a) {
    const Value &v = arg(a, 0);
    if (v.type() == VType::Date)
        return Value::boolean(true);
    double d;
    return Value::boolean(v.isString() && parseDate(v.s(), d));
}

// ---------------------------------------------------------------- arrays

Value fArray(Interp &, A a) {
    std::vector<Value> items;
    items.reserve(a.size());
    for (auto *p : a)
        items.push_back(isMissing(*p) ? Value() : *p);
    return makeArray(std::move(items));
}
Value bound(Interp &in, A a, bool upper) {
    const Value &v = arg(a, 0);
    if (!v.isArray())
        raise(err::TypeMismatch);
    int32_t d = lngOr(in, a, 1, 1);
    const ArrayRep *r = v.a();
    if (d < 1 || static_cast<size_t>(d) > r->dims.size())
        raise(err::Subscript);
    return Value::lng(upper ? r->dims[static_cast<size_t>(d - 1)] - 1 : 0);
}
Value fUBound(Interp &in, A a) {
    return bound(in, a, true);
}
Value fLBound(Interp &in, A a) {
    return bound(in, a, false);
}

// ---------------------------------------------------------------- dates

double serialOf(const LocalTime &t) {
    return makeDate(t.year, t.month, t.day) +
           (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
}
double nowSerial() {
    return serialOf(localNow());
}
Value fNow(Interp &, A) {
    return Value::date(nowSerial());
}
Value fDate(Interp &, A) {
    return Value::date(std::floor(nowSerial()));
}
Value fTime(Interp &, A) {
    double n = nowSerial();
    return Value::date(n - std::floor(n));
}
Value fTimer(Interp &, A) {
    // Seconds and their fraction from one reading, so the value never steps back at a second.
    const LocalTime t = localNow();
    return Value::single(
        static_cast<float>(t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0));
}
int datePart(Interp &in, A a, char which) {
    double d = toDate(in, arg(a, 0));
    int y, m, dd, h, mi, s;
    splitDate(d, y, m, dd);
    splitTime(d, h, mi, s);
    switch (which) {
    case 'y':
        return y;
    case 'm':
        return m;
    case 'd':
        return dd;
    case 'h':
        return h;
    case 'n':
        return mi;
    default:
        return s;
    }
}
Value datePartOrNull(Interp &in, A a, char which) {
    if (arg(a, 0).isNull())
        return Value::null();
    return Value::integer(static_cast<int16_t>(datePart(in, a, which)));
}
Value fYear(Interp &in, A a) {
    return datePartOrNull(in, a, 'y');
}
Value fMonth(Interp &in, A a) {
    return datePartOrNull(in, a, 'm');
}
Value fDay(Interp &in, A a) {
    return datePartOrNull(in, a, 'd');
}
Value fHour(Interp &in, A a) {
    return datePartOrNull(in, a, 'h');
}
Value fMinute(Interp &in, A a) {
    return datePartOrNull(in, a, 'n');
}
Value fSecond(Interp &in, A a) {
    return datePartOrNull(in, a, 's');
}
// First day of the week for "use the system's setting" (0): the engine presents itself as a
// Chinese (PRC) system, whose weeks start on Monday. Fixed, whatever the host's locale is.
constexpr int kSystemFirstDay = 2;

int weekdayFrom(double serial, int first) {
    if (first == 0)
        first = kSystemFirstDay;
    return (weekdayOf(serial) - first + 7) % 7 + 1;
}
Value fWeekday(Interp &in, A a) {
    int first = lngOr(in, a, 1, 1);
    if (first < 0 || first > 7)
        raise(err::InvalidCall);
    if (arg(a, 0).isNull())
        return Value::null();
    return Value::integer(static_cast<int16_t>(weekdayFrom(toDate(in, arg(a, 0)), first)));
}
const char *const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char *const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};
Value fMonthName(Interp &in, A a) {
    bool abbreviate = has(a, 1) && toBool(in, arg(a, 1)); // read first: Null is error 94
    int m = lng(in, a, 0);
    if (m < 1 || m > 12)
        raise(err::InvalidCall);
    std::string s = kMonths[m - 1];
    if (abbreviate)
        s = s.substr(0, 3);
    return Value::ascii(s);
}
Value fWeekdayName(Interp &in, A a) {
    int w = lng(in, a, 0);
    if (w < 1 || w > 7)
        raise(err::InvalidCall);
    int first = lngOr(in, a, 2, 1);
    if (first < 0 || first > 7)
        raise(err::InvalidCall);
    if (first == 0)
        first = kSystemFirstDay;
    std::string s = kDays[(w - 1 + first - 1) % 7];
    if (has(a, 1) && toBool(in, arg(a, 1)))
        s = s.substr(0, 3);
    return Value::ascii(s);
}
int fixYear2(int y) {
    return y >= 0 && y < 30 ? 2000 + y : y >= 30 && y < 100 ? 1900 + y : y;
}
Value fDateSerial(Interp &in, A a) {
    int y = fixYear2(toInteger(in, arg(a, 0)));
    double d = makeDate(y, toLong(in, arg(a, 1)), toLong(in, arg(a, 2)));
    if (d < -657434.0 || d > 2958465.0)
        raise(err::InvalidCall);
    return Value::date(d);
}
Value fTimeSerial(Interp &in, A a) {
    double secs =
        toLong(in, arg(a, 0)) * 3600.0 + toLong(in, arg(a, 1)) * 60.0 + toLong(in, arg(a, 2));
    return Value::date(secs / 86400.0);
}
Value fDateValue(Interp &in, A a) {
    return Value::date(std::trunc(toDate(in, arg(a, 0))));
}
Value fTimeValue(Interp &in, A a) {
    double d = toDate(in, arg(a, 0));
    return Value::date(std::fabs(d - std::trunc(d)));
}

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };
Interval intervalOf(Interp &in, const Value &v) {
    std::u16string s = lowerAscii(TextOf(in, v));
    if (s == u"yyyy")
        return Interval::Year;
    if (s == u"q")
        return Interval::Quarter;
    if (s == u"m")
        return Interval::Month;
    if (s == u"y")
        return Interval::DayOfYear;
    if (s == u"d")
        return Interval::Day;
    if (s == u"w")
        return Interval::Weekday;
    if (s == u"ww")
        return Interval::Week;
    if (s == u"h")
        return Interval::Hour;
    if (s == u"n")
        return Interval::Minute;
    if (s == u"s")
        return Interval::Second;
    raise(err::InvalidCall);
}
Value fDateAdd(Interp &in, A a) {
    Interval iv = intervalOf(in, arg(a, 0));
    double n = std::trunc(dbl(in, a, 1));
    if (arg(a, 2).isNull())
        return Value::null();
    double d = toDate(in, arg(a, 2));
    // No interval count this large stays inside the calendar (and it must fit the arithmetic).
    if (!(std::fabs(n) < 1e12))
        raise(err::InvalidCall);
    double r;
    switch (iv) {
    case Interval::Year:
    case Interval::Quarter:
    case Interval::Month: {
        int y, m, dd;
        splitDate(d, y, m, dd);
        int64_t months = static_cast<int64_t>(n) * (iv == Interval::Year      ? 12
                                                    : iv == Interval::Quarter ? 3
                                                                              : 1);
        int64_t total = static_cast<int64_t>(y) * 12 + (m - 1) + months;
        int64_t ny = total >= 0 ? total / 12 : -((11 - total) / 12);
        int nm = static_cast<int>(total - ny * 12) + 1;
        // Clamp the day to the length of the target month.
        double firstNext = makeDate(ny, nm + 1, 1), first = makeDate(ny, nm, 1);
        int len = static_cast<int>(firstNext - first);
        double base = first + std::min(dd, len) - 1;
        double frac = std::fabs(d - std::trunc(d));
        r = base + (base < 0 ? -frac : frac);
        break;
    }
    case Interval::DayOfYear:
    case Interval::Day:
    case Interval::Weekday:
        r = d + n;
        break;
    case Interval::Week:
        r = d + n * 7;
        break;
    case Interval::Hour:
        r = d + n / 24.0;
        break;
    case Interval::Minute:
        r = d + n / 1440.0;
        break;
    default:
        r = d + n / 86400.0;
        break;
    }
    if (r < -657434.0 || r > 2958466.0)
        raise(err::InvalidCall);
    return Value::date(r);
}
int64_t secondsOf(double d) {
    int h, m, s;
    splitTime(d, h, m, s);
    double day = std::trunc(d);
    return static_cast<int64_t>(day) * 86400 + (d < 0 ? -1 : 1) * (h * 3600 + m * 60 + s);
}
Value fDateDiff(Interp &in, A a) {
    Interval iv = intervalOf(in, arg(a, 0));
    double d1 = toDate(in, arg(a, 1)), d2 = toDate(in, arg(a, 2));
    int firstDay = lngOr(in, a, 3, 1);
    int y1, m1, dd1, y2, m2, dd2;
    splitDate(d1, y1, m1, dd1);
    splitDate(d2, y2, m2, dd2);
    int64_t r;
    switch (iv) {
    case Interval::Year:
        r = y2 - y1;
        break;
    case Interval::Quarter:
        r = (y2 * 4 + (m2 - 1) / 3) - (y1 * 4 + (m1 - 1) / 3);
        break;
    case Interval::Month:
        r = (y2 * 12 + m2) - (y1 * 12 + m1);
        break;
    case Interval::DayOfYear:
    case Interval::Day:
        r = static_cast<int64_t>(std::floor(d2)) - static_cast<int64_t>(std::floor(d1));
        break;
    case Interval::Weekday:
        r = (static_cast<int64_t>(std::floor(d2)) - static_cast<int64_t>(std::floor(d1))) / 7;
        break;
    case Interval::Week: {
        // Number of week starts (firstDay) crossed.
        auto weekIndex = [&](double d) {
            int64_t day = static_cast<int64_t>(std::floor(d));
            int wd = weekdayFrom(static_cast<double>(day), firstDay) - 1;
            int64_t start = day - wd;
            return start >= 0 ? start / 7 : -((6 - start) / 7);
        };
        r = weekIndex(d2) - weekIndex(d1);
        break;
    }
    case Interval::Hour:
        r = secondsOf(d2) / 3600 - secondsOf(d1) / 3600;
        break;
    case Interval::Minute:
        r = secondsOf(d2) / 60 - secondsOf(d1) / 60;
        break;
    default:
        r = secondsOf(d2) - secondsOf(d1);
        break;
    }
    if (r > INT32_MAX || r < INT32_MIN)
        return Value::dbl(static_cast<double>(r));
    return Value::lng(static_cast<int32_t>(r));
}
Value fDatePart(Interp &in, A a) {
    Interval iv = intervalOf(in, arg(a, 0));
    double d = toDate(in, arg(a, 1));
    int firstDay = lngOr(in, a, 2, 1);
    int y, m, dd, h, mi, s;
    splitDate(d, y, m, dd);
    splitTime(d, h, mi, s);
    int r;
    switch (iv) {
    case Interval::Year:
        r = y;
        break;
    case Interval::Quarter:
        r = (m - 1) / 3 + 1;
        break;
    case Interval::Month:
        r = m;
        break;
    case Interval::DayOfYear:
        r = static_cast<int>(std::floor(d) - makeDate(y, 1, 1)) + 1;
        break;
    case Interval::Day:
        r = dd;
        break;
    case Interval::Weekday:
        r = weekdayFrom(d, firstDay);
        break;
    case Interval::Week: {
        double jan1 = makeDate(y, 1, 1);
        int offset = weekdayFrom(jan1, firstDay) - 1;
        r = static_cast<int>((std::floor(d) - jan1 + offset) / 7) + 1;
        break;
    }
    case Interval::Hour:
        r = h;
        break;
    case Interval::Minute:
        r = mi;
        break;
    default:
        r = s;
        break;
    }
    return Value::integer(static_cast<int16_t>(r));
}

// ---------------------------------------------------------------- formatting

std::u16string groupDigits(const std::string &digits) {
    std::string out;
    int n = static_cast<int>(digits.size());
    for (int i = 0; i < n; ++i) {
        out.push_back(digits[static_cast<size_t>(i)]);
        int left = n - 1 - i;
        if (left > 0 && left % 3 == 0)
            out.push_back(',');
    }
    return asciiToU16(out);
}
std::u16string formatFixed(double d, int places, bool leadingZero, bool parens, bool group) {
    bool neg = d < 0;
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", places, std::fabs(d));
    std::string s = buf;
    size_t dot = s.find('.');
    std::string ip = dot == std::string::npos ? s : s.substr(0, dot);
    std::string fp = dot == std::string::npos ? "" : s.substr(dot);
    if (ip == "0" && !leadingZero && !fp.empty())
        ip.clear();
    std::u16string out = group ? groupDigits(ip) : asciiToU16(ip);
    out += asciiToU16(fp);
    bool isZero = true;
    for (char c : s)
        if (c >= '1' && c <= '9')
            isZero = false;
    if (neg && !isZero)
        out = parens ? u"(" + out + u")" : u"-" + out;
    return out;
}
int tristate(Interp &in, A a, size_t i, int def) {
    if (!has(a, i))
        return def;
    int v = lng(in, a, i);
    return v == -2 ? def : v != 0;
}
Value fFormatNumber(Interp &in, A a) {
    if (arg(a, 0).isNull())
        raise(err::TypeMismatch);
    double d = dbl(in, a, 0);
    int places = lngOr(in, a, 1, -1);
    if (places == -1)
        places = 2;
    if (places < 0 || places > 255)
        raise(err::InvalidCall);
    return Value::str(formatFixed(d, places, tristate(in, a, 2, 1), tristate(in, a, 3, 0),
                                  tristate(in, a, 4, 1)));
}
Value fFormatCurrency(Interp &in, A a) {
    std::u16string s = fFormatNumber(in, a).s();
    if (!s.empty() && s[0] == u'-')
        return Value::str(u"-\u00A5" + s.substr(1));
    if (!s.empty() && s[0] == u'(')
        return Value::str(u"(\u00A5" + s.substr(1));
    return Value::str(u"\u00A5" + s);
}
Value fFormatPercent(Interp &in, A a) {
    if (arg(a, 0).isNull())
        raise(err::TypeMismatch);
    double d = dbl(in, a, 0) * 100.0;
    int places = lngOr(in, a, 1, -1);
    if (places == -1)
        places = 2;
    if (places < 0 || places > 255)
        raise(err::InvalidCall);
    return Value::str(formatFixed(d, places, tristate(in, a, 2, 1), tristate(in, a, 3, 0),
                                  tristate(in, a, 4, 1)) +
                      u"%");
}
Value fFormatDateTime(Interp &in, A a) {
    if (arg(a, 0).isNull())
        raise(err::TypeMismatch);
    double d = toDate(in, arg(a, 0));
    int fmt = lngOr(in, a, 1, 0);
    int y, m, dd, h, mi, s;
    splitDate(d, y, m, dd);
    splitTime(d, h, mi, s);
    char buf[64];
    switch (fmt) {
    case 0:
        return Value::str(formatDate(d));
    case 1:
        // Long date: year, month and day with the Chinese unit characters.
        return Value::str(asciiToU16(std::to_string(y)) + u"\u5E74" +
                          asciiToU16(std::to_string(m)) + u"\u6708" +
                          asciiToU16(std::to_string(dd)) + u"\u65E5");
    case 2:
        std::snprintf(buf, sizeof buf, "%d/%d/%d", y, m, dd);
        return Value::ascii(buf);
    case 3:
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d", h, mi, s);
        return Value::ascii(buf);
    case 4:
        std::snprintf(buf, sizeof buf, "%02d:%02d", h, mi);
        return Value::ascii(buf);
    default:
        raise(err::InvalidCall);
    }
}

// ---------------------------------------------------------------- objects, code, UI

// A text argument that may be left out (empty then).
std::u16string optionalStr(Interp &in, A a, size_t i) {
    return has(a, i) ? str(in, a, i) : std::u16string();
}
Value fCreateObject(Interp &in, A a) {
    return in.createObject(str(in, a, 0), optionalStr(in, a, 1));
}
Value fGetObject(Interp &in, A a) {
    return in.getObject(optionalStr(in, a, 0), optionalStr(in, a, 1));
}
Value fGetRef(Interp &in, A a) {
    auto it = in.procs.find(lowerAscii(str(in, a, 0)));
    if (it == in.procs.end())
        raise(err::InvalidCall);
    return Value::object(new ProcRef(*it->second));
}
Value fErr(Interp &in, A) {
    return in.errObject;
}
Value fEval(Interp &in, A a) {
    return in.evalLocal(str(in, a, 0));
}
Value fExecute(Interp &in, A a) {
    in.execLocal(str(in, a, 0));
    return {};
}
Value fExecuteGlobal(Interp &in, A a) {
    in.execGlobal(str(in, a, 0));
    return {};
}
Value fScriptEngine(Interp &, A) {
    return Value::str(u"VBScript");
}
Value fMajor(Interp &, A) {
    return Value::lng(5);
}
Value fMinor(Interp &, A) {
    return Value::lng(8);
}
Value fBuild(Interp &, A) {
    return Value::lng(1);
}
Value fRGB(Interp &in, A a) {
    auto c = [&](size_t i) {
        int32_t v = lng(in, a, i);
        if (v < 0)
            raise(err::InvalidCall);
        return std::min(v, 255);
    };
    return Value::lng(c(0) | (c(1) << 8) | (c(2) << 16));
}
Value fMsgBox(Interp &in, A a) {
    if (!in.allowUI)
        raise(err::PermissionDenied);
    std::u16string prompt = toStr(in, arg(a, 0), true);
    int buttons = lngOr(in, a, 1, 0);
    std::u16string title = has(a, 2) ? toStr(in, arg(a, 2), true) : u"VBScript";
    int r = in.dialogs ? in.dialogs->messageBox(prompt, buttons, title) : 1;
    return Value::integer(static_cast<int16_t>(r));
}
Value fInputBox(Interp &in, A a) {
    if (!in.allowUI)
        raise(err::PermissionDenied);
    std::u16string prompt = toStr(in, arg(a, 0), true);
    std::u16string title = has(a, 1) ? toStr(in, arg(a, 1), true) : u"VBScript";
    std::u16string text = has(a, 2) ? toStr(in, arg(a, 2), true) : u"";
    if (in.dialogs && !in.dialogs->inputBox(prompt, title, text))
        return Value::str(u"");
    return Value::str(std::move(text));
}
Value fEscape(Interp &in, A a) {
    TextOf s = textArg(in, a, 0);
    std::u16string out;
    static const char *hex = "0123456789ABCDEF";
    for (char16_t c : s) {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
            std::u16string_view(u"@*_+-./").find(c) != std::u16string_view::npos) {
            out.push_back(c);
        } else if (c < 0x100) {
            out += u'%';
            out.push_back(static_cast<char16_t>(hex[c >> 4]));
            out.push_back(static_cast<char16_t>(hex[c & 15]));
        } else {
            out += u"%u";
            for (int sh = 12; sh >= 0; sh -= 4)
                out.push_back(static_cast<char16_t>(hex[(c >> sh) & 15]));
        }
    }
    return Value::str(std::move(out));
}
Value fUnescape(Interp &in, A a) {
    TextOf s = textArg(in, a, 0);
    std::u16string out;
    auto hv = [](char16_t c) -> int {
        if (c >= u'0' && c <= u'9')
            return c - u'0';
        if (c >= u'a' && c <= u'f')
            return c - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'%' && i + 5 < s.size() + 0 && (s[i + 1] == u'u' || s[i + 1] == u'U')) {
            int v = 0;
            bool ok = true;
            for (int k = 2; k < 6; ++k) {
                int h = hv(s[i + static_cast<size_t>(k)]);
                ok = ok && h >= 0;
                v = v * 16 + h;
            }
            if (ok) {
                out.push_back(static_cast<char16_t>(v));
                i += 5;
                continue;
            }
        }
        if (s[i] == u'%' && i + 2 < s.size() && hv(s[i + 1]) >= 0 && hv(s[i + 2]) >= 0) {
            out.push_back(static_cast<char16_t>(hv(s[i + 1]) * 16 + hv(s[i + 2])));
            i += 2;
            continue;
        }
        out.push_back(s[i]);
    }
    return Value::str(std::move(out));
}

const Builtin kBuiltins[] = {
    {u"abs", fAbs, 1, 1},
    {u"array", fArray, 0, -1},
    {u"asc", fAsc, 1, 1},
    {u"ascb", fAsc, 1, 1},
    {u"ascw", fAscW, 1, 1},
    {u"atn", fAtn, 1, 1},
    {u"cbool", fCBool, 1, 1},
    {u"cbyte", fCByte, 1, 1},
    {u"ccur", fCCur, 1, 1},
    {u"cdate", fCDate, 1, 1},
    {u"cdbl", fCDbl, 1, 1},
    {u"chr", fChr, 1, 1},
    {u"chrb", fChr, 1, 1},
    {u"chrw", fChrW, 1, 1},
    {u"cint", fCInt, 1, 1},
    {u"clng", fCLng, 1, 1},
    {u"cos", fCos, 1, 1},
    {u"createobject", fCreateObject, 1, 2},
    {u"csng", fCSng, 1, 1},
    {u"cstr", fCStr, 1, 1},
    {u"date", fDate, 0, 0},
    {u"dateadd", fDateAdd, 3, 3},
    {u"datediff", fDateDiff, 3, 5},
    {u"datepart", fDatePart, 2, 4},
    {u"dateserial", fDateSerial, 3, 3},
    {u"datevalue", fDateValue, 1, 1},
    {u"day", fDay, 1, 1},
    {u"err", fErr, 0, 0},
    {u"escape", fEscape, 1, 1},
    {u"eval", fEval, 1, 1},
    {u"execute", fExecute, 1, 1},
    {u"executeglobal", fExecuteGlobal, 1, 1},
    {u"exp", fExp, 1, 1},
    {u"filter", fFilter, 2, 4},
    {u"fix", fFix, 1, 1},
    {u"formatcurrency", fFormatCurrency, 1, 5},
    {u"formatdatetime", fFormatDateTime, 1, 2},
    {u"formatnumber", fFormatNumber, 1, 5},
    {u"formatpercent", fFormatPercent, 1, 5},
    {u"getobject", fGetObject, 0, 2},
    {u"getref", fGetRef, 1, 1},
    {u"hex", fHex, 1, 1},
    {u"hour", fHour, 1, 1},
    {u"inputbox", fInputBox, 1, 7},
    {u"instr", fInStr, 2, 4},
    {u"instrrev", fInStrRev, 2, 4},
    {u"int", fInt, 1, 1},
    {u"isarray", fIsArray, 1, 1},
    {u"isdate", fIsDate, 1, 1},
    {u"isempty", fIsEmpty, 1, 1},
    {u"isnull", fIsNull, 1, 1},
    {u"isnumeric", fIsNumeric, 1, 1},
    {u"isobject", fIsObject, 1, 1},
    {u"join", fJoin, 1, 2},
    {u"lbound", fLBound, 1, 2},
    {u"lcase", fLCase, 1, 1},
    {u"left", fLeft, 2, 2},
    {u"leftb", fLeft, 2, 2},
    {u"len", fLen, 1, 1},
    {u"lenb", fLenB, 1, 1},
    {u"log", fLog, 1, 1},
    {u"ltrim", fLTrim, 1, 1},
    {u"mid", fMid, 2, 3},
    {u"midb", fMid, 2, 3},
    {u"minute", fMinute, 1, 1},
    {u"month", fMonth, 1, 1},
    {u"monthname", fMonthName, 1, 2},
    {u"msgbox", fMsgBox, 1, 5},
    {u"now", fNow, 0, 0},
    {u"oct", fOct, 1, 1},
    {u"randomize", fRandomize, 0, 1},
    {u"replace", fReplace, 3, 6},
    {u"rgb", fRGB, 3, 3},
    {u"right", fRight, 2, 2},
    {u"rightb", fRight, 2, 2},
    {u"rnd", fRnd, 0, 1},
    {u"round", fRound, 1, 2},
    {u"rtrim", fRTrim, 1, 1},
    {u"scriptengine", fScriptEngine, 0, 0},
    {u"scriptenginebuildversion", fBuild, 0, 0},
    {u"scriptenginemajorversion", fMajor, 0, 0},
    {u"scriptengineminorversion", fMinor, 0, 0},
    {u"second", fSecond, 1, 1},
    {u"sgn", fSgn, 1, 1},
    {u"sin", fSin, 1, 1},
    {u"space", fSpace, 1, 1},
    {u"split", fSplit, 1, 4},
    {u"sqr", fSqr, 1, 1},
    {u"strcomp", fStrComp, 2, 3},
    {u"string", fString, 2, 2},
    {u"strreverse", fStrReverse, 1, 1},
    {u"tan", fTan, 1, 1},
    {u"time", fTime, 0, 0},
    {u"timer", fTimer, 0, 0},
    {u"timeserial", fTimeSerial, 3, 3},
    {u"timevalue", fTimeValue, 1, 1},
    {u"trim", fTrim, 1, 1},
    {u"typename", fTypeName, 1, 1},
    {u"ubound", fUBound, 1, 2},
    {u"ucase", fUCase, 1, 1},
    {u"unescape", fUnescape, 1, 1},
    {u"vartype", fVarType, 1, 1},
    {u"weekday", fWeekday, 1, 2},
    {u"weekdayname", fWeekdayName, 1, 3},
    {u"year", fYear, 1, 1},
};

struct Constant {
    std::u16string_view name;
    int32_t value;
    bool isLong = false; // a Long even where an Integer would hold the value (colours)
};

const Constant kIntConstants[] = {
    {u"vbabort", 3},
    {u"vbabortretryignore", 2},
    {u"vbapplicationmodal", 0},
    {u"vbarray", 8192},
    {u"vbbinarycompare", 0},
    {u"vbblack", 0, true},
    {u"vbblue", 0xFF0000, true},
    {u"vbboolean", 11},
    {u"vbbyte", 17},
    {u"vbcancel", 2},
    {u"vbcritical", 16},
    {u"vbcurrency", 6},
    {u"vbcyan", 0xFFFF00, true},
    {u"vbdataobject", 13},
    {u"vbdatabasecompare", 2},
    {u"vbdate", 7},
    {u"vbdecimal", 14},
    {u"vbdefaultbutton1", 0},
    {u"vbdefaultbutton2", 256},
    {u"vbdefaultbutton3", 512},
    {u"vbdefaultbutton4", 768},
    {u"vbdouble", 5},
    {u"vbempty", 0},
    {u"vberror", 10},
    {u"vbexclamation", 48},
    {u"vbfalse", 0},
    {u"vbfirstfourdays", 2},
    {u"vbfirstfullweek", 3},
    {u"vbfirstjan1", 1},
    {u"vbfriday", 6},
    {u"vbgeneraldate", 0},
    {u"vbgreen", 0x00FF00, true},
    {u"vbignore", 5},
    {u"vbinformation", 64},
    {u"vbinteger", 2},
    {u"vblong", 3},
    {u"vblongdate", 1},
    {u"vblongtime", 3},
    {u"vbmagenta", 0xFF00FF, true},
    {u"vbmonday", 2},
    {u"vbmsgboxhelpbutton", 16384, true},
    {u"vbmsgboxright", 524288},
    {u"vbmsgboxrtlreading", 1048576},
    {u"vbmsgboxsetforeground", 65536},
    {u"vbno", 7},
    {u"vbnull", 1},
    {u"vbobject", 9},
    {u"vbobjecterror", static_cast<int32_t>(0x80040000)},
    {u"vbok", 1},
    {u"vbokcancel", 1},
    {u"vbokonly", 0},
    {u"vbquestion", 32},
    {u"vbred", 0x0000FF, true},
    {u"vbretry", 4},
    {u"vbretrycancel", 5},
    {u"vbsaturday", 7},
    {u"vbshortdate", 2},
    {u"vbshorttime", 4},
    {u"vbsingle", 4},
    {u"vbstring", 8},
    {u"vbsunday", 1},
    {u"vbsystemmodal", 4096},
    {u"vbtextcompare", 1},
    {u"vbthursday", 5},
    {u"vbtrue", -1},
    {u"vbtuesday", 3},
    {u"vbusedefault", -2},
    {u"vbusesystem", 0},
    {u"vbusesystemdayofweek", 0},
    {u"vbvariant", 12},
    {u"vbwednesday", 4},
    {u"vbwhite", 0xFFFFFF, true},
    {u"vbyellow", 0x00FFFF, true},
    {u"vbyes", 6},
    {u"vbyesno", 4},
    {u"vbyesnocancel", 3},
};

} // namespace

const Builtin *findBuiltin(std::u16string_view lname) {
    auto it = std::lower_bound(std::begin(kBuiltins), std::end(kBuiltins), lname,
                               [](const Builtin &b, std::u16string_view n) { return b.name < n; });
    if (it != std::end(kBuiltins) && it->name == lname)
        return &*it;
    return nullptr;
}

bool findConstant(std::u16string_view lname, Value &out) {
    if (lname == u"vbcrlf" || lname == u"vbnewline") {
        out = Value::str(u"\r\n");
        return true;
    }
    if (lname == u"vbcr") {
        out = Value::str(u"\r");
        return true;
    }
    if (lname == u"vblf") {
        out = Value::str(u"\n");
        return true;
    }
    if (lname == u"vbtab") {
        out = Value::str(u"\t");
        return true;
    }
    if (lname == u"vbnullstring") {
        out = Value::str(u"");
        return true;
    }
    if (lname == u"vbnullchar") {
        out = Value::str(std::u16string(1, u'\0'));
        return true;
    }
    if (lname == u"vbformfeed") {
        out = Value::str(u"\f");
        return true;
    }
    if (lname == u"vbverticaltab") {
        out = Value::str(u"\v");
        return true;
    }
    for (const auto &c : kIntConstants) {
        if (c.name == lname) {
            if (!c.isLong && c.value >= -32768 && c.value <= 32767)
                out = Value::integer(static_cast<int16_t>(c.value));
            else
                out = Value::lng(c.value);
            return true;
        }
    }
    return false;
}

} // namespace kestrun::vbscript
