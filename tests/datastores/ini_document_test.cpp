// The INI layout rules, without files.
#include "kestrun/datastores/ini_document.h"

#include <gtest/gtest.h>

namespace {

using kestrun::datastores::IniDocument;

std::u16string Find(const IniDocument &doc, std::u16string_view section, std::u16string_view key) {
    const auto value = doc.Find(section, key);
    return value ? *value : u"<none>";
}

TEST(IniDocument, ReadingRules) {
    const std::string text = "orphan=before any section\r\n"
                             "[ Main ]\r\n"
                             "  Name  =  first value  \r\n"
                             ";name=commented out\r\n"
                             "NAME=second\r\n"
                             "\tbare\r\n"
                             "\r\n"
                             "[main]\r\n"
                             "Other=in a duplicate section\r\n"
                             "[Next]\n"
                             "k=v=w"; // no final line break
    const IniDocument doc = IniDocument::Parse(text);
    EXPECT_EQ(doc.Serialize(), text);
    EXPECT_EQ(Find(doc, u"MAIN", u" name "), u"first value");
    EXPECT_EQ(Find(doc, u"main", u"bare"), u"");
    EXPECT_EQ(Find(doc, u"Main", u"Other"), u"<none>");
    EXPECT_EQ(Find(doc, u"Main", u";name"), u"<none>");
    EXPECT_EQ(Find(doc, u"", u"orphan"), u"<none>");
    EXPECT_EQ(Find(doc, u"next", u"K"), u"v=w");
    EXPECT_EQ(Find(doc, u"next", u""), u"<none>");
}

TEST(IniDocument, WritesChangeOneLineOrAddWhereExpected) {
    IniDocument doc = IniDocument::Parse("[a]\nx = 1\n; about b\n\n[b]\ny=2");
    ASSERT_TRUE(doc.Set(u"A", u"X", u"one"));
    ASSERT_TRUE(doc.Set(u"a", u"z", u"3"));
    ASSERT_TRUE(doc.Set(u"b", u"w", u"4"));
    ASSERT_TRUE(doc.Set(u"c", u"v", u"5"));
    EXPECT_EQ(doc.Serialize(), "[a]\nx = one\nz=3\n; about b\n\n[b]\ny=2\nw=4\n\n[c]\nv=5\n");
    ASSERT_TRUE(doc.Set(u"a", u"x", u""));
    EXPECT_EQ(Find(doc, u"a", u"x"), u"");

    IniDocument empty = IniDocument::Parse("");
    ASSERT_TRUE(empty.Set(u" s ", u" k ", u" v"));
    EXPECT_EQ(empty.Serialize(), "[s]\r\nk= v\r\n");
    EXPECT_EQ(Find(empty, u"s", u"k"), u"v");
}

TEST(IniDocument, EncodingsByByteOrderMark) {
    // GBK by default: "你" is C4 E3.
    IniDocument gbk = IniDocument::Parse("[s]\r\nk=\xC4\xE3\r\n");
    EXPECT_EQ(gbk.Encoding(), kestrun::datastores::IniEncoding::Ansi);
    EXPECT_EQ(Find(gbk, u"s", u"k"), u"\u4F60");
    ASSERT_TRUE(gbk.Set(u"s", u"k", u"\u597D"));
    EXPECT_EQ(gbk.Serialize(), "[s]\r\nk=\xBA\xC3\r\n");

    IniDocument utf8 = IniDocument::Parse("\xEF\xBB\xBF[s]\nk=\xE4\xBD\xA0\n");
    EXPECT_EQ(Find(utf8, u"s", u"k"), u"\u4F60");
    ASSERT_TRUE(utf8.Set(u"s", u"n", u"\u597D"));
    EXPECT_EQ(utf8.Serialize(), "\xEF\xBB\xBF[s]\nk=\xE4\xBD\xA0\nn=\xE5\xA5\xBD\n");

    // UTF-16LE, a line feed in the high byte of a character (U+0A5B) is not a line break.
    const std::string wide("\xFF\xFE[\0s\0]\0\n\0k\0=\0\x5B\x0A", 16);
    IniDocument utf16 = IniDocument::Parse(wide);
    EXPECT_EQ(Find(utf16, u"S", u"k"), u"\u0A5B");
    EXPECT_EQ(utf16.Serialize(), wide);
    ASSERT_TRUE(utf16.Set(u"s", u"n", u"\u597D"));
    EXPECT_EQ(utf16.Serialize(), wide + std::string("\n\0n\0=\0\x7D\x59\n\0", 10));
    EXPECT_FALSE(utf16.Set(u"s", u"k", u"two\nlines")); // could not be read back

    // A UTF-16 file cut inside its last character: the half character reads as nothing, and the
    // lines added after it are whole characters that read back.
    const std::string cut("\xFF\xFE[\0s\0]\0\n\0k\0=\0v\0\x41", 17);
    IniDocument odd = IniDocument::Parse(cut);
    EXPECT_EQ(odd.Serialize(), cut);
    EXPECT_EQ(Find(odd, u"s", u"k"), u"v");
    ASSERT_TRUE(odd.Set(u"s", u"n", u"w"));
    ASSERT_TRUE(odd.Set(u"t", u"x", u"y"));
    const IniDocument reread = IniDocument::Parse(odd.Serialize());
    EXPECT_EQ(Find(reread, u"s", u"k"), u"v");
    EXPECT_EQ(Find(reread, u"s", u"n"), u"w");
    EXPECT_EQ(Find(reread, u"t", u"x"), u"y");
}

} // namespace
