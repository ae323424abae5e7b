// The entity and white-space stages against a step-by-step reference built on TextBuffer.
#include "kestrun/codecs/nohtml.h"
#include "kestrun/interop/strings.h"

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
