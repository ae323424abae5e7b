// Small string and path helpers shared by many exports.
#pragma once

#include <string>
#include <string_view>

namespace kestrun::interop {

// Replaces every non-overlapping occurrence of `from` (searched left to right) by `to`.
// Inserted text is never searched again. An empty `from` leaves `s` unchanged.
void ReplaceAll(std::string &s, std::string_view from, std::string_view to);

// Position of the first occurrence of `needle` in `text` at or after `from` (npos when there is
// none; an empty needle is found at `from`). Linear in the text whatever the needle, unlike
// std::string_view::find, whose cost is the product of both lengths for a long needle that
// almost matches everywhere (a marker of a million "a" and one "b" in a text of "a").
size_t FindBytes(std::string_view text, std::string_view needle, size_t from = 0);

// Folder of the library file itself (not the host program), ending in the path separator.
std::string ModuleFolder();

// A path with a backslash or "//" anywhere, or (on this platform) one starting with "/", is used
// unchanged; any other path is taken relative to ModuleFolder().
std::string ResolveLibraryPath(std::string_view path);

// A byte-string value with find and replace.
class TextBuffer {
public:
    TextBuffer() = default;
    explicit TextBuffer(const char *zeroTerminated)
        : text_(zeroTerminated == nullptr ? "" : zeroTerminated) {}
    explicit TextBuffer(std::string text) : text_(std::move(text)) {}

    void Set(std::string_view text) { text_.assign(text); }
    const std::string &Text() const { return text_; }
    bool Empty() const { return text_.empty(); }

    // 1-based position of the first occurrence of `needle`, 0 when absent or null; an empty
    // needle is found at position 1.
    size_t Find(const char *needle) const;

    // Replaces each occurrence of `search`, left to right, continuing after the inserted text.
    void Replace(const TextBuffer &search, const TextBuffer &replacement);

private:
    std::string text_;
};

} // namespace kestrun::interop
