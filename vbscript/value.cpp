#include "value.h"

#include "errors.h"
#include "kestrun/interop/codepage.h"

namespace kestrun::vbscript {

Value Object::get(Interp &, std::u16string_view, Args) {
    raise(err::NoMember);
}

void Object::put(Interp &, std::u16string_view, Args, const Value &, bool) {
    raise(err::NoMember);
}

std::vector<Value> Object::enumerate(Interp &) {
    raise(err::NotCollection);
}

namespace {

// Freeing a value frees what it holds, which would nest once per level for a long chain of
// objects or arrays (a linked list of a million nodes) and overflow the stack. Instead, what
// goes away while something else is being freed waits in a work list that the outermost free
// empties, one item at a time. The list belongs to the thread: values never cross threads.
struct Reaper {
    std::vector<Object *> objects;
    std::vector<ArrayRep *> arrays;
    bool active = false;
};
thread_local Reaper reaper;

void finishObject(Object *o) {
    // Class_Terminate may take and drop new references; keep the object alive meanwhile. What
    // the terminator releases goes at once, as the script expects (its nesting is bounded by the
    // engine's call depth).
    o->refs = 1;
    bool wasActive = reaper.active;
    reaper.active = false;
    try {
        o->terminate();
    } catch (...) {
        // An error inside a terminator is dropped, as the object is going away regardless.
    }
    reaper.active = wasActive;
    delete o;
}

void drain() {
    while (!reaper.objects.empty() || !reaper.arrays.empty()) {
        if (!reaper.arrays.empty()) {
            ArrayRep *a = reaper.arrays.back();
            reaper.arrays.pop_back();
            delete a;
        } else {
            Object *o = reaper.objects.back();
            reaper.objects.pop_back();
            finishObject(o);
        }
    }
}

template <class Finish> void dispose(Finish &&first) {
    if (reaper.active) {
        first(true);
        return;
    }
    reaper.active = true;
    first(false);
    drain();
    reaper.active = false;
}

void releaseArray(ArrayRep *a) {
    dispose([a](bool later) {
        if (later)
            reaper.arrays.push_back(a);
        else
            delete a;
    });
}

} // namespace

void releaseObject(Object *o) {
    dispose([o](bool later) {
        if (later)
            reaper.objects.push_back(o);
        else
            finishObject(o);
    });
}

void flushReleases() {
    if (!reaper.active)
        return; // nothing waits
    drain();
}

Value Value::ascii(std::string_view s) {
    return str(asciiToU16(s));
}

void Value::release() {
    switch (type_) {
    case VType::String:
        if (--s_->refs == 0)
            delete s_;
        break;
    case VType::Object:
        if (o_ && --o_->refs == 0)
            releaseObject(o_);
        break;
    case VType::Array:
        if (--a_->refs == 0)
            releaseArray(a_);
        break;
    default:
        break;
    }
}

bool Value::isNumeric() const {
    switch (type_) {
    case VType::Empty:
    case VType::Integer:
    case VType::Long:
    case VType::Single:
    case VType::Double:
    case VType::Currency:
    case VType::Date:
    case VType::Boolean:
    case VType::Byte:
        return true;
    default:
        return false;
    }
}

ArrayRep *Value::mutableArray() {
    // References held by locks (an element passed ByRef) do not count as sharing.
    if (a_->refs - a_->locks > 1) {
        auto *copy = new ArrayRep{1, 0, a_->fixed, a_->dims, a_->data, a_->bytes};
        --a_->refs;
        a_ = copy;
    }
    return a_;
}

void Value::unfix() {
    if (a_->refs > 1) {
        auto *copy = new ArrayRep{1, 0, false, a_->dims, a_->data};
        --a_->refs;
        a_ = copy;
    } else {
        a_->fixed = false;
    }
}

void checkJoinedLength(size_t a, size_t b) {
    if (a > kMaxTextLength || b > kMaxTextLength - a)
        raise(err::OutOfStringSpace);
}

std::u16string &Value::mutableString() {
    if (s_->refs > 1) {
        auto *copy = new StrRep{1, s_->text};
        --s_->refs;
        s_ = copy;
    }
    return s_->text;
}

std::u16string lowerAscii(std::u16string_view s) {
    std::u16string r(s);
    for (auto &c : r)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
    return r;
}

std::u16string upperAscii(std::u16string_view s) {
    std::u16string r(s);
    for (auto &c : r)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
    return r;
}

std::u16string asciiToU16(std::string_view s) {
    std::u16string r;
    r.reserve(s.size());
    for (unsigned char c : s)
        r.push_back(static_cast<char16_t>(c));
    return r;
}

// UTF-8 and UTF-16 as everywhere in the library: invalid UTF-8 and unpaired surrogates become
// U+FFFD.
std::string u16ToUtf8(std::u16string_view s) {
    return interop::WideToUtf8(s);
}

std::u16string utf8ToU16(std::string_view s) {
    return interop::Utf8ToWide(s);
}

} // namespace kestrun::vbscript
