#include "value.h"

#include "errors.h"

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

void releaseObject(Object *o) {
    // Class_Terminate may take and drop new references; keep the object alive meanwhile.
    o->refs = 1;
    try {
        o->terminate();
    } catch (...) {
        // An error inside a terminator is dropped, as the object is going away regardless.
    }
    delete o;
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
            delete a_;
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
    if (a_->refs > 1) {
        auto *copy = new ArrayRep{1, a_->fixed, a_->dims, a_->data};
        --a_->refs;
        a_ = copy;
    }
    return a_;
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

std::string u16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string utf8ToU16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            ++i;
            out.push_back(0xFFFD);
            continue;
        }
        if (i + len > s.size()) {
            out.push_back(0xFFFD);
            break;
        }
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

} // namespace kestrun::vbscript
