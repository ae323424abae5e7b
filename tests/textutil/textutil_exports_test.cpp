// Text utility exports called as a Visual Basic host calls them.
#include "vbhost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vbhost::Array;
using vbhost::Gbk;
using vbhost::String;
using vbhost::Take;
using vbhost::TakeText;

int16_t Search(std::string_view text, std::string_view pattern, Array &matches, int16_t limit) {
    String t(text);
    String p(pattern);
    return Regex_Search(t.ref(), p.ref(), matches.ref(), limit);
}

std::string Replace(std::string_view text, std::string_view pattern, std::string_view format) {
    String t(text);
    String p(pattern);
    String f(format);
    return TakeText(Regex_Replace(t.ref(), p.ref(), f.ref()));
}

} // namespace

TEST(RegexSearchExport, ArrayLeavesElementZeroEmpty) {
    Array m;
    m.CreateStrings({{3, 0}});
    ASSERT_EQ(Search("ab12cd345ef6", "\\d+", m, -1), 1);
    ASSERT_EQ(m.count(0), 4u);
    EXPECT_EQ(m.at({0}), std::nullopt);
    EXPECT_EQ(m.at({1}), "12");
    EXPECT_EQ(m.at({2}), "345");
    EXPECT_EQ(m.at({3}), "6");
    EXPECT_EQ(Search("ab12cd345ef6", "\\d+", m, 2), 1);
    EXPECT_EQ(m.count(0), 3u);
    EXPECT_EQ(Search("ab12cd345ef6", "\\d+", m, 0), 1);
    EXPECT_EQ(m.count(0), 2u);
    EXPECT_EQ(Search("abc", "\\d", m, -1), 1);
    EXPECT_EQ(m.count(0), 1u);
    // Case-sensitive; a GBK character is two bytes.
    EXPECT_EQ(Search("ABC", "abc", m, -1), 1);
    EXPECT_EQ(m.count(0), 1u);
    const std::string ni = Gbk("你");
    EXPECT_EQ(Search(ni, "^..$", m, -1), 1);
    EXPECT_EQ(m.at({1}), ni);
    EXPECT_EQ(Search(ni, "^.$", m, -1), 1);
    EXPECT_EQ(m.count(0), 1u);
}

TEST(RegexSearchExport, FailureCodes) {
    Array m;
    String unset;
    String pattern("a");
    EXPECT_EQ(Regex_Search(unset.ref(), pattern.ref(), m.ref(), -1), -101);
    EXPECT_EQ(m.get(), nullptr);
    EXPECT_EQ(Regex_Search(nullptr, pattern.ref(), m.ref(), -1), -101);
    String text("abc");
    EXPECT_EQ(Regex_Search(text.ref(), pattern.ref(), nullptr, -1), -102);
    // A pattern that does not compile: its own code, and the one-element array.
    EXPECT_EQ(Search("abc", "a(", m, -1), -104);
    EXPECT_EQ(m.count(0), 1u);
    // A search that gives up.
    EXPECT_EQ(Search(std::string(5000, 'a') + "!", "^(a|a)+$", m, -1), -105);
    EXPECT_EQ(m.count(0), 1u);
    // An unset pattern reads as the empty pattern, which matches empty at every byte.
    EXPECT_EQ(Regex_Search(text.ref(), unset.ref(), m.ref(), -1), 1);
    EXPECT_EQ(m.count(0), 5u);
    EXPECT_EQ(m.at({4}), "");
}

TEST(RegexSearchExport, ALockedArrayIsKept) {
    // A host iterating over the array (For Each) holds it locked: it cannot be replaced.
    Array m;
    m.CreateStrings({{2, 0}});
    m.set({1}, "kept");
    SAFEARRAY *held = m.get();
    ASSERT_EQ(SafeArrayLock(held), S_OK);
    EXPECT_EQ(Search("ab12", "\\d+", m, -1), -102);
    EXPECT_EQ(m.get(), held);
    EXPECT_EQ(m.at({1}), "kept");
    ASSERT_EQ(SafeArrayUnlock(held), S_OK);
    EXPECT_EQ(Search("ab12", "\\d+", m, -1), 1);
    EXPECT_EQ(m.at({1}), "12");
}

