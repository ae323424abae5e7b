// A backtracking regular-expression engine over byte strings, with the ECMAScript flavour of
// syntax and matching that the text exports (and script hosts) need.
//
// Every byte is one character: no UTF mode, "." matches any byte except CR and LF, and the
// character classes (\d \w \s, [:alpha:] ...) and caseless matching know only ASCII. Searches
// are bounded: a pattern that backtracks without end, or needs too much memory, makes Find
// return RegexStatus::LimitExceeded instead of running on or exhausting the stack.
//
// A compiled Regex is immutable and may be shared by threads; a RegexScratch (matching state)
// belongs to one thread at a time. No function here throws except std::bad_alloc.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::textutil {

struct RegexOptions {
    bool caseless = false;  // ASCII letters match either case
    bool multiline = false; // ^ and $ also match after / before a line break (CR or LF)
    bool useJit = true;     // compile to machine code where the platform allows it
    // PCRE2's start-of-match optimisations (scanning for a first byte, giving up early on
    // repeats that failed before). Its JIT code (10.42) applies them wrongly to some patterns
    // ("(?:a|)b*a" does not find "a"), so they are off unless a fixed, tested pattern asks.
    bool startOptimizations = false;
    // Without them, the engine still skips start positions where no match can begin (bytes
    // that cannot start one, a byte that every match contains but the text lacks). Tests turn
    // this off to compare with the plainest search.
    bool skipHopelessStarts = true;
    // Backtracking steps a search may take before giving up (counted over runs of start
    // positions, all of them for texts up to some megabytes).
    uint32_t matchLimit = 10'000'000;
    // Nesting depth of backtracking points one Find may reach.
    uint32_t depthLimit = 10'000'000;
    // Memory (KiB) one Find may use for backtracking state (heap frames or the JIT stack).
    uint32_t memoryLimitKiB = 64 * 1024;
    // How much larger than its subject the result of Replace may grow ("$`" in the format can
    // make it grow with the square of the subject's length).
    uint64_t replaceGrowthLimit = uint64_t{256} * 1024 * 1024;
    // Wall-clock time for one Find, or for one whole ForEachMatch / Replace loop. Some
    // searches make little backtracking but rescan the text from every start position ("x*z"
    // over a long run of x takes time with the square of the length); this ends them, soon
    // enough that no text a host passes keeps an export busy for more than about 2 seconds.
    uint32_t timeLimitMs = 1000;
};

enum class RegexStatus {
    Matched,       // `match` describes the match
    NoMatch,       // no match at or after the start offset
    LimitExceeded, // the search gave up: step, depth, memory or time limit reached
    Failed,        // any other failure (pattern not compiled, start past the end, no memory)
};

// One capture group of a match, as byte offsets into the subject.
struct RegexGroup {
    size_t offset = 0;
    size_t length = 0;
    bool matched = false; // false: the group took no part in the match (unset)
};

struct RegexMatch {
    // groups[0] is the whole match, groups[i] capture group i (1 .. GroupCount()).
    std::vector<RegexGroup> groups;

    size_t Position() const { return groups.empty() ? 0 : groups[0].offset; }
    size_t Length() const { return groups.empty() ? 0 : groups[0].length; }
    size_t End() const { return Position() + Length(); }
    bool GroupMatched(size_t i) const { return i < groups.size() && groups[i].matched; }
    // The text of group i; "" for an unset group or one the pattern does not have.
    std::string_view Group(std::string_view subject, size_t i) const {
        if (!GroupMatched(i) || groups[i].offset > subject.size()) {
            return {};
        }
        return subject.substr(groups[i].offset, groups[i].length);
    }
};

class Regex;

// Per-thread matching state (match data, limits, JIT stack). Reuse one for a run of searches
// to avoid setting it up for every call.
class RegexScratch {
public:
    RegexScratch();
    ~RegexScratch();
    RegexScratch(RegexScratch &&) noexcept;
    RegexScratch &operator=(RegexScratch &&) noexcept;
    RegexScratch(const RegexScratch &) = delete;
    RegexScratch &operator=(const RegexScratch &) = delete;

