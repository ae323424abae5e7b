#include "nohtml.h"

#include "kestrun/textutil/regex_engine.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrun::codecs {
namespace {

using textutil::Regex;
using textutil::RegexOptions;
using textutil::RegexStatus;

// The four pattern stages, in order, with whether each is caseless and which option runs it
// (0: always).
struct PatternStage {
    const char *pattern;
    bool caseless;
    int16_t option;
};

constexpr std::array<PatternStage, 4> kPatternStages = {{
    {R"((\<style(.*?)\>[^]*?\<\/style>))", true, kNoHtmlStyles},
    {R"((\<script(.*?)\>[^]*?\<\/script>))", true, kNoHtmlScripts},
    {R"((\<.[^\<]*\>))", false, 0},
    {R"((\<\/[^\<]*\>))", false, 0},
}};

// Entity decoding steps, applied in this order. "?" stands for characters GBK lacks.
constexpr std::array<std::pair<std::string_view, std::string_view>, 25> kEntities = {{
    {"&gt;", ">"},          {"&lt;", "<"},    {"&amp;", "&"},         {"&#60;", "<"},
    {"&#62;", ">"},         {"&#38;", "&"},   {"&#34;", "\""},        {"&#39;", "'"},
    {"&#8194;", "?"},       {"&#8195;", "?"}, {"&#160;", " "},        {"&#169;", "?"},
    {"&#174;", "?"},        {"&#8482;", "?"}, {"&#215;", "\xA1\xC1"}, // ×
    {"&#247;", "\xA1\xC2"},                                           // ÷
    {"&quot;", "\""},       {"&apos;", "'"},  {"&ensp;", "?"},        {"&emsp;", "?"},
    {"&nbsp;", " "},        {"&copy;", "?"},  {"&reg;", "?"},         {"&times;", "\xA1\xC1"}, // ×
    {"&pide;", "\xA1\xC2"},                                                                    // ÷
}};

// White-space collapsing, in this order: tabs become spaces, then every "XX" becomes "X" until
// none is left, for each X below.
constexpr std::array<std::string_view, 7> kCollapsed = {
    " ", "\n", "\r", "\r\n", "\n ", "\r ", "\r\n ",
};

// The compiled stage patterns, built once and only read afterwards (a compiled pattern may be
// used by several threads at once).
const std::array<Regex, kPatternStages.size()> &CompiledStages() {
    static const std::array<Regex, kPatternStages.size()> compiled = [] {
        std::array<Regex, kPatternStages.size()> out;
        for (size_t i = 0; i < kPatternStages.size(); ++i) {
            RegexOptions options;
            options.caseless = kPatternStages[i].caseless;
            // These four patterns are checked against the plain interpreter in the tests.
            options.startOptimizations = true;
            out[i] = Regex::Compile(kPatternStages[i].pattern, options);
        }
        return out;
    }();
    return compiled;
}

// Replaces every match of a stage's pattern by one space; on any failure the text stays.
void RunPatternStage(const Regex &regex, textutil::RegexScratch &scratch, std::string &text) {
    try {
        std::string out;
        if (textutil::Replace(regex, text, " ", out, true, &scratch) == RegexStatus::Matched) {
            text.swap(out);
        }
    } catch (...) {
        // The stage is skipped: the text is still what it was before it.
    }
}

// Whether the bytes at `at` continue `needle` after its first byte (the caller checked room).
bool SameTail(const char *at, std::string_view needle) {
    for (size_t i = 1; i < needle.size(); ++i) {
        if (at[i] != needle[i]) {
            return false;
        }
    }
    return true;
}

// First position in [p, end - 1) where the bytes `a` and `b` follow each other, or null. Text
// is full of spaces and line breaks, so the two-byte test runs 16 positions at a time.
const char *FindPair(const char *p, const char *end, char a, char b) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    while (end - p >= 17) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
        const int mask =
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(first, va), _mm_cmpeq_epi8(second, vb)));
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
        p += 16;
    }
#endif
    for (; end - p >= 2; ++p) {
        if (p[0] == a && p[1] == b) {
            return p;
        }
    }
    return nullptr;
}

// First occurrence of `needle` (non-empty) in [p, end), or null.
const char *FindBytes(const char *p, const char *end, std::string_view needle) {
    if (needle.size() == 1) {
        return static_cast<const char *>(memchr(p, needle[0], static_cast<size_t>(end - p)));
    }
    while (static_cast<size_t>(end - p) >= needle.size()) {
        const char *hit = FindPair(p, end, needle[0], needle[1]);
        if (hit == nullptr || static_cast<size_t>(end - hit) < needle.size()) {
            return nullptr;
        }
        if (SameTail(hit, needle)) {
            return hit;
        }
        p = hit + 1;
    }
    return nullptr;
}

