// NoHTML's stages against references: the pattern stages run by the plain interpreter without
// start-of-match optimisations, the text stages as step-by-step TextBuffer replacements.
#include "kestrun/codecs/nohtml.h"
#include "kestrun/interop/strings.h"
#include "kestrun/textutil/regex_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using kestrun::interop::TextBuffer;

// Every step as written: each entity replaced in order, then each "while it occurs, replace".
std::string Reference(const std::string &input, int16_t options) {
    const std::vector<std::pair<std::string, std::string>> entities = {
        {"&gt;", ">"},          {"&lt;", "<"},    {"&amp;", "&"},         {"&#60;", "<"},
        {"&#62;", ">"},         {"&#38;", "&"},   {"&#34;", "\""},        {"&#39;", "'"},
        {"&#8194;", "?"},       {"&#8195;", "?"}, {"&#160;", " "},        {"&#169;", "?"},
        {"&#174;", "?"},        {"&#8482;", "?"}, {"&#215;", "\xA1\xC1"}, {"&#247;", "\xA1\xC2"},
        {"&quot;", "\""},       {"&apos;", "'"},  {"&ensp;", "?"},        {"&emsp;", "?"},
        {"&nbsp;", " "},        {"&copy;", "?"},  {"&reg;", "?"},         {"&times;", "\xA1\xC1"},
        {"&pide;", "\xA1\xC2"},
    };
    const std::vector<std::pair<std::string, std::string>> spaces = {
        {"\t", " "},          {"  ", " "},       {"\n\n", "\n"},    {"\r\r", "\r"},
        {"\r\n\r\n", "\r\n"}, {"\n \n ", "\n "}, {"\r \r ", "\r "}, {"\r\n \r\n ", "\r\n "},
    };
    TextBuffer buffer(input);
    if (options & 4) {
        for (const auto &[from, to] : entities) {
            buffer.Replace(TextBuffer(from), TextBuffer(to));
        }
    }
    if (options & 8) {
        for (const auto &[from, to] : spaces) {
            while (buffer.Find(from.c_str()) != 0) {
                buffer.Replace(TextBuffer(from), TextBuffer(to));
            }
        }
    }
    return buffer.Text();
}

} // namespace

TEST(NoHtmlTextStages, MatchTheStepByStepReference) {
    // Fragments that form, split and chain entities and runs of white space.
    const std::vector<std::string> pieces = {
        "&",        "amp;",   "&amp;",  "#60;",    "#38;",  "&#38;",  "lt;",  "gt;", "nbsp;",
        "&nbsp;",   "&#160;", "quot;",  "&times;", "#",     "6",      "0",    ";",   "a",
        "\xC4\xE3", " ",      "  ",     "\t",      "\r",    "\n",     "\r\n", "\n ", "\r ",
        "\r\n ",    "x&y",    "&pide;", "&#8482;", "&reg;", "&apos;",
    };
    std::mt19937 rng(12345);
    std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        for (int n = length(rng); n > 0; --n) {
            text += pieces[pick(rng)];
        }
        for (int16_t options : {4, 8, 12}) {
            ASSERT_EQ(kestrun::codecs::DecodeAndCollapse(text, options), Reference(text, options))
                << "options " << options << " text [" << text << "]";
        }
    }
    EXPECT_EQ(kestrun::codecs::DecodeAndCollapse("a  b&amp;", 3), "a  b&amp;");
}

namespace {

// The pattern stages with the engine's most literal settings: no JIT code, no start-of-match
// optimisations.
std::string PlainPatternStages(std::string text, int16_t options) {
    using namespace kestrun::textutil;
    const int16_t bits = options >= 1 && options <= 15 ? options : 0;
    const struct {
        const char *pattern;
        bool caseless;
        int16_t option;
    } stages[] = {
        {R"((\<style(.*?)\>[^]*?\<\/style>))", true, 1},
        {R"((\<script(.*?)\>[^]*?\<\/script>))", true, 2},
        {R"((\<.[^\<]*\>))", false, 0},
        {R"((\<\/[^\<]*\>))", false, 0},
    };
    for (const auto &stage : stages) {
        if (stage.option != 0 && (bits & stage.option) == 0) {
            continue;
        }
        RegexOptions plain;
        plain.useJit = false;
        plain.caseless = stage.caseless;
        std::string out;
        if (Replace(Regex::Compile(stage.pattern, plain), text, " ", out) == RegexStatus::Matched) {
            text.swap(out);
        }
    }
    return kestrun::codecs::DecodeAndCollapse(std::move(text), options);
}

} // namespace

TEST(NoHtmlPatternStages, MatchThePlainInterpreter) {
    const std::vector<std::string> pieces = {
        "<style>",   "<STYLE type=x>",
        "</style>",  "</Style >",
        "<script>",  "<SCRIPT\n>",
        "</script>", "</scripT>",
        "<",         ">",
        "</",        "<b>",
        "</b>",      "<\n>",
        "< >",       "<<",
        ">>",        "a",
        " ",         "\r\n",
        "\n",        "&amp;",
        "&lt;",      "\xC4\xE3",
        "style",     "/",
        "<style",
    };
    std::mt19937 rng(777);
    std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 30);
    std::uniform_int_distribution<int> option(0, 15);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int n = length(rng); n > 0; --n) {
            text += pieces[pick(rng)];
        }
        const auto options = static_cast<int16_t>(option(rng));
        ASSERT_EQ(kestrun::codecs::NoHtml(text, options), PlainPatternStages(text, options))
            << "options " << options << " text [" << text << "]";
    }
}
