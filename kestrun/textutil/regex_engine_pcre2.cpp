// The regular-expression engine on PCRE2 (8-bit code units, no UTF), configured for the
// ECMAScript flavour: \u and \x escapes as ECMAScript reads them, [^] for any byte, a back
// reference to an unset group matching the empty string, $ only at the very end unless
// multiline, and CR and LF both as line breaks (so "." matches neither).
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "regex_engine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <optional>

namespace kestrun::textutil {
namespace {

struct CodeFree {
    void operator()(pcre2_code *c) const { pcre2_code_free(c); }
};
struct MatchDataFree {
    void operator()(pcre2_match_data *d) const { pcre2_match_data_free(d); }
};
struct MatchContextFree {
    void operator()(pcre2_match_context *c) const { pcre2_match_context_free(c); }
};
struct CompileContextFree {
    void operator()(pcre2_compile_context *c) const { pcre2_compile_context_free(c); }
};
struct JitStackFree {
    void operator()(pcre2_jit_stack *s) const { pcre2_jit_stack_free(s); }
};

using CodePtr = std::unique_ptr<pcre2_code, CodeFree>;

// What every match of a pattern begins with and contains, for skipping hopeless start
// positions. Letters count in either case (the pattern may be caseless in parts).
struct StartInfo {
    int first = -1;         // the byte every match starts with, -1 when none
    bool hasBitmap = false; // else: the set of bytes a match can start with
    std::array<uint8_t, 32> bitmap{};
    int required = -1; // a byte every match contains, -1 when none
};

constexpr uint32_t kCompileFlags = PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                                   PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY |
                                   PCRE2_NEVER_UTF | PCRE2_NEVER_UCP | PCRE2_USE_OFFSET_LIMIT;

// With CR+LF line breaks PCRE2's interpreter (not its JIT) skips the LF of a CRLF after an
// attempt at the CR fails, unless the pattern mentions CR or LF explicitly; "\WA" would then
// miss "\nA" in "\r\nA". This tail names LF in a branch that can never match, which turns the
// skip off without changing what the pattern matches. "\E" ends a \Q quotation left open.
constexpr std::string_view kLineBreakTail = "\\E(?:(?!)\\n)?";
// The same, for a pattern that ends inside an extended-mode "#" comment.
constexpr std::string_view kLineBreakTailAfterComment = "\n\\E(?:(?!)\\n)?";

// Multiline ^ and $ as ECMAScript defines them: at the start (end) of the text or after
// (before) any CR or LF. PCRE2's own multiline rules treat CR LF as one line break and handle
// the place between its two bytes differently in the interpreter and in JIT code.
constexpr std::string_view kLineStart = "(?<![^\\r\\n])";
constexpr std::string_view kLineEnd = "(?![^\\r\\n])";

// Rewrites the pattern where PCRE2 would read ECMAScript syntax differently: each "\v" escape
// becomes "\x0B" (ECMAScript's vertical tab alone; PCRE2 means every vertical space, including
// the byte 85 hex, a GBK lead byte), and with `multiline` each ^ and $ outside a character class
// becomes kLineStart / kLineEnd. \Q...\E quotations, the byte after "\c", POSIX classes such as
// [:alpha:] and the option group "(?^" are left alone. Returns whether anything changed.
bool RewriteForEcmaScript(std::string_view pattern, bool multiline, std::string &out,
                          bool &usesSearchStart) {
    out.clear();
    out.reserve(pattern.size() + 16);
    bool changed = false;
    bool inClass = false;
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            const char next = pattern[i + 1];
            usesSearchStart = usesSearchStart || next == 'G';
            if (next == 'v') {
                out.append("\\x0B");
                changed = true;
                i += 2;
            } else if (next == 'Q') {
                const size_t end = pattern.find("\\E", i + 2);
                const size_t stop = end == std::string_view::npos ? pattern.size() : end + 2;
                out.append(pattern.substr(i, stop - i));
                i = stop;
            } else {
                const size_t length = next == 'c' ? 3 : 2; // \cX: X is taken as it is
                out.append(pattern.substr(i, std::min(length, pattern.size() - i)));
                i += length;
            }
            continue;
        }
        if (inClass) {
            if (c == '[' && i + 1 < pattern.size() && pattern[i + 1] == ':') {
                const size_t end = pattern.find(":]", i + 2);
                if (end != std::string_view::npos) {
                    out.append(pattern.substr(i, end + 2 - i));
                    i = end + 2;
                    continue;
                }
            }
            inClass = c != ']'; // with empty classes allowed, the first ] always closes
        } else if (c == '[') {
            inClass = true;
            if (i + 1 < pattern.size() && pattern[i + 1] == '^') {
                out.append("[^");
                i += 2;
                continue;
            }
        } else if (multiline && c == '^' && !out.ends_with("(?")) {
            out.append(kLineStart);
            changed = true;
            ++i;
            continue;
        } else if (multiline && c == '$') {
            out.append(kLineEnd);
            changed = true;
            ++i;
            continue;
        }
        out.push_back(c);
        ++i;
    }
    return changed;
}

