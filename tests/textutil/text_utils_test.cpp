#include "kestrun/textutil/text_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrun::textutil;

namespace {

std::vector<std::string> Search(std::string_view text, std::string_view pattern, int limit,
                                SearchOutcome expected = SearchOutcome::Ok) {
    std::vector<std::string_view> views;
    EXPECT_EQ(SearchMatches(text, pattern, limit, views), expected);
    return {views.begin(), views.end()};
}

} // namespace

TEST(SearchMatches, LimitsAndNewBeginnings) {
    const std::vector<std::string> all = {"12", "345", "6"};
    EXPECT_EQ(Search("a12b345cd6e", "\\d+", -1), all);
    EXPECT_EQ(Search("a12b345cd6e", "\\d+", 2), (std::vector<std::string>{"12", "345"}));
    for (int limit : {0, 1, -2, -32768}) {
        EXPECT_EQ(Search("a12b345cd6e", "\\d+", limit), std::vector<std::string>{"12"});
    }
    EXPECT_EQ(Search("a12b345cd6e", "\\d+", 100), all);
    EXPECT_EQ(Search("abc", "\\d", -1), std::vector<std::string>{});
    // Each search after a match starts a new beginning: ^ matches there, \b sees no word before.
    EXPECT_EQ(Search("aaa", "^a", -1), (std::vector<std::string>{"a", "a", "a"}));
    EXPECT_EQ(Search("abcd", "\\bab|\\bcd", -1), (std::vector<std::string>{"ab", "cd"}));
    EXPECT_EQ(Search("a1b2", "(\\w)(\\d)", -1), (std::vector<std::string>{"a1", "b2"}));
}

TEST(SearchMatches, EmptyMatchesAdvanceOneByte) {
    EXPECT_EQ(Search("baa", "a*", -1), (std::vector<std::string>{"", "aa", ""}));
    EXPECT_EQ(Search("ab", "", -1), (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(Search("baa", "a*", 2), (std::vector<std::string>{"", "aa"}));
    EXPECT_EQ(Search("", "x*", -1), std::vector<std::string>{""});
    // Every start is a new beginning, so ^ matches empty at each byte.
    EXPECT_EQ(Search("xyz", "^", -1).size(), 4u);
}

TEST(SearchMatches, FailuresAreReported) {
    std::vector<std::string_view> views;
    EXPECT_EQ(SearchMatches(std::string(100, 'x'), "", -1, views, 50), SearchOutcome::GaveUp);
    EXPECT_TRUE(views.empty());
    EXPECT_EQ(SearchMatches(std::string(100, 'x'), "", 20, views, 50), SearchOutcome::Ok);
    EXPECT_EQ(views.size(), 20u);
    EXPECT_EQ(Search("abc", "(", -1, SearchOutcome::InvalidPattern), std::vector<std::string>{});
    EXPECT_EQ(Search(std::string(5000, 'a') + "!", "^(a|a)+$", -1, SearchOutcome::GaveUp),
              std::vector<std::string>{});
}

TEST(ReplaceMatches, CaselessWithFormatAndFallback) {
    EXPECT_EQ(ReplaceMatches("ABC abc", "abc", "x"), "x x");
    EXPECT_EQ(ReplaceMatches("k1=v1;k2=v2", "(\\w+)=(\\w+)", "[$1]"), "[k1];[k2]");
    EXPECT_EQ(ReplaceMatches("a-b", "-", "$$"), "a$b");
    EXPECT_EQ(ReplaceMatches("abc", "(b", "x"), "abc");
    EXPECT_EQ(ReplaceMatches("", "x", "y"), "");
    EXPECT_EQ(ReplaceMatches(std::string(5000, 'a') + "!", "^(a|a)+$", "x"),
              std::string(5000, 'a') + "!");
}

TEST(ExplodeLength, MeasuresTheFirstStretch) {
    EXPECT_EQ(ExplodeLength("x[abcde]y", "[", "]"), "5");
    EXPECT_EQ(ExplodeLength("[ab][abcd]", "[", "]"), "2");
    EXPECT_EQ(ExplodeLength("]x[ab", "[", "]"), "");
    EXPECT_EQ(ExplodeLength("abc", "[", "]"), "");
    EXPECT_EQ(ExplodeLength("abc", "", "c"), "2");
    EXPECT_EQ(ExplodeLength("abc", "a", ""), "0");
    EXPECT_EQ(ExplodeLength("<<a>>", "<<", ">>"), "1");
    EXPECT_EQ(ExplodeLength("a==b", "=", "="), "0");
}

TEST(Likeness, PositionByPosition) {
    EXPECT_DOUBLE_EQ(Likeness("abc", "abd"), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(Likeness("abc", "abcdef"), 1.0);
    EXPECT_DOUBLE_EQ(Likeness("aBc", "abC"), 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(Likeness("xabc", "abc"), 0.0);
    EXPECT_DOUBLE_EQ(Likeness("", ""), 1.0);
    EXPECT_DOUBLE_EQ(Likeness("", "abc"), 0.0);
    EXPECT_DOUBLE_EQ(Likeness("abc", ""), 0.0);
}

TEST(Permutations, ExchangeOrderAndBounds) {
    auto p = Permutations("abc", ",");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->text, "abc,acb,bac,bca,cba,cab");
    EXPECT_EQ(p->count, 6);
    p = Permutations("aa", "");
    EXPECT_EQ(p->text, "aaaa");
    EXPECT_EQ(p->count, 2);
    p = Permutations("", ",");
    EXPECT_EQ(p->text, "");
    EXPECT_EQ(p->count, 1);
    p = Permutations("abcdefgh", " | ");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->count, 40320);
    EXPECT_EQ(p->text.size(), 40320u * 8 + 40319u * 3);
    EXPECT_EQ(p->text.substr(0, 20), "abcdefgh | abcdefhg ");
    // 11 items: 11! entries of 11 bytes exceed the size bound.
    EXPECT_FALSE(Permutations("abcdefghijk", ""));
    EXPECT_FALSE(Permutations(std::string(40, 'x'), ","));
    EXPECT_FALSE(Permutations(std::string(100000, 'x'), ","));
}

TEST(Combinations, BitMaskOrderAndBounds) {
    auto c = Combinations("abc", ",");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->text, "a,b,ab,c,ac,bc,abc");
    EXPECT_EQ(c->count, 7);
    c = Combinations("abc", "--");
    EXPECT_EQ(c->text, "a--b--ab--c--ac--bc--abc");
    c = Combinations("", ",");
    EXPECT_EQ(c->text, "");
    EXPECT_EQ(c->count, 0);
    c = Combinations(std::string(16, 'x'), ",");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->count, 65535);
    EXPECT_EQ(c->text.size(), 16u * 32768 + 65534u);
    // Too many subsets for the size bound, too many items for a 32-bit count.
    EXPECT_FALSE(Combinations(std::string(25, 'x'), ","));
    EXPECT_FALSE(Combinations(std::string(31, 'x'), ""));
    EXPECT_FALSE(Combinations(std::string(1000, 'x'), ""));
}
