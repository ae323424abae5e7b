#include "kestrun/textutil/regex_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace kestrun::textutil;

namespace {

RegexOptions WithJit(bool jit, RegexOptions o = {}) {
    o.useJit = jit;
    return o;
}

// Every match of `pattern` in `subject` as "pos:text", plus the final status when it is not
// NoMatch.
std::vector<std::string> AllMatches(std::string_view pattern, std::string_view subject,
                                    RegexOptions options = {}) {
    std::vector<std::string> out;
    const Regex re = Regex::Compile(pattern, options);
    if (!re.Ok()) {
        return {"compile error"};
    }
    const RegexStatus status = ForEachMatch(re, subject, [&](const RegexMatch &m) {
        out.push_back(std::to_string(m.Position()) + ":" + std::string(m.Group(subject, 0)));
        return true;
    });
    if (status == RegexStatus::LimitExceeded) {
        out.push_back("limit");
    } else if (status == RegexStatus::Failed) {
        out.push_back("failed");
    }
    return out;
}

std::string ReplaceAllText(std::string_view pattern, std::string_view subject,
                           std::string_view format, RegexOptions options = {}) {
    const Regex re = Regex::Compile(pattern, options);
    std::string out = "<unchanged>";
    if (re.Ok()) {
        Replace(re, subject, format, out);
    }
    return out;
}

} // namespace

TEST(RegexEngine, EcmaScriptFlavourOverBytes) {
    for (bool jit : {false, true}) {
        SCOPED_TRACE(jit);
        const RegexOptions o = WithJit(jit);
        // [^] is any byte, line breaks included; [] matches nothing; "." excludes CR and LF.
        EXPECT_EQ(AllMatches("a[^]b", "a\nb a\rb", o),
                  (std::vector<std::string>{"0:a\nb", "4:a\rb"}));
        EXPECT_EQ(AllMatches("a[]b", "ab a[]b", o), std::vector<std::string>{});
        EXPECT_EQ(AllMatches("a.b", "a\nb a\rb axb", o), std::vector<std::string>{"8:axb"});
        // \u and \x escapes read as ECMAScript does; \< and \/ are plain characters.
        EXPECT_EQ(AllMatches("\\u0041\\x42\\<\\/", "zAB</", o), std::vector<std::string>{"1:AB</"});
        // A back reference to a group that did not take part matches the empty string.
        EXPECT_EQ(AllMatches("(?:(a)|b)\\1c", "bc", o), std::vector<std::string>{"0:bc"});
        // $ only at the very end unless multiline; ^ only at the start.
        EXPECT_EQ(AllMatches("a$", "a\na", o), std::vector<std::string>{"2:a"});
        EXPECT_EQ(AllMatches("^a", "aaa", o), std::vector<std::string>{"0:a"});
        RegexOptions ml = o;
        ml.multiline = true;
        EXPECT_EQ(AllMatches("^\\w+$", "ab\r\ncd\ref", ml),
                  (std::vector<std::string>{"0:ab", "4:cd", "7:ef"}));
        // ^ and $ at every CR and LF, also between the two bytes of CR LF.
        EXPECT_EQ(AllMatches("^", "a\r\nb", ml), (std::vector<std::string>{"0:", "2:", "3:"}));
        EXPECT_EQ(AllMatches("$", "a\r\nb", ml), (std::vector<std::string>{"1:", "2:", "4:"}));
        EXPECT_EQ(AllMatches("^\\n", "a\r\n\nb", ml), (std::vector<std::string>{"2:\n", "3:\n"}));
        EXPECT_EQ(AllMatches("[$^]", "$^", ml), (std::vector<std::string>{"0:$", "1:^"}));
        EXPECT_EQ(AllMatches("[[:alpha:]^]+$", "ab^\nc", ml),
                  (std::vector<std::string>{"0:ab^", "4:c"}));
        // Each byte is one character: a GBK character is two of them.
        const std::string ni = "\xC4\xE3"; // 你
        EXPECT_EQ(AllMatches("^.$", ni, o), std::vector<std::string>{});
        EXPECT_EQ(AllMatches("^..$", ni, o), std::vector<std::string>{"0:" + ni});
        // Classes and caseless matching know ASCII only.
        EXPECT_EQ(AllMatches("\\w+",
                             "ab\xC4\xE3"
                             "cd",
                             o),
                  (std::vector<std::string>{"0:ab", "4:cd"}));
        RegexOptions ci = o;
        ci.caseless = true;
        EXPECT_EQ(AllMatches("abc", "xABCx", ci), std::vector<std::string>{"1:ABC"});
        EXPECT_EQ(AllMatches("\xC4", "\xE4", ci), std::vector<std::string>{});
        EXPECT_EQ(AllMatches("abc", "xABCx", o), std::vector<std::string>{});
        // Lazy and greedy quantifiers, lookahead, leftmost-first alternation.
        EXPECT_EQ(AllMatches("<.*?>", "<a><b>", o), (std::vector<std::string>{"0:<a>", "3:<b>"}));
        EXPECT_EQ(AllMatches("a|ab", "ab", o), std::vector<std::string>{"0:a"});
        EXPECT_EQ(AllMatches("\\d+(?=px)", "10em 20px", o), std::vector<std::string>{"5:20"});
    }
}