std::string ErrorText(int code) {
    PCRE2_UCHAR buffer[256];
    const int n = pcre2_get_error_message(code, buffer, sizeof buffer);
    return n < 0 ? std::string("unknown error") : std::string(reinterpret_cast<char *>(buffer));
}

uint32_t InfoU32(const pcre2_code *code, uint32_t what) {
    uint32_t value = 0;
    pcre2_pattern_info(code, what, &value);
    return value;
}

CodePtr CompileRaw(std::string_view pattern, uint32_t flags, pcre2_compile_context *context,
                   int &error, size_t &errorOffset) {
    PCRE2_SIZE offset = 0;
    CodePtr code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags,
                               &error, &offset, context));
    errorOffset = offset;
    return code;
}

// Whether a match could begin with an LF byte. When the pattern's start information rules
// that out, skipping the LF of a CRLF (see kLineBreakTail) can never lose a match.
bool MayStartWithLineFeed(const pcre2_code *code) {
    constexpr uint32_t kFixedFirstUnit = 1;
    if (InfoU32(code, PCRE2_INFO_FIRSTCODETYPE) == kFixedFirstUnit) {
        return InfoU32(code, PCRE2_INFO_FIRSTCODEUNIT) == '\n';
    }
    const uint8_t *bitmap = nullptr;
    if (pcre2_pattern_info(code, PCRE2_INFO_FIRSTBITMAP, &bitmap) == 0 && bitmap != nullptr) {
        return (bitmap['\n' / 8] & (1u << ('\n' % 8))) != 0;
    }
    return true;
}

bool IsLimitError(int rc) {
    return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
           rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT;
}

bool IsLetter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether byte `c` is `unit`, in either case for a letter.
bool SameUnit(unsigned char c, int unit) {
    return IsLetter(unit) ? (c | 0x20) == (unit | 0x20) : c == unit;
}

// The first position at or after `from` holding `unit` (either case for a letter), or npos.
size_t FindUnit(std::string_view text, size_t from, int unit) {
    if (!IsLetter(unit)) {
        const void *hit = memchr(text.data() + from, unit, text.size() - from);
        return hit == nullptr ? std::string_view::npos
                              : static_cast<size_t>(static_cast<const char *>(hit) - text.data());
    }
    for (size_t i = from; i < text.size(); ++i) {
        if (SameUnit(static_cast<unsigned char>(text[i]), unit)) {
            return i;
        }
    }
    return std::string_view::npos;
}

