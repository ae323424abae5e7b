// The RegExp object on PCRE2's UTF-16 library, so that indexes and lengths count the same
// UTF-16 units as the script's strings.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include "errors.h"
#include "interp.h"
#include "objects.h"
#include "ops.h"

#include "kestrun/textutil/pattern_cache.h"

#include <cstring>
#include <memory>
#include <string>

namespace kestrun::vbscript {

namespace {

struct CodeFree {
    void operator()(pcre2_code_16 *c) const { pcre2_code_free_16(c); }
};
struct MatchDataFree {
    void operator()(pcre2_match_data_16 *m) const { pcre2_match_data_free_16(m); }
};
struct MatchContextFree {
    void operator()(pcre2_match_context_16 *m) const { pcre2_match_context_free_16(m); }
};

PCRE2_SPTR16 units(const std::u16string &s) {
    return reinterpret_cast<PCRE2_SPTR16>(s.data());
}

size_t CodeBytes(const pcre2_code_16 &code) {
    size_t bytes = 0;
    pcre2_pattern_info_16(&code, PCRE2_INFO_SIZE, &bytes);
    return bytes;
}

// Compiled patterns shared by every RegExp object on every thread: a script that builds a RegExp
// in a loop, or many RegExp objects with one pattern, compiles it once. Compiled code is only
// read when matching; each search makes its own match data.
std::shared_ptr<const pcre2_code_16> CompiledPattern(const std::u16string &pattern,
                                                     uint32_t options, int &errcode) {
    static textutil::PatternCache<pcre2_code_16> cache(64, 8192, size_t{16} << 20, CodeBytes);
    std::string key(sizeof options, '\0');
    std::memcpy(key.data(), &options, sizeof options);
    key.append(reinterpret_cast<const char *>(pattern.data()), pattern.size() * sizeof(char16_t));
    return cache.Get(key, [&]() -> std::shared_ptr<const pcre2_code_16> {
        PCRE2_SIZE erroff = 0;
        pcre2_code_16 *code =
            pcre2_compile_16(units(pattern), pattern.size(), options, &errcode, &erroff, nullptr);
        if (code == nullptr) {
            return nullptr;
        }
        return std::shared_ptr<const pcre2_code_16>(code, CodeFree());
    });
}

class MatchObject : public Object {
public:
    MatchObject(std::u16string value, int32_t index, std::vector<Value> subs)
        : value_(std::move(value)), index_(index), subs_(std::move(subs)) {}
    std::u16string typeName() const override { return u"IMatch2"; }
    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"submatches") // m.SubMatches(i) indexes the collection
            return indexValue(in, Value::object(new ListObject(u"ISubMatches", subs_)), args);
        if (!args.empty())
            raise(err::WrongArgs);
        if (name.empty() || name == u"value")
            return Value::str(value_);
        if (name == u"firstindex")
            return Value::lng(index_);
        if (name == u"length")
            return Value::lng(static_cast<int32_t>(value_.size()));
        raise(err::NoMember);
    }

private:
    std::u16string value_;
    int32_t index_;
    std::vector<Value> subs_;
};

struct Found {
    size_t start, end;
    std::vector<Value> groups; // captures 1..n: text, or Empty when unset
};

class RegExpObject : public Object {
public:
    std::u16string typeName() const override { return u"IRegExp2"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        auto arg = [&](size_t i) -> std::u16string {
            if (i >= args.size())
                raise(err::WrongArgs);
            return toStr(in, *args[i], true);
        };
        if (name == u"pattern")
            return Value::str(pattern_);
        if (name == u"ignorecase")
            return Value::boolean(ignoreCase_);
        if (name == u"global")
            return Value::boolean(global_);
        if (name == u"multiline")
            return Value::boolean(multiline_);
        if (name == u"test") {
            std::u16string s = arg(0);
            std::vector<Found> found;
            scan(s, false, found);
            return Value::boolean(!found.empty());
        }
        if (name == u"execute") {
            std::u16string s = arg(0);
            std::vector<Found> found;
            scan(s, global_, found);
            std::vector<Value> items;
            for (auto &f : found)
                items.push_back(Value::object(new MatchObject(s.substr(f.start, f.end - f.start),
                                                              static_cast<int32_t>(f.start),
                                                              std::move(f.groups))));
            return Value::object(new ListObject(u"IMatchCollection2", std::move(items)));
        }
        if (name == u"replace") {
            std::u16string s = arg(0), rep = arg(1);
            // The replacement reaches the object as a plain variant conversion: True is "-1".
            if (args[1]->type() == VType::Boolean)
                rep = args[1]->b() ? u"-1" : u"0";
            std::vector<Found> found;
            scan(s, global_, found);
            std::u16string out;
            size_t pos = 0;
            for (const auto &f : found) {
                out.append(s, pos, f.start - pos);
                expand(out, rep, s, f);
                pos = f.end;
            }
            out.append(s, pos, std::u16string::npos);
            return Value::str(std::move(out));
        }
        raise(err::NoMember);
    }