TEST(RegexEngine, CrLfDoesNotHideMatchesStartingAtTheLineFeed) {
    // The interpreter would skip the LF of a CRLF after a failed attempt at the CR.
    for (bool jit : {false, true}) {
        SCOPED_TRACE(jit);
        EXPECT_EQ(AllMatches("\\WA", "\r\nA", WithJit(jit)), std::vector<std::string>{"1:\nA"});
        EXPECT_EQ(AllMatches("[^x]y", "\r\ny", WithJit(jit)), std::vector<std::string>{"1:\ny"});
        EXPECT_EQ(AllMatches("a\\Qb", "ab", WithJit(jit)), std::vector<std::string>{"0:ab"});
        EXPECT_EQ(AllMatches("(?x) \\s A # comment", "\r\nA", WithJit(jit)),
                  std::vector<std::string>{"1:\nA"});
    }
}

TEST(RegexEngine, VerticalTabEscapeIsTheVerticalTabAlone) {
    // Not every vertical space: the byte 85 hex is a GBK lead byte.
    const std::string text = "a\x85"
                             "b\x0B"
                             "c\n";
    EXPECT_EQ(AllMatches("\\v", text), std::vector<std::string>{"3:\x0B"});
    EXPECT_EQ(AllMatches("[\\v\\n]", text), (std::vector<std::string>{"3:\x0B", "5:\n"}));
    EXPECT_EQ(AllMatches("\\\\v", "\\v"), std::vector<std::string>{"0:\\v"});
    EXPECT_EQ(AllMatches("\\Q\\v\\E", "\\v"), std::vector<std::string>{"0:\\v"});
    EXPECT_EQ(AllMatches("\\c\\v", "\x1Cv"), std::vector<std::string>{"0:\x1Cv"});
    const Regex bad = Regex::Compile("\\v(");
    EXPECT_FALSE(bad.Ok());
    EXPECT_EQ(bad.ErrorOffset(), 3u);
}