StartInfo ReadStartInfo(const pcre2_code *code) {
    StartInfo info;
    constexpr uint32_t kFixedUnit = 1;
    if (InfoU32(code, PCRE2_INFO_FIRSTCODETYPE) == kFixedUnit) {
        info.first = static_cast<int>(InfoU32(code, PCRE2_INFO_FIRSTCODEUNIT));
    } else {
        const uint8_t *bitmap = nullptr;
        if (pcre2_pattern_info(code, PCRE2_INFO_FIRSTBITMAP, &bitmap) == 0 && bitmap != nullptr) {
            info.hasBitmap = true;
            std::copy(bitmap, bitmap + info.bitmap.size(), info.bitmap.begin());
        }
    }
    if (InfoU32(code, PCRE2_INFO_LASTCODETYPE) == kFixedUnit) {
        info.required = static_cast<int>(InfoU32(code, PCRE2_INFO_LASTCODEUNIT));
    }
    return info;
}

// The first position at or after `from` where a match could start, or npos when none can.
size_t SkipToStart(const StartInfo &info, std::string_view text, size_t from) {
    if (info.first >= 0) {
        return FindUnit(text, from, info.first);
    }
    if (info.hasBitmap) {
        for (size_t i = from; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if ((info.bitmap[c / 8] & (1u << (c % 8))) != 0) {
                return i;
            }
        }
        return std::string_view::npos;
    }
    return from;
}

} // namespace

struct Regex::Impl {
    CodePtr code;
    RegexOptions options;
    std::string errorMessage;
    size_t errorOffset = 0;
    size_t groupCount = 0;
    bool jit = false;
    bool oneCall = false;
    StartInfo start;
};

struct RegexScratch::Impl {
    std::unique_ptr<pcre2_match_context, MatchContextFree> context;
    std::unique_ptr<pcre2_match_data, MatchDataFree> data;
    uint32_t dataPairs = 0;
    std::unique_ptr<pcre2_jit_stack, JitStackFree> jitStack;
    uint32_t jitStackKiB = 0;
    std::optional<std::chrono::steady_clock::time_point> deadline;
    // Where the required byte was last found, in which subject.
    const char *requiredText = nullptr;
    size_t requiredLength = 0;
    size_t requiredAt = 0;
    // Limits last written into `context` (all-ones: none yet).
    uint32_t matchLimit = ~0u;
    uint32_t depthLimit = ~0u;
    uint32_t heapLimitKiB = ~0u;
    // The offset limit and JIT stack last written into `context` (calls a search makes per
    // match are skipped when nothing changed).
    PCRE2_SIZE offsetLimit = PCRE2_UNSET;
    pcre2_jit_stack *assignedStack = nullptr;
    bool stackAssigned = false;
};

RegexScratch::RegexScratch() : impl_(std::make_unique<Impl>()) {}
RegexScratch::~RegexScratch() = default;
RegexScratch::RegexScratch(RegexScratch &&) noexcept = default;
RegexScratch &RegexScratch::operator=(RegexScratch &&) noexcept = default;

Regex::Regex() : impl_(std::make_unique<Impl>()) {}
Regex::~Regex() = default;
Regex::Regex(Regex &&) noexcept = default;
Regex &Regex::operator=(Regex &&) noexcept = default;