TEST(RegexReplaceExport, CaselessAndDollarRules) {
    EXPECT_EQ(Replace("ABC abc", "abc", "x"), "x x");
    EXPECT_EQ(Replace("k=v; a=b", "(\\w)=(\\w)", "($1)"), "(k); (a)");
    EXPECT_EQ(Replace("k=v", "(\\w)=(\\w)", "$2$$$1$&$0"), "v$kk=v$0");
    EXPECT_EQ(Replace("abc", "a(", "x"), "abc");
    EXPECT_EQ(Replace("", "a", "x"), "");
    String unset;
    String p("a");
    String f("x");
    EXPECT_EQ(Take(Regex_Replace(unset.ref(), p.ref(), f.ref())), "");
    EXPECT_EQ(Take(Regex_Replace(nullptr, p.ref(), f.ref())), "");
    String text("banana");
    EXPECT_EQ(Take(Regex_Replace(text.ref(), nullptr, unset.ref())), "banana");
    EXPECT_EQ(Take(Regex_Replace(text.ref(), p.ref(), nullptr)), "bnn");
}

TEST(ExplodeDataExport, LengthOfTheStretch) {
    String text("id=<12345>;");
    String start("<");
    String end(">");
    String unset;
    EXPECT_EQ(Take(ExplodeData(text.ref(), start.ref(), end.ref())), "5");
    EXPECT_EQ(Take(ExplodeData(text.ref(), unset.ref(), end.ref())), "");
    EXPECT_EQ(Take(ExplodeData(text.ref(), nullptr, end.ref())), "");
    EXPECT_EQ(Take(ExplodeData(unset.ref(), start.ref(), end.ref())), "");
    EXPECT_EQ(Take(ExplodeData(text.ref(), start.ref(), unset.ref())), "0");
    EXPECT_EQ(Take(ExplodeData(text.ref(), start.ref(), nullptr)), "0");
}

TEST(ExplodeDataExport, MarkersThatAlmostMatchEverywhere) {
    // Long markers over a text that repeats their start: the first real occurrence is found.
    const std::string marker = std::string(3000, 'a') + "b";
    String text(std::string(20000, 'a') + "b" + std::string(7, 'x') + "ab");
    String start(marker);
    String end(std::string(2000, 'x') + "y");
    String shortEnd("ab");
    EXPECT_EQ(Take(ExplodeData(text.ref(), start.ref(), shortEnd.ref())), "7");
    EXPECT_EQ(Take(ExplodeData(text.ref(), start.ref(), end.ref())), "");
}

TEST(StrCompareExport, ShareOfEqualPositions) {
    String a("abc");
    String b("abd");
    String empty("");
    String unset;
    EXPECT_DOUBLE_EQ(StrCompare(a.ref(), b.ref()), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(StrCompare(a.ref(), unset.ref()), 0.0);
    EXPECT_DOUBLE_EQ(StrCompare(nullptr, a.ref()), 0.0);
    EXPECT_DOUBLE_EQ(StrCompare(a.ref(), empty.ref()), 0.0);
    EXPECT_DOUBLE_EQ(StrCompare(empty.ref(), empty.ref()), 1.0);
}

TEST(ListingExports, CountsSeparatorsAndBounds) {
    String items("abc");
    String comma(",");
    String unset;
    int32_t count = 99;
    EXPECT_EQ(TakeText(Permutation(items.ref(), comma.ref(), &count)), "abc,acb,bac,bca,cba,cab");
    EXPECT_EQ(count, 6);
    EXPECT_EQ(TakeText(Combination(items.ref(), comma.ref(), &count)), "a,b,ab,c,ac,bc,abc");
    EXPECT_EQ(count, 7);
    // A missing separator or item text: empty result, count untouched.
    count = 99;
    EXPECT_EQ(Take(Permutation(items.ref(), unset.ref(), &count)), "");
    EXPECT_EQ(Take(Combination(unset.ref(), comma.ref(), &count)), "");
    EXPECT_EQ(Take(Combination(items.ref(), nullptr, &count)), "");
    EXPECT_EQ(count, 99);
    // Too large: empty result and count 0.
    String many(std::string(31, 'x'));
    EXPECT_EQ(Take(Combination(many.ref(), comma.ref(), &count)), "");
    EXPECT_EQ(count, 0);
    count = 99;
    String eleven("abcdefghijk");
    EXPECT_EQ(Take(Permutation(eleven.ref(), comma.ref(), &count)), "");
    EXPECT_EQ(count, 0);
    // Empty items; a null count pointer is tolerated.
    String none("");
    EXPECT_EQ(Take(Permutation(none.ref(), comma.ref(), &count)), "");
    EXPECT_EQ(count, 1);
    EXPECT_EQ(Take(Combination(none.ref(), comma.ref(), &count)), "");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TakeText(Permutation(items.ref(), comma.ref(), nullptr)).size(), 23u);
}