// Where the engine still departs from ECMAScript (documented in docs/textutil.md); pinned so that a
// change of behaviour is noticed.
TEST(RegexEngine, KnownDeparturesFromEcmaScript) {
    // Extensions are accepted: lookbehind, named groups, atomic groups, inline options.
    EXPECT_EQ(AllMatches("(?<=a)b", "ab"), std::vector<std::string>{"1:b"});
    EXPECT_EQ(AllMatches("(?<n>a)\\k<n>", "aa"), std::vector<std::string>{"0:aa"});
    EXPECT_EQ(AllMatches("a*+a", "aaa"), std::vector<std::string>{});
    EXPECT_EQ(AllMatches("(?s)a.b", "a\nb"), std::vector<std::string>{"0:a\nb"});
    // \G holds where each search starts: global matching continues only from a match's end.
    const std::string xs = std::string(100'000, 'x') + "ab";
    EXPECT_EQ(AllMatches("\\Ga|b", xs), std::vector<std::string>{"100001:b"});
    EXPECT_EQ(AllMatches("\\Gx", "xxyx"), (std::vector<std::string>{"0:x", "1:x"}));
    // ECMAScript's identity escapes of letters and \u beyond one byte are rejected.
    EXPECT_FALSE(Regex::Compile("\\y").Ok());
    EXPECT_FALSE(Regex::Compile("\\u4E2D").Ok());
    // A group inside a repetition keeps its last capture (ECMAScript resets it each pass).
    const Regex repeated = Regex::Compile("(?:(a)|b)+");
    RegexMatch m;
    ASSERT_EQ(repeated.Find("ab", 0, m), RegexStatus::Matched);
    EXPECT_TRUE(m.GroupMatched(1));
}

TEST(RegexEngine, GroupsDistinguishUnsetFromEmpty) {
    const std::string subject = "xb";
    const Regex re = Regex::Compile("(a)?(b)()");
    ASSERT_TRUE(re.Ok());
    EXPECT_EQ(re.GroupCount(), 3u);
    RegexMatch m;
    ASSERT_EQ(re.Find(subject, 0, m), RegexStatus::Matched);
    EXPECT_EQ(m.Position(), 1u);
    EXPECT_FALSE(m.GroupMatched(1));
    EXPECT_TRUE(m.GroupMatched(2));
    EXPECT_TRUE(m.GroupMatched(3));
    EXPECT_EQ(m.groups[3].offset, 2u);
    EXPECT_EQ(m.Group(subject, 2), "b");
    EXPECT_EQ(m.Group(subject, 9), "");
    // A start offset keeps the text before it visible to \b and lookbehind.
    const Regex word = Regex::Compile("\\bcd");
    EXPECT_EQ(word.Find("abcd", 2, m), RegexStatus::NoMatch);
    EXPECT_EQ(word.Find(std::string_view("abcd").substr(2), 0, m), RegexStatus::Matched);
    EXPECT_EQ(word.Find("abcd", 5, m), RegexStatus::Failed);
}

TEST(RegexEngine, InvalidPatternsReportAnError) {
    for (std::string_view bad : {"(", "a)", "[a", "a{2,1}", "*a", "a\\", "(?<n", "\\u01FF"}) {
        const Regex re = Regex::Compile(bad);
        EXPECT_FALSE(re.Ok()) << bad;
        EXPECT_FALSE(re.ErrorMessage().empty());
        RegexMatch m;
        EXPECT_EQ(re.Find("abc", 0, m), RegexStatus::Failed);
    }
    // Byte patterns may not switch to UTF mode.
    EXPECT_FALSE(Regex::Compile("(*UTF)a").Ok());
}

TEST(RegexEngine, RunawayMatchesGiveUpWithAndWithoutJit) {
    const std::string as = std::string(40, 'a') + "!";
    const std::string bigBlock = "<style>" + std::string(2'000'000, 'x') + "</style>";
    for (bool jit : {false, true}) {
        SCOPED_TRACE(jit);
        RegexOptions o = WithJit(jit);
        o.matchLimit = 1'000'000;
        RegexMatch m;
        const Regex nested = Regex::Compile("^(a+)+$", o);
        EXPECT_EQ(nested.Find(as, 0, m), RegexStatus::LimitExceeded);
        // A long lazy scan stays within the machine stack and gives up at the step limit.
        const Regex style = Regex::Compile("<style>[^]*?</style>", o);
        EXPECT_EQ(style.Find(bigBlock, 0, m), RegexStatus::LimitExceeded);
        // Deep backtracking state is bounded by the memory limit.
        RegexOptions small = o;
        small.memoryLimitKiB = 1024;
        small.matchLimit = 100'000'000;
        const Regex alternation = Regex::Compile("(?:a|b)*c", small);
        EXPECT_EQ(alternation.Find(std::string(1'000'000, 'a') + "c", 0, m),
                  RegexStatus::LimitExceeded);
        // The default limits complete an ordinary long match.
        const Regex styleDefault = Regex::Compile("<style>[^]*?</style>", WithJit(jit));
        ASSERT_EQ(styleDefault.Find(bigBlock, 0, m), RegexStatus::Matched);
        EXPECT_EQ(m.Length(), bigBlock.size());
    }
}

TEST(RegexEngine, SearchesThatRescanTheTextEndAtTheTimeLimit) {
    // Each start position rescans the run of x: time grows with the square of its length.
    const std::string text = std::string(200'000, 'x') + "Az";
    for (bool jit : {false, true}) {
        RegexOptions o = WithJit(jit);
        o.timeLimitMs = 50;
        const Regex re = Regex::Compile("x*z", o);
        RegexMatch m;
        EXPECT_EQ(re.Find(text, 0, m), RegexStatus::LimitExceeded);
        std::string out = "kept";
        EXPECT_EQ(Replace(re, text, "-", out), RegexStatus::LimitExceeded);
        EXPECT_EQ(out, "kept");
        // A byte every match needs is missing: no search at all.
        EXPECT_EQ(Regex::Compile("x*y", o).Find(text, 0, m), RegexStatus::NoMatch);
    }
}

TEST(RegexEngine, JitAndInterpreterAgree) {
    const std::vector<std::string> patterns = {
        "\\d+",
        "^a",
        "a*",
        "(a|ab)(c|bcd)(d*)",
        "\\b\\w",
        "(?:)",
        "x*?",
        "[^a]",
        "\\s+$",
        "(?=\\w)",
        "((a)|b)+",
        "(a)|\\1b",
        "<[^<]*>",
        "(\\<.[^\\<]*\\>)",
        "[[:alpha:]]+",
        "a{2,3}?",
        "$",
        "\\bfoo\\b",
        "[\\b]",
        "\\cJ",
        "(?m)^",
        "(?m)$",
        "(?m)^\\s*\\w",
        "(?i)B",
        "\\n?b",
    };
    const std::vector<std::string> subjects = {
        "",
        "a",
        "aaa",
        "abcd ab bcd",
        "12 ab345 6",
        "<p>hi</p>\r\n<b>x",
        "foo food\x08\n",
        "ab\r\n\r\nba",
        "\xC4\xE3\xBA\xC3 abc",
    };
    for (const auto &p : patterns) {
        for (const auto &s : subjects) {
            EXPECT_EQ(AllMatches(p, s, WithJit(false)), AllMatches(p, s, WithJit(true)))
                << p << " / " << s;
        }
    }
}

TEST(RegexEngine, PatternsThatPcreJitGetsWrongStillMatch) {
    for (bool jit : {false, true}) {
        SCOPED_TRACE(jit);
        EXPECT_EQ(AllMatches("(?:a|)b*a", "a", WithJit(jit)), std::vector<std::string>{"0:a"});
        EXPECT_EQ(AllMatches("(?:a|)\\n*?a", "xa", WithJit(jit)), std::vector<std::string>{"1:a"});
        EXPECT_EQ(AllMatches("\\1+(a)", "xa", WithJit(jit)), std::vector<std::string>{"1:a"});
        EXPECT_EQ(AllMatches("\\1{2}(a)", "a", WithJit(jit)), std::vector<std::string>{"0:a"});
    }
}

TEST(RegexEngine, JitInterpreterAndReferenceAgreeOnRandomPatterns) {
    const std::vector<std::string> atoms = {
        "a",      "b",     ".",      "\\s",    "\\W", "[^a]",   "[\\r\\n]", "\\b",
        "^",      "$",     "(a|b)",  "(?:ab)", "\\1", "[^]",    "\\d",      "\xC4",
        "(?=a)",  "(?!b)", "x",      "|",      "\\B", "(?<=a)", "[a-c]",    "(a*)",
        "(?:a|)", "\\n",   "[^\\s]", "(?i:A)", "\\2", "((b)?)"};
    const std::vector<std::string> quantifiers = {"", "", "*", "+", "?", "*?", "{1,2}"};
    const std::string alphabet = "ab \r\n1\xC4\xE3x";
    std::mt19937 rng(2024);
    const auto pick = [&rng](size_t n) {
        return std::uniform_int_distribution<size_t>(0, n - 1)(rng);
    };
    for (int round = 0; round < 2000; ++round) {
        std::string pattern;
        for (size_t n = 1 + pick(4); n > 0; --n) {
            pattern += atoms[pick(atoms.size())] + quantifiers[pick(quantifiers.size())];
        }
        std::string subject;
        for (size_t n = pick(24); n > 0; --n) {
            subject += alphabet[pick(alphabet.size())];
        }
        for (bool multiline : {false, true}) {
            // The reference: PCRE2's interpreter trying every start position.
            RegexOptions reference = WithJit(false);
            reference.skipHopelessStarts = false;
            RegexOptions jit = WithJit(true);
            RegexOptions interpreted = WithJit(false);
            for (RegexOptions *o : {&reference, &jit, &interpreted}) {
                o->multiline = multiline;
                o->caseless = (round % 3) == 0;
            }
            const auto expected = AllMatches(pattern, subject, reference);
            ASSERT_EQ(AllMatches(pattern, subject, interpreted), expected) << pattern;
            ASSERT_EQ(AllMatches(pattern, subject, jit), expected) << pattern;
        }
    }
}

TEST(RegexEngine, GlobalMatchingAdvancesPastEmptyMatches) {
    EXPECT_EQ(AllMatches("a*", "baa"), (std::vector<std::string>{"0:", "1:aa", "3:"}));
    EXPECT_EQ(AllMatches("", "ab"), (std::vector<std::string>{"0:", "1:", "2:"}));
    EXPECT_EQ(ReplaceAllText("a*", "baaac", "-"), "-b--c-");
    EXPECT_EQ(ReplaceAllText("x", "", "-"), "");
    EXPECT_EQ(ReplaceAllText("", "", "-"), "-");
}

TEST(RegexEngine, ReplacementFormatFollowsEcmaScript) {
    const std::string s = "pre abc post";
    const Regex re = Regex::Compile("a(b)(x)?c");
    RegexMatch m;
    ASSERT_EQ(re.Find(s, 0, m), RegexStatus::Matched);
    EXPECT_EQ(FormatReplacement("[$&|$1|$2|$$|$`|$']", s, m), "[abc|b||$|pre | post]");
    // A group number that does not exist is literal; two digits only when they name a group.
    EXPECT_EQ(FormatReplacement("$0 $3 $10 $01 $9x", s, m), "$0 $3 b0 b $9x");
    EXPECT_EQ(FormatReplacement("$", s, m), "$");
    EXPECT_EQ(FormatReplacement("a$b$", s, m), "a$b$");
    EXPECT_EQ(FormatReplacement("$<n>", s, m), "$<n>");

    std::string many = "(1)(2)(3)(4)(5)(6)(7)(8)(9)(a)(b)";
    std::string pattern;
    for (char c : std::string("123456789ab")) {
        pattern += "(" + std::string(1, c) + ")";
    }
    const Regex eleven = Regex::Compile(pattern);
    const std::string text = "123456789ab";
    ASSERT_EQ(eleven.Find(text, 0, m), RegexStatus::Matched);
    EXPECT_EQ(FormatReplacement("$10$11$12", text, m), "ab12");

    EXPECT_EQ(ReplaceAllText("(\\w+)@(\\w+)", "me@home, you@work", "$2:$1"), "home:me, work:you");
    RegexOptions ci;
    ci.caseless = true;
    EXPECT_EQ(ReplaceAllText("abc", "ABC abc", "[$&]", ci), "[ABC] [abc]");
}

// Replace formats straight from the engine's offsets; it must give what visiting the matches
// and formatting each match object gives, for every piece length the copying treats apart,
// groups captured outside the match, unset groups and results far larger than the subject.
TEST(RegexEngine, ReplaceAgreesWithFormattingEachMatch) {
    const auto reference = [](const Regex &re, std::string_view subject, std::string_view format) {
        std::string out;
        size_t copied = 0;
        ForEachMatch(re, subject, [&](const RegexMatch &m) {
            const size_t at = std::max(m.Position(), copied);
            out.append(subject.substr(copied, at - copied));
            AppendReplacement(out, format, subject, m);
            copied = std::max(m.End(), copied);
            return true;
        });
        out.append(subject.substr(std::min(copied, subject.size())));
        return out;
    };
    std::string subject;
    for (size_t n = 0; n <= 40; ++n) {
        subject +=
            "<" + std::string(n, static_cast<char>('a' + n % 26)) + ">" + std::string(n % 19, ' ');
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<(/?)(\\w+)[^>]*>", "[$1$2]"},
        {"<(\\w*)>(x)?", "$2{$1}$1$1$1"},
        {"(?<=(<))(\\w+)(?=(>))", "$3$2$1"},
        {"\\w{3,}", "0123456789abcdefXYZ$&$&"},
        {" *", "$`|"},
        {"<(\\w+)>", "$'"},
    };
    for (bool jit : {false, true}) {
        for (const auto &[pattern, format] : cases) {
            SCOPED_TRACE(pattern + " -> " + format + (jit ? " jit" : ""));
            const Regex re = Regex::Compile(pattern, WithJit(jit));
            ASSERT_TRUE(re.Ok());
            std::string out;
            ASSERT_EQ(Replace(re, subject, format, out), RegexStatus::Matched);
            EXPECT_EQ(out, reference(re, subject, format));
        }
    }
}

TEST(RegexEngine, ReplaceLeavesOutputAloneOnFailure) {
    RegexOptions o;
    o.matchLimit = 10'000;
    const Regex re = Regex::Compile("^(a+)+$", o);
    std::string out = "before";
    EXPECT_EQ(Replace(re, std::string(40, 'a') + "!", "x", out), RegexStatus::LimitExceeded);
    EXPECT_EQ(out, "before");
    // "$`" after every byte grows with the square of the length: bounded.
    RegexOptions bounded;
    bounded.replaceGrowthLimit = 1000;
    const Regex everywhere = Regex::Compile("", bounded);
    EXPECT_EQ(Replace(everywhere, std::string(100, 'a'), "$`", out), RegexStatus::LimitExceeded);
    EXPECT_EQ(out, "before");
    EXPECT_EQ(Replace(everywhere, std::string(40, 'a'), "$`", out), RegexStatus::Matched);
    EXPECT_EQ(out.size(), 40u + 40u * 41u / 2u);
    const Regex first = Regex::Compile("o");
    EXPECT_EQ(Replace(first, "foo", "0", out, false), RegexStatus::Matched);
    EXPECT_EQ(out, "f0o");
    EXPECT_EQ(Replace(first, "bar", "0", out), RegexStatus::NoMatch);
    EXPECT_EQ(out, "bar");
}