    // A deadline shared by every Find made with this scratch until cleared (ForEachMatch and
    // Replace set one for their whole loop); without one each Find has its own time limit.
    void SetDeadline(std::chrono::steady_clock::time_point deadline);
    void ClearDeadline();
    bool HasDeadline() const;

    struct Impl;

private:
    friend class Regex;
    friend RegexStatus Replace(const Regex &, std::string_view, std::string_view, std::string &,
                               bool, RegexScratch *);
    std::unique_ptr<Impl> impl_;
};

class Regex {
public:
    // Compiles `pattern`. Never throws for a bad pattern: check Ok() / ErrorMessage().
    static Regex Compile(std::string_view pattern, const RegexOptions &options = {});

    Regex();
    ~Regex();
    Regex(Regex &&) noexcept;
    Regex &operator=(Regex &&) noexcept;
    Regex(const Regex &) = delete;
    Regex &operator=(const Regex &) = delete;

    bool Ok() const;
    // Why compiling failed (English text) and the byte offset in the pattern; "" / 0 when Ok().
    const std::string &ErrorMessage() const;
    size_t ErrorOffset() const;
    // Number of capture groups in the pattern.
    size_t GroupCount() const;
    // Whether searches run machine code (false when disabled, when the platform refuses it, and
    // for patterns with back references).
    bool JitActive() const;
    const RegexOptions &Options() const;
    // Memory the compiled pattern holds (PCRE2 code and JIT code), for bounding caches.
    size_t CodeBytes() const;

    // Finds the leftmost match that starts at or after byte `start` of `subject`. Text before
    // `start` stays visible to lookbehind and \b, and ^ matches only at offset 0 (or after a
    // line break in multiline mode); pass subject.substr(start) to treat `start` as a new
    // beginning instead. The outcome does not depend on whether JIT code is used, except that
    // the JIT may complete a search that the interpreter would give up on (steps or time).
    RegexStatus Find(std::string_view subject, size_t start, RegexMatch &match,
                     RegexScratch &scratch) const;
    RegexStatus Find(std::string_view subject, size_t start, RegexMatch &match) const;

    struct Impl;

private:
    friend RegexStatus Replace(const Regex &, std::string_view, std::string_view, std::string &,
                               bool, RegexScratch *);
    std::unique_ptr<Impl> impl_;
};

// `pattern` compiled with `options`, taken from a small cache shared by all threads (see
// pattern_cache.h) or compiled and kept there. Never null; a pattern that does not compile comes
// back not Ok() and is not kept.
std::shared_ptr<const Regex> CompileCached(std::string_view pattern,
                                           const RegexOptions &options = {});

// Visits the matches of `regex` in `subject` from `start` the way ECMAScript's global matching
// does: each search starts at the end of the previous match, and after an empty match one byte
// later, so the loop always ends. `onMatch(const RegexMatch &)` returns false to stop early.
// Returns NoMatch when the matches ran out or onMatch stopped, otherwise the status that ended
// the loop (LimitExceeded, Failed).
// `scratch` may be given to reuse matching state across calls.
template <class OnMatch>
RegexStatus ForEachMatch(const Regex &regex, std::string_view subject, OnMatch &&onMatch,
                         size_t start = 0, RegexScratch *scratchToUse = nullptr) {
    RegexScratch ownScratch;
    RegexScratch &scratch = scratchToUse != nullptr ? *scratchToUse : ownScratch;
    // One time limit for the whole loop, unless the caller has set a deadline already.
    struct DeadlineOwner {
        RegexScratch *scratch = nullptr;
        ~DeadlineOwner() {
            if (scratch != nullptr) {
                scratch->ClearDeadline();
            }
        }
    } owner;
    if (!scratch.HasDeadline()) {
        scratch.SetDeadline(std::chrono::steady_clock::now() +
                            std::chrono::milliseconds(regex.Options().timeLimitMs));
        owner.scratch = &scratch;
    }
    RegexMatch match;
    size_t pos = start;
    while (pos <= subject.size()) {
        const RegexStatus status = regex.Find(subject, pos, match, scratch);
        if (status != RegexStatus::Matched) {
            return status;
        }
        if (!onMatch(static_cast<const RegexMatch &>(match))) {
            return RegexStatus::NoMatch;
        }
        size_t next = match.Length() == 0 ? match.End() + 1 : match.End();
        if (next <= pos) {
            next = pos + 1; // progress even if a match were reported before `pos`
        }
        pos = next;
    }
    return RegexStatus::NoMatch;
}

