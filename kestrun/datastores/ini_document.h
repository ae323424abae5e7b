// An INI file held as its lines, so that one value can be changed without touching the others.
//
// Layout: "[section]" lines open sections; "key=value" lines inside a section are entries; lines
// whose first non-blank character is ";" are comments. Section and key names match without
// regard to ASCII case, blanks (spaces and tabs) around names and values do not count, and the
// first matching section, and the first matching key inside it, win. The text is GBK, or UTF-16LE
// or UTF-8 when the file starts with that byte-order mark.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::datastores {

enum class IniEncoding { Ansi, Utf16Le, Utf8 };

class IniDocument {
public:
    // Reads a file's bytes; any bytes are accepted.
    static IniDocument Parse(std::string_view bytes);

    IniEncoding Encoding() const { return encoding_; }

    // The value of `key` in `section`, blanks trimmed; nullopt when either is missing.
    std::optional<std::u16string> Find(std::u16string_view section, std::u16string_view key) const;

    // Whether a section name, key name and value can be stored so that they read back: names
    // without line breaks, a section without "]", a non-empty key without "=" that does not
    // start with "[" or ";", a value without line breaks.
    static bool Storable(std::u16string_view section, std::u16string_view key,
                         std::u16string_view value);

    // Replaces the value of an existing key in place (keeping the line's key spelling and
    // spacing), or adds the key at the end of its section, or adds the section at the end of the
    // file. Every other line stays byte for byte. False (and no change) when not Storable.
    bool Set(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // The file's bytes.
    std::string Serialize() const;

private:
    enum class Kind { Blank, Comment, Section, Entry };
    struct Line {
        std::string content;    // bytes without the line break
        std::string terminator; // the line break bytes ("" on a last line without one)
        Kind kind = Kind::Blank;
        std::u16string name;    // section or key name, trimmed
        size_t valueBegin = 0;  // in the decoded content: where the value starts (entries)
        bool hasEquals = false; // entries: whether the line has "="
    };

    static Line Classify(std::string content, std::string terminator, IniEncoding encoding);
    std::string Encode(std::u16string_view text) const;
    std::optional<size_t> FindSection(std::u16string_view section) const;
    std::optional<size_t> FindEntry(size_t section, std::u16string_view key) const;
    void EnsureTerminated(size_t line);

    IniEncoding encoding_ = IniEncoding::Ansi;
    std::string bom_;
    std::string newline_ = "\r\n"; // in the file's encoding
    std::vector<Line> lines_;
};

// Blanks (spaces and tabs) removed from both ends.
std::u16string_view TrimBlanks(std::u16string_view text);

} // namespace kestrun::datastores
