#include "kestrun/datastores/ini_document.h"

#include <algorithm>

#include "kestrun/interop/codepage.h"

namespace kestrun::datastores {
namespace {

constexpr std::string_view kUtf16Bom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r';
}

char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool HasLineBreak(std::u16string_view text) {
    return text.find_first_of(u"\r\n") != std::u16string_view::npos;
}

std::u16string_view TrimRight(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::u16string Decode(std::string_view bytes, IniEncoding encoding) {
    switch (encoding) {
    case IniEncoding::Utf16Le: {
        std::u16string text;
        text.reserve(bytes.size() / 2);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
        return text;
    }
    case IniEncoding::Utf8:
        return interop::Utf8ToWide(bytes);
    case IniEncoding::Ansi:
        break;
    }
    return interop::AnsiToWide(bytes);
}

// Where the next line break of `bytes` starts at or after `from`, in units of the encoding.
size_t FindLineFeed(std::string_view bytes, size_t from, IniEncoding encoding) {
    if (encoding != IniEncoding::Utf16Le) {
        return bytes.find('\n', from);
    }
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] == '\n' && bytes[i + 1] == '\0') {
            return i;
        }
    }
    return std::string_view::npos;
}

} // namespace

std::u16string_view TrimBlanks(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    return TrimRight(text);
}

IniDocument IniDocument::Parse(std::string_view bytes) {
    IniDocument doc;
    if (bytes.starts_with(kUtf16Bom)) {
        doc.encoding_ = IniEncoding::Utf16Le;
        doc.bom_ = kUtf16Bom;
    } else if (bytes.starts_with(kUtf8Bom)) {
        doc.encoding_ = IniEncoding::Utf8;
        doc.bom_ = kUtf8Bom;
    }
    const size_t unit = doc.encoding_ == IniEncoding::Utf16Le ? 2 : 1;
    const std::string carriageReturn = unit == 2 ? std::string("\r\0", 2) : std::string("\r");
    doc.newline_ = doc.Encode(u"\r\n");
    bool newlineSeen = false;

    const std::string_view rest = bytes.substr(doc.bom_.size());
    // Room for every line up front: growing the vector line by line would move every line held
    // so far each time, a large part of the cost of a file of millions of short lines.
    // A few more for the lines a change adds (a section, a key and its length record).
    doc.lines_.reserve(static_cast<size_t>(std::count(rest.begin(), rest.end(), '\n')) + 8);
    size_t pos = 0;
    while (pos < rest.size()) {
        const size_t feed = FindLineFeed(rest, pos, doc.encoding_);
        if (feed == std::string_view::npos) {
            doc.lines_.push_back(Classify(std::string(rest.substr(pos)), "", doc.encoding_));
            break;
        }
        size_t contentEnd = feed; // a carriage return before the line feed is part of the break
        if (feed - pos >= unit && rest.substr(feed - unit, unit) == carriageReturn) {
            contentEnd = feed - unit;
        }
        std::string content(rest.substr(pos, contentEnd - pos));
        std::string terminator(rest.substr(contentEnd, feed + unit - contentEnd));
        if (!newlineSeen) {
            doc.newline_ = terminator; // new lines follow the file's own style
            newlineSeen = true;
        }
        doc.lines_.push_back(Classify(std::move(content), std::move(terminator), doc.encoding_));
        pos = feed + unit;
    }
    return doc;
}

IniDocument::Line IniDocument::Classify(std::string content, std::string terminator,
                                        IniEncoding encoding) {
    Line line;
    const std::u16string decoded = Decode(content, encoding);
    line.content = std::move(content);
    line.terminator = std::move(terminator);
    const std::u16string_view trimmed = TrimBlanks(decoded);
    if (trimmed.empty()) {
        line.kind = Kind::Blank;
    } else if (trimmed.front() == u';') {
        line.kind = Kind::Comment;
    } else if (trimmed.front() == u'[') {
        line.kind = Kind::Section;
        const std::u16string_view inside = trimmed.substr(1);
        line.name = TrimBlanks(inside.substr(0, inside.find(u']')));
    } else {
        line.kind = Kind::Entry;
        const std::u16string_view text = decoded;
        const size_t equals = text.find(u'=');
        line.hasEquals = equals != std::u16string_view::npos;
        line.name = TrimBlanks(text.substr(0, equals));
        size_t begin = line.hasEquals ? equals + 1 : text.size();
        while (begin < text.size() && IsBlank(text[begin])) {
            ++begin;
        }
        line.valueBegin = begin;
    }
    return line;
}

