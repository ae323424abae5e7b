// Values of the script language: a tagged variant with reference-counted strings, arrays and
// objects. Counting is not atomic: every interpreter lives on one thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrun::vbscript {

class Interp;
class Value;

// Variant subtypes, numbered as VarType reports them.
enum class VType : uint16_t {
    Empty = 0,
    Null = 1,
    Integer = 2,
    Long = 3,
    Single = 4,
    Double = 5,
    Currency = 6,
    Date = 7,
    String = 8,
    Object = 9,
    Error = 10,
    Boolean = 11,
    Byte = 17,
    Array = 8204, // array of variants
};
// VarType of a Byte() array.
inline constexpr uint16_t kByteArrayVarType = 8209;

struct StrRep {
    int refs = 1;
    std::u16string text;
};

struct ArrayRep {
    int refs = 1;
    int locks = 0; // elements passed by reference to a running call

    bool fixed = false;        // declared with bounds by Dim: ReDim refuses it
    std::vector<int32_t> dims; // element count per dimension (upper bound + 1)
    std::vector<Value> data;   // first subscript varies fastest
    // A Byte() array (binary data from streams and HTTP responses): VarType reports vbArray +
    // vbByte and hosts receive it as an array of bytes. Its elements are Byte values.
    bool bytes = false;
};

// Arguments reach procedures and members as pointers: to the caller's variable when passed by
// reference, to a temporary otherwise.
using Args = std::span<Value *const>;

// Base of every script-visible object (class instances, Dictionary, RegExp, Err, ...).
class Object {
public:
    Object() = default;
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;
    virtual ~Object() = default;

    int refs = 0;

    virtual std::u16string typeName() const = 0;
    // Reads a property or calls a method; `name` is lower case, empty for the default member.
    virtual Value get(Interp &in, std::u16string_view name, Args args);
    // Assigns a property (Let, or Set when isSet).
    virtual void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet);
    // Items for For Each; error 451 when the object is not a collection.
    virtual std::vector<Value> enumerate(Interp &in);
    // Called when the last reference goes away, before deletion (Class_Terminate).
    virtual void terminate() {}
};

void releaseObject(Object *o);
// Frees now what waits to be freed on this thread (values released while another release was
// in progress further up the stack). An engine calls it before it goes away, so that none of
// its objects outlives it when the engine's last owner lets go in the middle of a release (a
// component releasing the script objects it held).
void flushReleases();

// The longest text a script can build (256 Mi characters, 512 MiB): joining texts past it raises
// "Out of string space" instead of exhausting the host process's memory.
inline constexpr size_t kMaxTextLength = size_t{1} << 28;
// Raises error 14 when texts of lengths `a` and `b` together exceed kMaxTextLength.
void checkJoinedLength(size_t a, size_t b);

class Value {
public:
    Value() : type_(VType::Empty), raw_(0) {}
    ~Value() {
        if (counted())
            release();
    }
    Value(const Value &o) : type_(o.type_), raw_(o.raw_) {
        if (counted())
            retain();
    }
    Value(Value &&o) noexcept : type_(o.type_), raw_(o.raw_) { o.type_ = VType::Empty; }
    Value &operator=(const Value &o) {
        if (!counted() && !o.counted()) { // numbers: a plain copy
            type_ = o.type_;
            raw_ = o.raw_;
        } else if (this != &o) {
            Value tmp(o);
            swap(tmp);
        }
        return *this;
    }
    Value &operator=(Value &&o) noexcept {
        if (!counted()) {
            type_ = o.type_;
            raw_ = o.raw_;
            o.type_ = VType::Empty;
        } else if (this != &o) {
            Value tmp(std::move(o));
            swap(tmp);
        }
        return *this;
    }
    void swap(Value &o) noexcept {
        std::swap(type_, o.type_);
        std::swap(raw_, o.raw_);
    }