// A replacement format read with the ECMAScript rules: "$$" is a dollar sign, "$&" the match,
// "$`" the subject before the match, "$'" the subject after it, "$n" / "$nn" capture group n
// (1-99; two digits are taken when they name an existing group, else one; an unset group
// gives ""). A "$" that forms none of these is copied as it is. Parsed once, applied to many
// matches of a pattern with `groupCount` capture groups.
class ReplacementFormat {
public:
    // A result under construction, where an append is a bounds check and a copy.
    class Output {
    public:
        explicit Output(size_t expected) : bytes_(expected, '\0') {}
        void Put(const char *bytes, size_t count) {
            if (count > bytes_.size() - used_) {
                Grow(count);
            }
            CopyBytes(bytes_.data() + used_, bytes, count);
            used_ += count;
        }
        size_t Size() const { return used_; }
        // The bytes written; the output is empty afterwards.
        std::string Take();

    private:
        // Copies `count` bytes; the short pieces a replacement is mostly made of are copied
        // inline with two overlapping loads instead of a call.
        static void CopyBytes(char *to, const char *from, size_t count) {
            if (count >= 8 && count <= 16) {
                uint64_t head;
                uint64_t tail;
                std::memcpy(&head, from, 8);
                std::memcpy(&tail, from + count - 8, 8);
                std::memcpy(to, &head, 8);
                std::memcpy(to + count - 8, &tail, 8);
            } else if (count >= 4 && count < 8) {
                uint32_t head;
                uint32_t tail;
                std::memcpy(&head, from, 4);
                std::memcpy(&tail, from + count - 4, 4);
                std::memcpy(to, &head, 4);
                std::memcpy(to + count - 4, &tail, 4);
            } else if (count != 0 && count < 4) {
                to[0] = from[0];
                to[count / 2] = from[count / 2];
                to[count - 1] = from[count - 1];
            } else if (count > 16) {
                std::memcpy(to, from, count);
            }
        }
        void Grow(size_t count);
        std::string bytes_;
        size_t used_ = 0;
    };

    ReplacementFormat(std::string_view format, size_t groupCount);
    // Appends the replacement for `match` (found in `subject`) to `out`.
    void Append(std::string &out, std::string_view subject, const RegexMatch &match) const;
    // The same for a match given as offset pairs: group i spans [pairs[2i], pairs[2i+1]) for
    // i < `set`; a group past `set`, or whose start is SIZE_MAX, is unset.
    void AppendPairs(Output &out, std::string_view subject, const size_t *pairs, size_t set) const;

private:
    enum class Kind : uint8_t { Literal, Group, Before, After };
    struct Piece {
        Kind kind;
        size_t offset; // Literal: start in format_; Group: group number
        size_t length; // Literal: byte count
    };
    template <class Sink, class GroupAt>
    void Emit(Sink &out, std::string_view subject, size_t position, size_t end,
              GroupAt &&group) const;
    std::string format_;
    std::vector<Piece> pieces_;
};

// One-off forms of ReplacementFormat for a single match (the group count is the match's).
void AppendReplacement(std::string &out, std::string_view format, std::string_view subject,
                       const RegexMatch &match);
std::string FormatReplacement(std::string_view format, std::string_view subject,
                              const RegexMatch &match);

// Replaces every match (or only the first when `global` is false) by the formatted
// replacement, scanning as ForEachMatch does; text between matches is copied. Returns Matched
// (at least one replacement) or NoMatch (`out` is then a copy of the subject); on
// LimitExceeded (a search gave up, or the result would pass the subject's size plus
// replaceGrowthLimit) or Failed `out` is left as it was.
RegexStatus Replace(const Regex &regex, std::string_view subject, std::string_view format,
                    std::string &out, bool global = true, RegexScratch *scratch = nullptr);

} // namespace kestrun::textutil
