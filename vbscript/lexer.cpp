#include "lexer.h"

#include "errors.h"
#include "ops.h"

#include <cmath>

namespace kestrun::vbscript {

namespace {

bool isIdentStart(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c >= 0x80;
}
bool isIdentChar(char16_t c) {
    return isIdentStart(c) || (c >= u'0' && c <= u'9') || c == u'_';
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

[[noreturn]] void compileError(int32_t number, int line) {
    ScriptError e(number);
    e.line = line;
    e.compile = true;
    throw e;
}

class Lexer {
public:
    Lexer(std::u16string_view src, int line) : s_(src), line_(line) {}

    std::vector<Token> run() {
        while (true) {
            bool space = skipBlanks();
            if (pos_ >= s_.size())
                break;
            char16_t c = s_[pos_];
            Token t;
            t.line = line_;
            t.spaceBefore = space;
            if (c == u'\'') {
                skipToLineEnd();
                continue;
            }
            if (c == u'\r' || c == u'\n') {
                if (c == u'\r' && pos_ + 1 < s_.size() && s_[pos_ + 1] == u'\n')
                    ++pos_;
                ++pos_;
                t.kind = Tok::EndStmt;
                push(std::move(t));
                ++line_;
                continue;
            }
            if (c == u':') {
                ++pos_;
                t.kind = Tok::EndStmt;
                t.colon = true;
                push(std::move(t));
                continue;
            }
            if (c == u'"') {
                readString(t);
            } else if (isDigit(c) || (c == u'.' && pos_ + 1 < s_.size() && isDigit(s_[pos_ + 1]) &&
                                      (space || lastIsOperator()))) {
                readNumber(t);
            } else if (c == u'&' && startsRadix()) {
                readRadix(t);
            } else if (c == u'#') {
                readDate(t);
            } else if (isIdentStart(c)) {
                size_t start = pos_;
                while (pos_ < s_.size() && isIdentChar(s_[pos_]))
                    ++pos_;
                t.kind = Tok::Ident;
                t.text = std::u16string(s_.substr(start, pos_ - start));
                t.lname = lowerAscii(t.text);
                // `Rem` starts a comment, except as a member name (`Err.Rem`).
                if (t.lname == u"rem" && !(!out_.empty() && out_.back().is(u".") && !space)) {
                    skipToLineEnd();
                    continue;
                }
            } else if (c == u'[') {
                size_t end = s_.find(u']', pos_);
                if (end == std::u16string_view::npos)
                    compileError(err::InvalidChar, line_);
                t.kind = Tok::Ident;
                t.text = std::u16string(s_.substr(pos_ + 1, end - pos_ - 1));
                t.lname = lowerAscii(t.text);
                pos_ = end + 1;
            } else {
                readPunct(t);
            }
            push(std::move(t));
        }
        Token end;
        end.kind = Tok::EndStmt;
        end.line = line_;
        push(std::move(end));
        Token eof;
        eof.kind = Tok::End;
        eof.line = line_;
        out_.push_back(std::move(eof));
        return std::move(out_);
    }

private:
    void push(Token t) { out_.push_back(std::move(t)); }

    // `&H1F`, `&O17` or `&17`; a `&` followed by anything else (`"x" &hi`) is the operator.
    bool startsRadix() const {
        auto at = [&](size_t k) { return pos_ + k < s_.size() ? s_[pos_ + k] : u'\0'; };
        auto isHex = [](char16_t d) {
            return isDigit(d) || (d >= u'a' && d <= u'f') || (d >= u'A' && d <= u'F');
        };
        auto isOctal = [](char16_t d) { return d >= u'0' && d <= u'7'; };
        char16_t c1 = at(1);
        if (c1 == u'H' || c1 == u'h')
            return isHex(at(2));
        if (c1 == u'O' || c1 == u'o')
            return isOctal(at(2));
        return isDigit(c1);
    }

    bool lastIsOperator() const {
        if (out_.empty())
            return true;
        const Token &t = out_.back();
        return t.kind == Tok::EndStmt || (t.kind == Tok::Punct && t.text != u")");
    }

    // Skips blanks and line continuations; reports whether anything was skipped.
    bool skipBlanks() {
        bool any = false;
        while (pos_ < s_.size()) {
            char16_t c = s_[pos_];
            if (c == u' ' || c == u'\t' || c == 0xA0 || c == 0x3000 || c == 0xFEFF) {
                ++pos_;
                any = true;
                continue;
            }
            if (c == u'_' && (pos_ + 1 >= s_.size() || !isIdentChar(s_[pos_ + 1]))) {
                size_t p = pos_ + 1;
                while (p < s_.size() && (s_[p] == u' ' || s_[p] == u'\t'))
                    ++p;
                if (p < s_.size() && (s_[p] == u'\r' || s_[p] == u'\n')) {
                    if (s_[p] == u'\r' && p + 1 < s_.size() && s_[p + 1] == u'\n')
                        ++p;
                    pos_ = p + 1;
                    ++line_;
                    any = true;
                    continue;
                }
            }
            break;
        }
        return any;
    }

    void skipToLineEnd() {
        while (pos_ < s_.size() && s_[pos_] != u'\r' && s_[pos_] != u'\n')
            ++pos_;
    }

    void readString(Token &t) {
        ++pos_;
        std::u16string text;
        while (true) {
            if (pos_ >= s_.size() || s_[pos_] == u'\r' || s_[pos_] == u'\n')
                compileError(err::UntermString, line_);
            char16_t c = s_[pos_++];
            if (c == u'"') {
                if (pos_ < s_.size() && s_[pos_] == u'"') {
                    text.push_back(u'"');
                    ++pos_;
                    continue;
                }
                break;
            }
            text.push_back(c);
        }
        t.kind = Tok::Literal;
        t.value = Value::str(std::move(text));
    }

    void readNumber(Token &t) {
        size_t start = pos_;
        bool isFloat = false;
        while (pos_ < s_.size() && isDigit(s_[pos_]))
            ++pos_;
        if (pos_ < s_.size() && s_[pos_] == u'.' &&
            !(pos_ + 1 < s_.size() && isIdentStart(s_[pos_ + 1]))) {
            isFloat = true;
            ++pos_;
            while (pos_ < s_.size() && isDigit(s_[pos_]))
                ++pos_;
        }
        if (pos_ < s_.size() && (s_[pos_] == u'e' || s_[pos_] == u'E')) {
            size_t p = pos_ + 1;
            if (p < s_.size() && (s_[p] == u'+' || s_[p] == u'-'))
                ++p;
            if (p < s_.size() && isDigit(s_[p])) {
                isFloat = true;
                pos_ = p;
                while (pos_ < s_.size() && isDigit(s_[pos_]))
                    ++pos_;
            }
        }
        if (pos_ < s_.size() && isIdentStart(s_[pos_]))
            compileError(err::ExpEndOfStmt, line_);
        std::string text;
        for (size_t i = start; i < pos_; ++i)
            text.push_back(static_cast<char>(s_[i]));
        double d = std::strtod(text.c_str(), nullptr);
        if (std::isinf(d))
            compileError(err::InvalidNumber, line_);
        t.kind = Tok::Literal;
        if (!isFloat && d <= 32767)
            t.value = Value::integer(static_cast<int16_t>(d));
        else if (!isFloat && d <= 2147483647.0)
            t.value = Value::lng(static_cast<int32_t>(d));
        else
            t.value = Value::dbl(d);
    }

    void readRadix(Token &t) {
        ++pos_; // '&'
        int base = 8;
        if (s_[pos_] == u'H' || s_[pos_] == u'h') {
            base = 16;
            ++pos_;
        } else if (s_[pos_] == u'O' || s_[pos_] == u'o') {
            ++pos_;
        }
        uint64_t v = 0;
        size_t digits = 0;
        while (pos_ < s_.size()) {
            char16_t c = s_[pos_];
            int d;
            if (isDigit(c))
                d = c - u'0';
            else if (base == 16 && c >= u'a' && c <= u'f')
                d = c - u'a' + 10;
            else if (base == 16 && c >= u'A' && c <= u'F')
                d = c - u'A' + 10;
            else
                break;
            if (d >= base)
                compileError(err::Syntax, line_);
            v = v * base + d;
            if (v > 0xFFFFFFFFull)
                compileError(err::InvalidNumber, line_);
            ++pos_;
            ++digits;
        }
        if (digits == 0)
            compileError(err::Syntax, line_);
        t.kind = Tok::Literal;
        if (pos_ < s_.size() && s_[pos_] == u'&') {
            // With the Long suffix the digits are read as 32 bits (`&HFFFF&` is 65535); the
            // value still takes the smallest type that holds it (`&HFFFFFFFF&` is Integer -1).
            ++pos_;
            int32_t x = static_cast<int32_t>(static_cast<uint32_t>(v));
            if (x >= -32768 && x <= 32767)
                t.value = Value::integer(static_cast<int16_t>(x));
            else
                t.value = Value::lng(x);
        } else if (v <= 0xFFFF) {
            t.value = Value::integer(static_cast<int16_t>(static_cast<uint16_t>(v)));
        } else {
            t.value = Value::lng(static_cast<int32_t>(static_cast<uint32_t>(v)));
        }
    }

    void readDate(Token &t) {
        size_t end = pos_ + 1;
        while (end < s_.size() && s_[end] != u'#' && s_[end] != u'\r' && s_[end] != u'\n')
            ++end;
        if (end >= s_.size() || s_[end] != u'#')
            compileError(err::Syntax, line_);
        double d;
        if (!parseDate(s_.substr(pos_ + 1, end - pos_ - 1), d))
            compileError(err::Syntax, line_);
        pos_ = end + 1;
        t.kind = Tok::Literal;
        t.value = Value::date(d);
    }

    void readPunct(Token &t) {
        static const std::u16string_view kTwo[] = {u"<=", u">=", u"<>"};
        if (s_.substr(pos_, 2) == u"><") { // another spelling of "<>"
            t.kind = Tok::Punct;
            t.text = u"<>";
            pos_ += 2;
            return;
        }
        for (auto p : kTwo) {
            if (s_.substr(pos_, 2) == p) {
                t.kind = Tok::Punct;
                t.text = std::u16string(p);
                pos_ += 2;
                return;
            }
        }
        // "=<" and "=>" are accepted as "<=" and ">=" like the original language does.
        if (s_.substr(pos_, 2) == u"=<" || s_.substr(pos_, 2) == u"=>") {
            t.kind = Tok::Punct;
            t.text = s_[pos_ + 1] == u'<' ? u"<=" : u">=";
            pos_ += 2;
            return;
        }
        static const std::u16string_view kOne = u"()=<>+-*/\\^&,.";
        if (kOne.find(s_[pos_]) == std::u16string_view::npos)
            compileError(err::InvalidChar, line_);
        t.kind = Tok::Punct;
        t.text = std::u16string(1, s_[pos_]);
        ++pos_;
    }

    std::u16string_view s_;
    size_t pos_ = 0;
    int line_;
    std::vector<Token> out_;
};

} // namespace

std::vector<Token> tokenize(std::u16string_view code, int firstLine) {
    return Lexer(code, firstLine).run();
}

} // namespace kestrun::vbscript