    static Value null() { return Value(VType::Null); }
    static Value boolean(bool b) { return Value(VType::Boolean, b ? 1u : 0u); }
    static Value byte(uint8_t x) { return Value(VType::Byte, x); }
    static Value integer(int16_t x) { return Value(VType::Integer, static_cast<uint16_t>(x)); }
    static Value lng(int32_t x) { return Value(VType::Long, static_cast<uint32_t>(x)); }
    static Value single(float x) { return Value(VType::Single, bitsOf(x)); }
    static Value dbl(double x) { return Value(VType::Double, bitsOf(x)); }
    static Value currency(int64_t scaled) {
        return Value(VType::Currency, static_cast<uint64_t>(scaled));
    }
    static Value date(double serial) { return Value(VType::Date, bitsOf(serial)); }
    static Value error(int32_t code) { return Value(VType::Error, static_cast<uint32_t>(code)); }
    static Value str(std::u16string s) {
        Value v(VType::String);
        v.s_ = new StrRep{1, std::move(s)};
        return v;
    }
    static Value str(std::u16string_view s) { return str(std::u16string(s)); }
    static Value str(const char16_t *s) { return str(std::u16string(s)); }
    static Value ascii(std::string_view s);
    static Value object(Object *o) { // takes a new reference
        Value v(VType::Object);
        v.o_ = o;
        if (o)
            ++o->refs;
        return v;
    }
    static Value nothing() { return object(nullptr); }
    static Value array(ArrayRep *a) { // adopts the reference
        Value v(VType::Array);
        v.a_ = a;
        return v;
    }

    VType type() const { return type_; }
    bool isEmpty() const { return type_ == VType::Empty; }
    bool isNull() const { return type_ == VType::Null; }
    bool isString() const { return type_ == VType::String; }
    bool isObject() const { return type_ == VType::Object; }
    bool isArray() const { return type_ == VType::Array; }
    bool isNumeric() const; // subtype is a number, Boolean, Date or Empty
    bool isInteger() const {
        return type_ == VType::Integer || type_ == VType::Long || type_ == VType::Byte;
    }

    int16_t i() const { return i_; }
    int32_t l() const { return l_; }
    float f() const { return f_; }
    double d() const { return d_; }
    int64_t cy() const { return cy_; }
    bool b() const { return b_; }
    uint8_t by() const { return by_; }
    const std::u16string &s() const { return s_->text; }
    Object *o() const { return o_; }
    ArrayRep *a() const { return a_; }

    // Integer value of Byte/Integer/Long.
    int32_t intValue() const {
        return type_ == VType::Long ? l_ : type_ == VType::Integer ? i_ : by_;
    }
    // Stores a number in place; compiled loops keep their counters and sums with these. A value
    // that holds a reference goes through assignment, which releases it safely.
    void setInteger(int16_t x) { setNumber(VType::Integer, static_cast<uint16_t>(x)); }
    void setLong(int32_t x) { setNumber(VType::Long, static_cast<uint32_t>(x)); }
    void setDouble(double x) { setNumber(VType::Double, bitsOf(x)); }
    // Makes the array uniquely owned so that it can be changed in place.
    ArrayRep *mutableArray();
    // A fixed-size array (from `Dim a(3)`) becomes an ordinary dynamic one: what a copy of it
    // stored in another variable is.
    void dropFixed() {
        if (type_ == VType::Array && a_->fixed)
            unfix();
    }
    // Makes the string uniquely owned for appending.
    std::u16string &mutableString();

private:
    explicit Value(VType t) : type_(t), raw_(0) {}
    // The payload is written as one 64-bit word so that a following copy of the whole value
    // can be forwarded from the store.
    Value(VType t, uint64_t raw) : type_(t), raw_(raw) {}
    template <class T> static uint64_t bitsOf(T x) {
        uint64_t r = 0;
        std::memcpy(&r, &x, sizeof x);
        return r;
    }
    bool counted() const {
        return type_ == VType::String || type_ == VType::Object || type_ == VType::Array;
    }
    void retain() {
        switch (type_) {
        case VType::String:
            ++s_->refs;
            break;
        case VType::Object:
            if (o_)
                ++o_->refs;
            break;
        case VType::Array:
            ++a_->refs;
            break;
        default:
            break;
        }
    }
    void setNumber(VType t, uint64_t raw) {
        if (counted()) {
            *this = Value(t, raw);
            return;
        }
        type_ = t;
        raw_ = raw;
    }
    void release(); // the last reference frees the payload
    void unfix();
    VType type_;
    union {
        int16_t i_;
        int32_t l_;
        float f_;
        double d_;
        int64_t cy_;
        bool b_;
        uint8_t by_;
        StrRep *s_;
        Object *o_;
        ArrayRep *a_;
        uint64_t raw_;
    };
};

// Lower-cases ASCII letters (names and keywords are case-insensitive).
std::u16string lowerAscii(std::u16string_view s);
std::u16string upperAscii(std::u16string_view s);
std::u16string asciiToU16(std::string_view s);
std::string u16ToUtf8(std::u16string_view s);
std::u16string utf8ToU16(std::string_view s);

} // namespace kestrun::vbscript
