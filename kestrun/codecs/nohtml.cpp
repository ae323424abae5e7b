#include "nohtml.h"

#include "kestrun/interop/strings.h"
#include "kestrun/textutil/regex_engine.h"

#include <array>
#include <utility>

namespace kestrun::codecs {
namespace {

using interop::TextBuffer;
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
constexpr std::array<std::pair<const char *, const char *>, 25> kEntities = {{
    {"&gt;", ">"},          {"&lt;", "<"},    {"&amp;", "&"},         {"&#60;", "<"},
    {"&#62;", ">"},         {"&#38;", "&"},   {"&#34;", "\""},        {"&#39;", "'"},
    {"&#8194;", "?"},       {"&#8195;", "?"}, {"&#160;", " "},        {"&#169;", "?"},
    {"&#174;", "?"},        {"&#8482;", "?"}, {"&#215;", "\xA1\xC1"}, // ×
    {"&#247;", "\xA1\xC2"},                                           // ÷
    {"&quot;", "\""},       {"&apos;", "'"},  {"&ensp;", "?"},        {"&emsp;", "?"},
    {"&nbsp;", " "},        {"&copy;", "?"},  {"&reg;", "?"},         {"&times;", "\xA1\xC1"}, // ×
    {"&pide;", "\xA1\xC2"},                                                                    // ÷
}};

// White-space collapsing: each pair is replaced until the left side no longer occurs (the tab
// step needs one pass only, which the loop gives as well).
constexpr std::array<std::pair<const char *, const char *>, 8> kWhiteSpace = {{
    {"\t", " "},
    {"  ", " "},
    {"\n\n", "\n"},
    {"\r\r", "\r"},
    {"\r\n\r\n", "\r\n"},
    {"\n \n ", "\n "},
    {"\r \r ", "\r "},
    {"\r\n \r\n ", "\r\n "},
}};

// Replaces every match of the stage's pattern by one space; on any failure the text stays.
void RunPatternStage(const PatternStage &stage, std::string &text) {
    try {
        RegexOptions options;
        options.caseless = stage.caseless;
        const Regex regex = Regex::Compile(stage.pattern, options);
        if (!regex.Ok()) {
            return;
        }
        std::string out;
        const RegexStatus status = textutil::Replace(regex, text, " ", out);
        if (status == RegexStatus::Matched) {
            text.swap(out);
        }
    } catch (...) {
        // The stage is skipped: the text is still what it was before it.
    }
}

void ReplaceEvery(TextBuffer &buffer, const char *from, const char *to) {
    buffer.Replace(TextBuffer(from), TextBuffer(to));
}

int16_t OptionBits(int16_t options) {
    return options >= 1 && options <= 15 ? options : 0;
}

} // namespace

std::string NoHtml(std::string_view markup, int16_t options) {
    const size_t zero = markup.find('\0');
    std::string text(zero == std::string_view::npos ? markup : markup.substr(0, zero));
    const int16_t bits = OptionBits(options);
    for (const PatternStage &stage : kPatternStages) {
        if (stage.option == 0 || (bits & stage.option) != 0) {
            RunPatternStage(stage, text);
        }
    }
    return DecodeAndCollapse(std::move(text), bits);
}

std::string DecodeAndCollapse(std::string text, int16_t options) {
    const int16_t bits = OptionBits(options);
    if ((bits & (kNoHtmlEntities | kNoHtmlWhiteSpace)) == 0) {
        return text;
    }
    TextBuffer buffer(std::move(text));
    if ((bits & kNoHtmlEntities) != 0) {
        for (const auto &[entity, replacement] : kEntities) {
            ReplaceEvery(buffer, entity, replacement);
        }
    }
    if ((bits & kNoHtmlWhiteSpace) != 0) {
        for (const auto &[from, to] : kWhiteSpace) {
            while (buffer.Find(from) != 0) {
                ReplaceEvery(buffer, from, to);
            }
        }
    }
    return buffer.Text();
}

} // namespace kestrun::codecs
