#include "strings.h"

#include "module_path_seam.h"

#include <string.h>

#ifdef _WIN32
#include <algorithm>
#include <functional>
#endif

namespace kestrun::interop {

void ReplaceAll(std::string &s, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return;
    }
    size_t pos = FindBytes(s, from);
    if (pos == std::string::npos) {
        return;
    }
    std::string out;
    out.reserve(s.size());
    size_t start = 0;
    while (pos != std::string::npos) {
        out.append(s, start, pos - start);
        out.append(to);
        start = pos + from.size();
        pos = FindBytes(s, from, start);
    }
    out.append(s, start, std::string::npos);
    s.swap(out);
}

size_t FindBytes(std::string_view text, std::string_view needle, size_t from) {
    if (from > text.size()) {
        return std::string_view::npos;
    }
    if (needle.empty()) {
        return from;
    }
#ifdef _WIN32
    // No memmem in the Windows C library: Boyer-Moore, linear in the text for any needle.
    const auto rest = text.substr(from);
    const auto hit = std::search(rest.begin(), rest.end(),
                                 std::boyer_moore_searcher(needle.begin(), needle.end()));
    return hit == rest.end() ? std::string_view::npos
                             : from + static_cast<size_t>(hit - rest.begin());
#else
    // glibc's memmem: the two-way algorithm for long needles, a bounded shift table for short.
    const void *hit =
        ::memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    return hit == nullptr ? std::string_view::npos
                          : static_cast<size_t>(static_cast<const char *>(hit) - text.data());
#endif
}

std::string ModuleFolder() {
    return platform::ModuleFolderName();
}

std::string ResolveLibraryPath(std::string_view path) {
    if (path.find('\\') != std::string_view::npos || path.find("//") != std::string_view::npos ||
        (!path.empty() && path.front() == '/')) {
        return std::string(path);
    }
    return ModuleFolder() + std::string(path);
}

size_t TextBuffer::Find(const char *needle) const {
    if (needle == nullptr) {
        return 0;
    }
    const size_t pos = text_.find(needle);
    return pos == std::string::npos ? 0 : pos + 1;
}

void TextBuffer::Replace(const TextBuffer &search, const TextBuffer &replacement) {
    const std::string &from = search.text_;
    const std::string &to = replacement.text_;
    if (text_.empty() || from.empty()) {
        return;
    }
    // Built in one pass: same result as replacing in place and resuming after the insertion,
    // without the quadratic cost of shifting the tail on every match.
    size_t pos = text_.find(from);
    if (pos == std::string::npos) {
        return;
    }
    std::string out;
    out.reserve(text_.size());
    size_t start = 0;
    while (pos != std::string::npos) {
        out.append(text_, start, pos - start);
        out.append(to);
        start = pos + from.size();
        pos = text_.find(from, start);
    }
    out.append(text_, start, std::string::npos);
    text_.swap(out);
}

} // namespace kestrun::interop
