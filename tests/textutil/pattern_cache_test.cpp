// The shared cache of compiled patterns: reuse, bounds, switching off, and many threads
// compiling, evicting and matching at once.
#include "kestrun/textutil/pattern_cache.h"
#include "kestrun/textutil/regex_engine.h"
#include "kestrun/textutil/text_utils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrun::textutil;

// Restores the switch whatever a test did to it.
struct SwitchGuard {
    ~SwitchGuard() { SetPatternCachesEnabled(true); }
};

TEST(PatternCache, KeepsCompiledPatternsWithinItsBounds) {
    SwitchGuard guard;
    PatternCache<std::string> cache(3, 8, 1000, [](const std::string &s) { return s.size(); });
    int compiles = 0;
    auto make = [&](std::string text) {
        return [&compiles, text] {
            ++compiles;
            return std::make_shared<const std::string>(text);
        };
    };
    const auto a = cache.Get("a", make("A"));
    EXPECT_EQ(cache.Get("a", make("other")), a); // a hit: the same object, no compile
    EXPECT_EQ(compiles, 1);
    cache.Get("b", make("B"));
    cache.Get("c", make("C"));
    cache.Get("a", make("A")); // "a" is now the most recently used
    cache.Get("d", make("D")); // evicts "b", the least recently used
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_EQ(compiles, 4);
    cache.Get("a", make("A"));
    EXPECT_EQ(compiles, 4);
    cache.Get("b", make("B"));
    EXPECT_EQ(compiles, 5);
    EXPECT_EQ(*a, "A"); // an evicted or replaced entry stays alive for its holders
    // Long keys and failures are never kept.
    cache.Get("a very long key", make("L"));
    cache.Get("a very long key", make("L"));
    EXPECT_EQ(compiles, 7);
    int failures = 0;
    auto fail = [&] {
        ++failures;
        return std::shared_ptr<const std::string>();
    };
    EXPECT_EQ(cache.Get("bad", fail), nullptr);
    EXPECT_EQ(cache.Get("bad", fail), nullptr);
    EXPECT_EQ(failures, 2);
    // Switched off, nothing is looked up or kept.
    SetPatternCachesEnabled(false);
    cache.Get("a", make("A"));
    EXPECT_EQ(compiles, 8);
    SetPatternCachesEnabled(true);
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
    EXPECT_EQ(cache.Bytes(), 0u);
}

TEST(PatternCache, HoldsNoMoreThanItsByteBound) {
    PatternCache<std::string> cache(10, 8, 100, [](const std::string &s) { return s.size(); });
    auto text = [](size_t n) {
        return [n] { return std::make_shared<const std::string>(n, 'x'); };
    };
    cache.Get("a", text(40)); // 41 bytes with its key
    cache.Get("b", text(40));
    EXPECT_EQ(cache.Bytes(), 82u);
    cache.Get("c", text(40)); // over 100: "a" goes
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_EQ(cache.Bytes(), 82u);
    cache.Get("huge", text(200)); // larger than the bound on its own: not kept
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_LE(cache.Bytes(), 100u);
    EXPECT_GT(CompileCached("(a|b)+c")->CodeBytes(), 0u);
}

TEST(CompileCached, SharesOnePatternPerOptionsAndReportsBadPatterns) {
    SwitchGuard guard;
    const auto first = CompileCached("a(b+)c");
    EXPECT_EQ(CompileCached("a(b+)c"), first);
    RegexOptions caseless;
    caseless.caseless = true;
    const auto other = CompileCached("a(b+)c", caseless);
    EXPECT_NE(other, first);
    RegexMatch match;
    EXPECT_EQ(other->Find("xABBC", 0, match), RegexStatus::Matched);
    EXPECT_EQ(first->Find("xABBC", 0, match), RegexStatus::NoMatch);
    const auto bad = CompileCached("a(");
    ASSERT_NE(bad, nullptr);
    EXPECT_FALSE(bad->Ok());
    EXPECT_FALSE(bad->ErrorMessage().empty());
    SetPatternCachesEnabled(false);
    EXPECT_NE(CompileCached("a(b+)c"), first); // compiled afresh
    EXPECT_EQ(ReplaceMatches("abbc", "a(b+)c", "[$1]"), "[bb]");
}

// More distinct patterns than the cache holds, from several threads: lookups, compiles,
// evictions and matches overlap, and every result must still be right.
TEST(CompileCached, ThreadsShareAndEvictSafely) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int round = 0; round < 150; ++round) {
                const int n = (round * 7 + t * 13) % 90;
                const std::string pattern = "<(/?)t" + std::to_string(n) + ">";
                const std::string text =
                    "a<t" + std::to_string(n) + ">b</t" + std::to_string(n) + ">";
                const std::string expected = "a[]b[/]";
                if (ReplaceMatches(text, pattern, "[$1]") != expected) {
                    ++wrong;
                }
                std::vector<std::string_view> found;
                if (SearchMatches(text, pattern, -1, found) != SearchOutcome::Ok ||
                    found.size() != 2) {
                    ++wrong;
                }
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