std::string IniDocument::Encode(std::u16string_view text) const {
    switch (encoding_) {
    case IniEncoding::Utf16Le: {
        std::string bytes;
        bytes.reserve(text.size() * 2);
        for (const char16_t c : text) {
            bytes.push_back(static_cast<char>(c & 0xFF));
            bytes.push_back(static_cast<char>(c >> 8));
        }
        return bytes;
    }
    case IniEncoding::Utf8:
        return interop::WideToUtf8(text);
    case IniEncoding::Ansi:
        break;
    }
    return interop::WideToAnsi(text);
}

std::optional<size_t> IniDocument::FindSection(std::u16string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section && EqualsIgnoringAsciiCase(lines_[i].name, section)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<size_t> IniDocument::FindEntry(size_t section, std::u16string_view key) const {
    for (size_t i = section + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i) {
        if (lines_[i].kind == Kind::Entry && EqualsIgnoringAsciiCase(lines_[i].name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::u16string> IniDocument::Find(std::u16string_view section,
                                                std::u16string_view key) const {
    key = TrimBlanks(key);
    if (key.empty()) {
        return std::nullopt;
    }
    const auto s = FindSection(TrimBlanks(section));
    if (!s) {
        return std::nullopt;
    }
    const auto e = FindEntry(*s, key);
    if (!e) {
        return std::nullopt;
    }
    const Line &line = lines_[*e];
    const std::u16string text = Decode(line.content, encoding_);
    return std::u16string(TrimRight(std::u16string_view(text).substr(line.valueBegin)));
}

bool IniDocument::Storable(std::u16string_view section, std::u16string_view key,
                           std::u16string_view value) {
    key = TrimBlanks(key);
    return !HasLineBreak(section) && section.find(u']') == std::u16string_view::npos &&
           !key.empty() && !HasLineBreak(key) && key.find(u'=') == std::u16string_view::npos &&
           key.front() != u'[' && key.front() != u';' && !HasLineBreak(value);
}

void IniDocument::EnsureTerminated(size_t line) {
    Line &last = lines_[line];
    if (last.terminator.empty()) {
        // A UTF-16 file cut inside its last character ends in half a code unit, which reads as
        // nothing; it is dropped so that the lines written after it start on a unit boundary.
        if (encoding_ == IniEncoding::Utf16Le && last.content.size() % 2 != 0) {
            last.content.pop_back();
        }
        last.terminator = newline_;
    }
}

bool IniDocument::Set(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value) {
    if (!Storable(section, key, value)) {
        return false;
    }
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    const auto s = FindSection(section);
    if (s) {
        if (const auto e = FindEntry(*s, key)) {
            Line &line = lines_[*e];
            const std::u16string old = Decode(line.content, encoding_);
            std::u16string text;
            if (line.hasEquals) {
                text = std::u16string_view(old).substr(0, line.valueBegin);
                if (value.empty()) {
                    text = TrimRight(text);
                }
            } else {
                text = TrimRight(old);
                text += u'=';
            }
            text += value;
            line = Classify(Encode(text), std::move(line.terminator), encoding_);
            return true;
        }
        // A new key goes after the last entry of the section (or right after its header).
        size_t after = *s;
        for (size_t i = *s + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i) {
            if (lines_[i].kind == Kind::Entry) {
                after = i;
            }
        }
        EnsureTerminated(after);
        std::u16string entry(key);
        entry += u'=';
        entry += value;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after + 1),
                      Classify(Encode(entry), newline_, encoding_));
        return true;
    }
    if (!lines_.empty()) {
        EnsureTerminated(lines_.size() - 1);
        if (lines_.back().kind != Kind::Blank) {
            lines_.push_back(Classify("", newline_, encoding_)); // a blank line between sections
        }
    }
    std::u16string header = u"[";
    header += section;
    header += u']';
    std::u16string entry(key);
    entry += u'=';
    entry += value;
    lines_.push_back(Classify(Encode(header), newline_, encoding_));
    lines_.push_back(Classify(Encode(entry), newline_, encoding_));
    return true;
}

std::string IniDocument::Serialize() const {
    size_t size = bom_.size();
    for (const Line &line : lines_) {
        size += line.content.size() + line.terminator.size();
    }
    std::string bytes;
    bytes.reserve(size);
    bytes += bom_;
    for (const Line &line : lines_) {
        bytes += line.content;
        bytes += line.terminator;
    }
    return bytes;
}

} // namespace kestrun::datastores