Regex Regex::Compile(std::string_view pattern, const RegexOptions &options) {
    Regex regex;
    Impl &impl = *regex.impl_;
    impl.options = options;

    std::unique_ptr<pcre2_compile_context, CompileContextFree> context(
        pcre2_compile_context_create(nullptr));
    if (!context) {
        impl.errorMessage = "out of memory";
        return regex;
    }
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
    pcre2_set_bsr(context.get(), PCRE2_BSR_ANYCRLF);

    uint32_t flags = kCompileFlags;
    if (options.caseless) {
        flags |= PCRE2_CASELESS;
    }
    if (!options.startOptimizations) {
        flags |= PCRE2_NO_START_OPTIMIZE;
    }
    // Multiline mode is carried out by the rewrite, not by PCRE2's flag.
    const std::string_view given = pattern;
    std::string rewritten;
    bool usesSearchStart = false;
    if (RewriteForEcmaScript(given, options.multiline, rewritten, usesSearchStart)) {
        pattern = rewritten;
    }
    int error = 0;
    size_t errorOffset = 0;
    CodePtr code = CompileRaw(pattern, flags, context.get(), error, errorOffset);
    if (!code) {
        if (pattern.data() != given.data()) {
            // Report the error at its place in the pattern as given.
            CompileRaw(given, flags, context.get(), error, errorOffset);
        }
        impl.errorMessage = ErrorText(error);
        impl.errorOffset = errorOffset;
        return regex;
    }
    // PCRE2 works out what a match starts with and contains only with its start optimisations
    // on; without them a second compilation, used for nothing else, supplies it.
    CodePtr infoCode;
    if (!options.startOptimizations) {
        int ignoredError = 0;
        size_t ignoredOffset = 0;
        infoCode = CompileRaw(pattern, flags & ~PCRE2_NO_START_OPTIMIZE, context.get(),
                              ignoredError, ignoredOffset);
        if (infoCode && options.skipHopelessStarts) {
            impl.start = ReadStartInfo(infoCode.get());
        }
    }
    const pcre2_code *startCode = infoCode ? infoCode.get() : code.get();
    const uint32_t groups = InfoU32(code.get(), PCRE2_INFO_CAPTURECOUNT);
    if (InfoU32(code.get(), PCRE2_INFO_HASCRORLF) == 0 && MayStartWithLineFeed(startCode)) {
        for (std::string_view tail : {kLineBreakTail, kLineBreakTailAfterComment}) {
            std::string extended(pattern);
            extended.append(tail);
            int ignoredError = 0;
            size_t ignoredOffset = 0;
            CodePtr candidate =
                CompileRaw(extended, flags, context.get(), ignoredError, ignoredOffset);
            if (candidate && InfoU32(candidate.get(), PCRE2_INFO_HASCRORLF) != 0 &&
                InfoU32(candidate.get(), PCRE2_INFO_CAPTURECOUNT) == groups) {
                code = std::move(candidate);
                break;
            }
        }
    }
    impl.groupCount = groups;
    // \G matches where the search starts, so such a search (and an anchored one, which tries one
    // place only) runs as one call from the caller's start offset.
    impl.oneCall = usesSearchStart || (InfoU32(code.get(), PCRE2_INFO_ALLOPTIONS) & PCRE2_ANCHORED);
    if (impl.oneCall) {
        impl.start = StartInfo{};
    }
    // PCRE2's JIT code (10.42) fails a repeated back reference to a group that is unset, as in
    // "\1+(a)", where the interpreter lets it match the empty string; patterns with back
    // references therefore always run in the interpreter.
    if (options.useJit && InfoU32(code.get(), PCRE2_INFO_BACKREFMAX) == 0) {
        impl.jit = pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE) == 0;
    }
    impl.code = std::move(code);
    return regex;
}

bool Regex::Ok() const {
    return impl_ && impl_->code != nullptr;
}

const std::string &Regex::ErrorMessage() const {
    static const std::string kMoved = "no pattern";
    return impl_ ? impl_->errorMessage : kMoved;
}

size_t Regex::ErrorOffset() const {
    return impl_ ? impl_->errorOffset : 0;
}

size_t Regex::GroupCount() const {
    return impl_ ? impl_->groupCount : 0;
}

bool Regex::JitActive() const {
    return impl_ && impl_->jit;
}

size_t Regex::CodeBytes() const {
    if (!Ok()) {
        return 0;
    }
    size_t code = 0;
    size_t jit = 0;
    pcre2_pattern_info(impl_->code.get(), PCRE2_INFO_SIZE, &code);
    pcre2_pattern_info(impl_->code.get(), PCRE2_INFO_JITSIZE, &jit);
    return code + jit;
}

