// The replacement format of Regex_Replace ("$&", "$1".."$99", "$`", "$'", "$$"): for every match of
// a fuzzed pattern in a fuzzed text, both ways the library applies a format (to a match object,
// and to PCRE2's offset pairs) must give what a direct reading of the rules gives, and a whole
// replacement must equal the text between the matches joined with those replacements.
#include "fuzz_input.h"

#include "kestrun/textutil/regex_engine.h"
#include "kestrun/textutil/text_utils.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using fuzzing::Fail;
using namespace kestrun::textutil;

constexpr const char *kTarget = "regex_format";
// Short texts and tight limits keep every input fast; the rules do not depend on size.
constexpr size_t kMaxSubject = 1024;
constexpr size_t kMaxMatches = 256;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The format read byte by byte.
std::string ExpectedReplacement(std::string_view format, std::string_view subject,
                                const RegexMatch &match) {
    const size_t groups = match.groups.size() - 1;
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '$' || i + 1 == format.size()) {
            out += format[i];
            continue;
        }
        const char next = format[i + 1];
        if (next == '$') {
            out += '$';
            ++i;
        } else if (next == '&') {
            out += match.Group(subject, 0);
            ++i;
        } else if (next == '`') {
            out += subject.substr(0, match.Position());
            ++i;
        } else if (next == '\'') {
            out += subject.substr(match.End());
            ++i;
        } else if (IsDigit(next)) {
            const size_t one = size_t(next - '0');
            const bool twoDigits = i + 2 < format.size() && IsDigit(format[i + 2]);
            const size_t two = twoDigits ? one * 10 + size_t(format[i + 2] - '0') : 0;
            if (twoDigits && two >= 1 && two <= groups) {
                out += match.Group(subject, two);
                i += 2;
            } else if (one >= 1 && one <= groups) {
                out += match.Group(subject, one);
                i += 1;
            } else {
                out += '$';
            }
        } else {
            out += '$';
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzing::FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const std::string_view pattern = input.Field();
    const std::string_view format = input.Field();
    const std::string_view subject = input.Rest().substr(0, kMaxSubject);

    RegexOptions options;
    options.caseless = (flags & 1) == 0; // Regex_Replace matches without regard to case
    options.useJit = (flags & 2) == 0;
    options.matchLimit = 100'000;
    // The step limit keeps inputs fast; the time limit is far away, so that the comparisons below
    // do not depend on how busy the machine is.
    options.timeLimitMs = 20'000;
    const Regex regex = Regex::Compile(pattern, options);
    if (!regex.Ok()) {
        std::string out = "unchanged";
        if (Replace(regex, subject, format, out) != RegexStatus::Failed || out != "unchanged") {
            Fail(kTarget, "a pattern that did not compile replaced");
        }
        return 0;
    }

    std::vector<RegexMatch> matches;
    const RegexStatus visited = ForEachMatch(regex, subject, [&](const RegexMatch &m) {
        matches.push_back(m);
        return matches.size() < kMaxMatches;
    });
    if (visited != RegexStatus::NoMatch) {
        return 0; // a limit was reached: nothing to compare
    }

    const ReplacementFormat parsed(format, regex.GroupCount());
    std::string expected;
    size_t copied = 0;
    for (const RegexMatch &match : matches) {
        if (match.groups.size() != regex.GroupCount() + 1 || match.End() > subject.size() ||
            match.Position() < copied) {
            Fail(kTarget, "a match outside the text or out of order");
        }
        const std::string want = ExpectedReplacement(format, subject, match);
        if (FormatReplacement(format, subject, match) != want) {
            Fail(kTarget, "the format applied to a match differs from the rules");
        }
        // The offset-pair form, with unset groups as PCRE2 reports them.
        std::vector<size_t> pairs;
        for (const RegexGroup &g : match.groups) {
            pairs.push_back(g.matched ? g.offset : SIZE_MAX);
            pairs.push_back(g.matched ? g.offset + g.length : SIZE_MAX);
        }
        ReplacementFormat::Output output(format.size() & 7);
        output.Put("<", 1);
        parsed.AppendPairs(output, subject, pairs.data(), match.groups.size());
        if (output.Take() != "<" + want) {
            Fail(kTarget, "the format applied to offset pairs differs from the rules");
        }
        if (want.size() > format.size() * (2 * subject.size() + 1)) {
            Fail(kTarget, "a replacement longer than its bound");
        }
        expected.append(subject.substr(copied, match.Position() - copied));
        expected.append(want);
        copied = match.End();
    }
    expected.append(subject.substr(copied));

    if (matches.size() < kMaxMatches) {
        std::string replaced;
        const RegexStatus status = Replace(regex, subject, format, replaced);
        if (status == RegexStatus::LimitExceeded) {
            return 0;
        }
        if (status != (matches.empty() ? RegexStatus::NoMatch : RegexStatus::Matched)) {
            Fail(kTarget, "Replace reported another outcome than the search");
        }
        if (replaced != expected) {
            Fail(kTarget, "Replace differs from the matches joined with their replacements");
        }
        // The export's function, with its own limits: it gives the text back unchanged only when
        // its time ran out.
        const auto begun = std::chrono::steady_clock::now();
        const std::string viaExport =
            options.caseless ? ReplaceMatches(subject, pattern, format) : expected;
        const bool slow = std::chrono::steady_clock::now() - begun > std::chrono::milliseconds(500);
        if (viaExport != expected && !(slow && viaExport == subject)) {
            Fail(kTarget, "ReplaceMatches differs from Replace");
        }
    }
    return 0;
}