    void put(Interp &in, std::u16string_view name, Args, const Value &v, bool) override {
        if (name == u"pattern")
            pattern_ = toStr(in, v, true);
        else if (name == u"ignorecase")
            ignoreCase_ = toBool(in, v);
        else if (name == u"global")
            global_ = toBool(in, v);
        else if (name == u"multiline")
            multiline_ = toBool(in, v);
        else
            raise(err::NoMember);
        code_.reset();
    }

private:
    void compile() {
        if (code_)
            return;
        uint32_t opts = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ALT_BSUX;
        if (ignoreCase_)
            opts |= PCRE2_CASELESS;
        if (multiline_)
            opts |= PCRE2_MULTILINE;
        else
            opts |= PCRE2_DOLLAR_ENDONLY;
        int errcode = 0;
        code_ = CompiledPattern(pattern_, opts, errcode);
        if (!code_) {
            int number = err::RegexSyntax;
            if (errcode == 109) // quantifier does not follow a repeatable item
                number = 5018;
            else if (errcode == 106) // missing terminating ]
                number = 5019;
            else if (errcode == 114) // missing closing parenthesis
                number = 5020;
            raise(number);
        }
    }

    void scan(const std::u16string &s, bool all, std::vector<Found> &out) {
        compile();
        std::unique_ptr<pcre2_match_data_16, MatchDataFree> md(
            pcre2_match_data_create_from_pattern_16(code_.get(), nullptr));
        std::unique_ptr<pcre2_match_context_16, MatchContextFree> mc(
            pcre2_match_context_create_16(nullptr));
        if (!md || !mc)
            raise(err::OutOfMemory);
        pcre2_set_match_limit_16(mc.get(), 10'000'000);
        pcre2_set_depth_limit_16(mc.get(), 100'000);
        size_t pos = 0;
        while (pos <= s.size()) {
            int rc = pcre2_match_16(code_.get(), units(s), s.size(), pos, 0, md.get(), mc.get());
            if (rc == PCRE2_ERROR_NOMATCH)
                break;
            if (rc < 0)
                raise(rc == PCRE2_ERROR_NOMEMORY ? err::OutOfMemory : err::OutOfStack);
            PCRE2_SIZE *ov = pcre2_get_ovector_pointer_16(md.get());
            uint32_t pairs = pcre2_get_ovector_count_16(md.get());
            Found f{ov[0], ov[1], {}};
            for (uint32_t g = 1; g < pairs; ++g) {
                if (ov[2 * g] == PCRE2_UNSET)
                    f.groups.emplace_back();
                else
                    f.groups.push_back(Value::str(s.substr(ov[2 * g], ov[2 * g + 1] - ov[2 * g])));
            }
            size_t next = f.end;
            if (f.end == f.start) {
                next = f.end + 1;
                // Step over a whole surrogate pair.
                if (f.end < s.size() && s[f.end] >= 0xD800 && s[f.end] < 0xDC00 &&
                    f.end + 1 < s.size())
                    ++next;
            }
            out.push_back(std::move(f));
            if (!all)
                break;
            pos = next;
        }
    }

    // Replacement text: $1..$99, $& (match), $` (before), $' (after), $$ (dollar sign).
    static void expand(std::u16string &out, const std::u16string &rep, const std::u16string &s,
                       const Found &f) {
        for (size_t i = 0; i < rep.size(); ++i) {
            char16_t c = rep[i];
            if (c != u'$' || i + 1 >= rep.size()) {
                out.push_back(c);
                continue;
            }
            char16_t n = rep[i + 1];
            if (n == u'$') {
                out.push_back(u'$');
                ++i;
            } else if (n == u'&') {
                out.append(s, f.start, f.end - f.start);
                ++i;
            } else if (n == u'`') {
                out.append(s, 0, f.start);
                ++i;
            } else if (n == u'\'') {
                out.append(s, f.end, std::u16string::npos);
                ++i;
            } else if (n >= u'0' && n <= u'9') {
                size_t g = n - u'0';
                size_t used = 1;
                if (i + 2 < rep.size() && rep[i + 2] >= u'0' && rep[i + 2] <= u'9') {
                    size_t g2 = g * 10 + (rep[i + 2] - u'0');
                    if (g2 >= 1 && g2 <= f.groups.size()) {
                        g = g2;
                        used = 2;
                    }
                }
                if (g >= 1 && g <= f.groups.size()) {
                    const Value &v = f.groups[g - 1];
                    if (v.isString())
                        out += v.s();
                    i += used;
                } else {
                    out.push_back(c);
                }
            } else {
                out.push_back(c);
            }
        }
    }

    std::u16string pattern_;
    bool ignoreCase_ = false, global_ = false, multiline_ = false;
    std::shared_ptr<const pcre2_code_16> code_;
};

} // namespace

Value makeRegExp(Interp &) {
    return Value::object(new RegExpObject);
}

} // namespace kestrun::vbscript