const RegexOptions &Regex::Options() const {
    static const RegexOptions kDefaults;
    return impl_ ? impl_->options : kDefaults;
}

RegexStatus Regex::Find(std::string_view subject, size_t start, RegexMatch &match) const {
    RegexScratch scratch;
    return Find(subject, start, match, scratch);
}

namespace {

// One pcre2 search over start positions from `start` up to the offset limit set in the
// context: JIT code first where there is some, the interpreter where the JIT gives up.
int MatchOnce(const pcre2_code *code, bool jit, const RegexOptions &o, RegexScratch::Impl &s,
              PCRE2_SPTR bytes, size_t length, size_t start) {
    if (jit) {
        // JIT code first runs on a small stack of its own (32 KiB on the machine stack), which
        // nearly every search fits; only a search that needs more gets a JIT stack of up to
        // the memory limit.
        const size_t stackBytes = std::max<size_t>(size_t{o.memoryLimitKiB} * 1024, 32 * 1024);
        pcre2_jit_stack *stack = s.jitStackKiB == o.memoryLimitKiB ? s.jitStack.get() : nullptr;
        if (!s.stackAssigned || s.assignedStack != stack) {
            pcre2_jit_stack_assign(s.context.get(), nullptr, stack);
            s.assignedStack = stack;
            s.stackAssigned = true;
        }
        int rc = pcre2_jit_match(code, bytes, length, start, 0, s.data.get(), s.context.get());
        if (rc == PCRE2_ERROR_JIT_STACKLIMIT && s.jitStackKiB != o.memoryLimitKiB) {
            s.jitStack.reset(pcre2_jit_stack_create(32 * 1024, stackBytes, nullptr));
            if (s.jitStack) {
                s.jitStackKiB = o.memoryLimitKiB;
                pcre2_jit_stack_assign(s.context.get(), nullptr, s.jitStack.get());
                s.assignedStack = s.jitStack.get();
                rc = pcre2_jit_match(code, bytes, length, start, 0, s.data.get(), s.context.get());
            }
        }
        // The JIT counts its steps differently and has a stack of its own: where it gives up,
        // the interpreter decides, so that a limit never ends a search the interpreter
        // completes.
        if (!IsLimitError(rc) && rc != PCRE2_ERROR_NOMEMORY) {
            return rc;
        }
    }
    return pcre2_match(code, bytes, length, start, PCRE2_NO_JIT, s.data.get(), s.context.get());
}

// Start positions per pcre2 call: few enough that one call over a long text (each attempt may
// scan the rest of it) stays short, so that the deadline is checked often enough.
constexpr size_t kBytesPerWindow = size_t{1} << 28;
// Up to this many remaining bytes WindowFor gives a window larger than the rest.
constexpr size_t kSingleWindowBytes = size_t{1} << 14;
static_assert(kBytesPerWindow / kSingleWindowBytes >= kSingleWindowBytes);

size_t WindowFor(size_t remaining) {
    return std::max<size_t>(1, kBytesPerWindow / std::max<size_t>(remaining, 1));
}

} // namespace

void RegexScratch::SetDeadline(std::chrono::steady_clock::time_point deadline) {
    impl_->deadline = deadline;
}

void RegexScratch::ClearDeadline() {
    impl_->deadline.reset();
}

bool RegexScratch::HasDeadline() const {
    return impl_ && impl_->deadline.has_value();
}