// Replaces every occurrence of `from` (non-empty), left to right, continuing after each
// replaced occurrence: the same result as TextBuffer::Replace, with a faster search. Returns
// whether anything was replaced.
bool ReplaceEvery(std::string &text, std::string_view from, std::string_view to) {
    const char *begin = text.data();
    const char *end = begin + text.size();
    const char *hit = FindBytes(begin, end, from);
    if (hit == nullptr) {
        return false;
    }
    std::string out;
    out.reserve(text.size());
    const char *copied = begin;
    while (hit != nullptr) {
        out.append(copied, hit);
        out.append(to);
        copied = hit + from.size();
        hit = FindBytes(copied, end, from);
    }
    out.append(copied, end);
    text.swap(out);
    return true;
}

// For each byte value, the entity steps whose entity has that byte at index 1 (or 2).
struct EntityIndex {
    std::array<uint32_t, 256> second{};
    std::array<uint32_t, 256> third{};
};

constexpr EntityIndex MakeEntityIndex() {
    EntityIndex index;
    for (size_t i = 0; i < kEntities.size(); ++i) {
        index.second[static_cast<unsigned char>(kEntities[i].first[1])] |= uint32_t{1} << i;
        index.third[static_cast<unsigned char>(kEntities[i].first[2])] |= uint32_t{1} << i;
    }
    return index;
}

constexpr EntityIndex kEntityIndex = MakeEntityIndex();

// Marks the entity steps whose entity occurs in `text` (one pass over the "&" bytes).
std::array<bool, kEntities.size()> EntitiesPresent(const std::string &text) {
    std::array<bool, kEntities.size()> present{};
    const char *p = text.data();
    const char *end = p + text.size();
    while ((p = static_cast<const char *>(memchr(p, '&', static_cast<size_t>(end - p)))) !=
           nullptr) {
        const auto room = static_cast<size_t>(end - p);
        if (room >= 4) { // every entity has at least 4 bytes
            uint32_t candidates = kEntityIndex.second[static_cast<unsigned char>(p[1])] &
                                  kEntityIndex.third[static_cast<unsigned char>(p[2])];
            while (candidates != 0) {
                const auto i = static_cast<size_t>(__builtin_ctz(candidates));
                candidates &= candidates - 1;
                const std::string_view entity = kEntities[i].first;
                if (room >= entity.size() && SameTail(p, entity)) {
                    present[i] = true;
                }
            }
        }
        ++p;
    }
    return present;
}

// Decodes the entities in step order. A step whose entity does not occur changes nothing, and
// only a step that writes "&" can make a new occurrence (every other replacement is a byte
// that no entity contains), so the occurrences are looked up again only after such a step.
void DecodeEntities(std::string &text) {
    if (text.find('&') == std::string::npos) {
        return;
    }
    std::array<bool, kEntities.size()> present = EntitiesPresent(text);
    for (size_t i = 0; i < kEntities.size(); ++i) {
        const auto &[entity, replacement] = kEntities[i];
        if (present[i] && ReplaceEvery(text, entity, replacement) &&
            std::string_view(replacement).find('&') != std::string_view::npos) {
            present = EntitiesPresent(text);
        }
    }
}

// Replaces "XX" by "X" until no "XX" is left. None of the X here overlaps itself (no proper
// prefix is also a suffix), so the repeated passes come down to keeping the first X of every
// run of consecutive X and dropping the rest, which one pass does.
void CollapseRuns(std::string &text, std::string_view x) {
    const std::string twice = std::string(x) + std::string(x);
    const char *begin = text.data();
    const char *end = begin + text.size();
    const char *hit = FindBytes(begin, end, twice);
    if (hit == nullptr) {
        return;
    }
    std::string out;
    out.reserve(text.size());
    const char *copied = begin;
    while (hit != nullptr) {
        const char *kept = hit + x.size();
        const char *runEnd = kept + x.size();
        while (static_cast<size_t>(end - runEnd) >= x.size() && runEnd[0] == x[0] &&
               SameTail(runEnd, x)) {
            runEnd += x.size();
        }
        out.append(copied, kept);
        copied = runEnd;
        hit = FindBytes(runEnd, end, twice);
    }
    out.append(copied, end);
    text.swap(out);
}

int16_t OptionBits(int16_t options) {
    return options >= 1 && options <= 15 ? options : 0;
}

} // namespace

std::string NoHtml(std::string_view markup, int16_t options) {
    const size_t zero = markup.find('\0');
    std::string text(zero == std::string_view::npos ? markup : markup.substr(0, zero));
    const int16_t bits = OptionBits(options);
    const auto &compiled = CompiledStages();
    textutil::RegexScratch scratch;
    for (size_t i = 0; i < kPatternStages.size(); ++i) {
        const int16_t option = kPatternStages[i].option;
        if (option == 0 || (bits & option) != 0) {
            RunPatternStage(compiled[i], scratch, text);
        }
    }
    return DecodeAndCollapse(std::move(text), bits);
}

std::string DecodeAndCollapse(std::string text, int16_t options) {
    const int16_t bits = OptionBits(options);
    if ((bits & kNoHtmlEntities) != 0) {
        DecodeEntities(text);
    }
    if ((bits & kNoHtmlWhiteSpace) != 0) {
        ReplaceEvery(text, "\t", " ");
        for (std::string_view x : kCollapsed) {
            CollapseRuns(text, x);
        }
    }
    return text;
}

} // namespace kestrun::codecs