namespace {

// Sets up `s` for searches with `impl`: match context, match data with room for every group, and
// the pattern's limits. Cheap when the scratch was last used with the same pattern.
bool PrepareScratch(const Regex::Impl &impl, RegexScratch::Impl &s) {
    if (!s.context) {
        s.context.reset(pcre2_match_context_create(nullptr));
        if (!s.context) {
            return false;
        }
    }
    const uint32_t pairs = static_cast<uint32_t>(impl.groupCount + 1);
    if (!s.data || s.dataPairs < pairs) {
        s.data.reset(pcre2_match_data_create(pairs, nullptr));
        s.dataPairs = s.data ? pairs : 0;
        if (!s.data) {
            return false;
        }
    }
    const RegexOptions &o = impl.options;
    if (s.matchLimit != o.matchLimit || s.depthLimit != o.depthLimit ||
        s.heapLimitKiB != o.memoryLimitKiB) {
        pcre2_set_match_limit(s.context.get(), o.matchLimit);
        pcre2_set_depth_limit(s.context.get(), o.depthLimit);
        pcre2_set_heap_limit(s.context.get(), o.memoryLimitKiB);
        s.matchLimit = o.matchLimit;
        s.depthLimit = o.depthLimit;
        s.heapLimitKiB = o.memoryLimitKiB;
    }
    return true;
}

using Clock = std::chrono::steady_clock;

// One search from `start` with a prepared scratch. On Matched the offsets are in the scratch's
// match data (`set` pairs valid); group 0 is never inverted.
RegexStatus Search(const Regex::Impl &impl, RegexScratch::Impl &s, std::string_view subject,
                   size_t start, Clock::time_point deadline, size_t &set) {
    // The start positions are tried in windows, in order, so the outcome is that of one search;
    // between windows the clock is read. A step limit reached inside one attempt ends the
    // search at once; the deadline catches searches whose single attempts are cheap but whose
    // number and length together are not (such as "x*z" over a long run of x).
    const RegexOptions &o = impl.options;
    const auto *bytes = reinterpret_cast<PCRE2_SPTR>(subject.data());
    const size_t length = subject.size();
    size_t from = start;
    const StartInfo &info = impl.start;
    if (info.required >= 0) {
        // Every match contains this byte: without one at or after `from` there is none.
        const bool known = s.requiredText == subject.data() && s.requiredLength == length &&
                           s.requiredAt >= from && s.requiredAt < length;
        if (!known) {
            const size_t at = FindUnit(subject, from, info.required);
            if (at == std::string_view::npos) {
                return RegexStatus::NoMatch;
            }
            s.requiredText = subject.data();
            s.requiredLength = length;
            s.requiredAt = at;
        }
    }
    int rc = PCRE2_ERROR_NOMATCH;
    for (;;) {
        from = SkipToStart(info, subject, from);
        if (from == std::string_view::npos) {
            return RegexStatus::NoMatch;
        }
        const size_t remaining = length - from;
        // Below 2^14 bytes one window covers the rest, so the division is not needed (this
        // runs once per match, and a replace over a page makes hundreds of them).
        const bool small = remaining < kSingleWindowBytes;
        const size_t window = small ? remaining + 1 : WindowFor(remaining);
        const bool last = impl.oneCall || window > remaining;
        const PCRE2_SIZE offsetLimit = last ? PCRE2_UNSET : from + window - 1;
        if (s.offsetLimit != offsetLimit) {
            pcre2_set_offset_limit(s.context.get(), offsetLimit);
            s.offsetLimit = offsetLimit;
        }
        rc = MatchOnce(impl.code.get(), impl.jit, o, s, bytes, length, from);
        if (rc != PCRE2_ERROR_NOMATCH || last) {
            break;
        }
        from += window;
        if (Clock::now() > deadline) {
            return RegexStatus::LimitExceeded;
        }
    }

    if (rc == PCRE2_ERROR_NOMATCH) {
        return RegexStatus::NoMatch;
    }
    if (IsLimitError(rc)) {
        return RegexStatus::LimitExceeded;
    }
    if (rc <= 0) {
        return RegexStatus::Failed;
    }
    const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(s.data.get());
    if (ovector[1] < ovector[0]) {
        return RegexStatus::Failed; // \K in a lookahead can invert the bounds
    }
    set = std::min(static_cast<size_t>(rc), impl.groupCount + 1);
    return RegexStatus::Matched;
}

} // namespace

RegexStatus Regex::Find(std::string_view subject, size_t start, RegexMatch &match,
                        RegexScratch &scratch) const {
    if (!Ok() || !scratch.impl_ || start > subject.size()) {
        return RegexStatus::Failed;
    }
    const Impl &impl = *impl_;
    RegexScratch::Impl &s = *scratch.impl_;
    if (!PrepareScratch(impl, s)) {
        return RegexStatus::Failed;
    }
    const Clock::time_point deadline =
        s.deadline ? *s.deadline
                   : Clock::now() + std::chrono::milliseconds(impl.options.timeLimitMs);
    size_t set = 0;
    const RegexStatus status = Search(impl, s, subject, start, deadline, set);
    if (status != RegexStatus::Matched) {
        return status;
    }
    const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(s.data.get());
    match.groups.assign(impl.groupCount + 1, RegexGroup{});
    for (size_t i = 0; i < set; ++i) {
        const PCRE2_SIZE begin = ovector[2 * i];
        const PCRE2_SIZE end = ovector[2 * i + 1];
        if (begin == PCRE2_UNSET || end < begin) {
            continue;
        }
        match.groups[i] = RegexGroup{begin, end - begin, true};
    }
    return RegexStatus::Matched;
}

RegexStatus Replace(const Regex &regex, std::string_view subject, std::string_view format,
                    std::string &out, bool global, RegexScratch *scratchToUse) {
    if (!regex.Ok()) {
        return RegexStatus::Failed;
    }
    const Regex::Impl &impl = *regex.impl_;
    RegexScratch ownScratch;
    RegexScratch &scratch = scratchToUse != nullptr ? *scratchToUse : ownScratch;
    if (!scratch.impl_ || !PrepareScratch(impl, *scratch.impl_)) {
        return RegexStatus::Failed;
    }
    RegexScratch::Impl &s = *scratch.impl_;
    // One time limit for the whole loop, unless the caller has set a deadline already.
    const Clock::time_point deadline =
        s.deadline ? *s.deadline
                   : Clock::now() + std::chrono::milliseconds(impl.options.timeLimitMs);

    // Matches are visited as ForEachMatch visits them; the text between them is copied and each
    // is replaced by the format applied to the offsets PCRE2 reports, with no match object
    // built in between.
    const ReplacementFormat replacement(format, impl.groupCount);
    const uint64_t limit = subject.size() + impl.options.replaceGrowthLimit;
    ReplacementFormat::Output result(subject.size());
    const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(s.data.get());
    size_t copied = 0;
    bool any = false;
    size_t pos = 0;
    while (pos <= subject.size()) {
        size_t set = 0;
        const RegexStatus status = Search(impl, s, subject, pos, deadline, set);
        if (status == RegexStatus::NoMatch) {
            break;
        }
        if (status != RegexStatus::Matched) {
            return status;
        }
        const size_t begin = ovector[0];
        const size_t end = ovector[1];
        const size_t at = std::max(begin, copied);
        result.Put(subject.data() + copied, at - copied);
        // One replacement is at most twice the subject plus the format, so checking after it
        // bounds the result just as well.
        replacement.AppendPairs(result, subject, ovector, set);
        if (result.Size() > limit) {
            return RegexStatus::LimitExceeded;
        }
        copied = std::max(end, copied);
        any = true;
        if (!global) {
            break;
        }
        size_t next = end == begin ? end + 1 : end;
        if (next <= pos) {
            next = pos + 1; // progress even if a match were reported before `pos`
        }
        pos = next;
    }
    const size_t tail = std::min(copied, subject.size());
    result.Put(subject.data() + tail, subject.size() - tail);
    out = result.Take();
    return any ? RegexStatus::Matched : RegexStatus::NoMatch;
}

} // namespace kestrun::textutil
