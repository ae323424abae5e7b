// The regular-expression engine on PCRE2 (8-bit code units, no UTF), configured for the
// ECMAScript flavour: \u and \x escapes as ECMAScript reads them, [^] for any byte, a back
// reference to an unset group matching the empty string, $ only at the very end unless
// multiline, and CR and LF both as line breaks (so "." matches neither).
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "regex_engine.h"

#include <algorithm>

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

constexpr uint32_t kCompileFlags = PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                                   PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY |
                                   PCRE2_NEVER_UTF | PCRE2_NEVER_UCP;

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
bool RewriteForEcmaScript(std::string_view pattern, bool multiline, std::string &out) {
    out.clear();
    out.reserve(pattern.size() + 16);
    bool changed = false;
    bool inClass = false;
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            const char next = pattern[i + 1];
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

} // namespace

struct Regex::Impl {
    CodePtr code;
    RegexOptions options;
    std::string errorMessage;
    size_t errorOffset = 0;
    size_t groupCount = 0;
    bool jit = false;
};

struct RegexScratch::Impl {
    std::unique_ptr<pcre2_match_context, MatchContextFree> context;
    std::unique_ptr<pcre2_match_data, MatchDataFree> data;
    uint32_t dataPairs = 0;
    std::unique_ptr<pcre2_jit_stack, JitStackFree> jitStack;
    uint32_t jitStackKiB = 0;
    // Limits last written into `context` (all-ones: none yet).
    uint32_t matchLimit = ~0u;
    uint32_t depthLimit = ~0u;
    uint32_t heapLimitKiB = ~0u;
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
    if (RewriteForEcmaScript(given, options.multiline, rewritten)) {
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
    const uint32_t groups = InfoU32(code.get(), PCRE2_INFO_CAPTURECOUNT);
    if (InfoU32(code.get(), PCRE2_INFO_HASCRORLF) == 0 && MayStartWithLineFeed(code.get())) {
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

const RegexOptions &Regex::Options() const {
    static const RegexOptions kDefaults;
    return impl_ ? impl_->options : kDefaults;
}

RegexStatus Regex::Find(std::string_view subject, size_t start, RegexMatch &match) const {
    RegexScratch scratch;
    return Find(subject, start, match, scratch);
}

RegexStatus Regex::Find(std::string_view subject, size_t start, RegexMatch &match,
                        RegexScratch &scratch) const {
    if (!Ok() || !scratch.impl_ || start > subject.size()) {
        return RegexStatus::Failed;
    }
    const Impl &impl = *impl_;
    RegexScratch::Impl &s = *scratch.impl_;

    if (!s.context) {
        s.context.reset(pcre2_match_context_create(nullptr));
        if (!s.context) {
            return RegexStatus::Failed;
        }
    }
    const uint32_t pairs = static_cast<uint32_t>(impl.groupCount + 1);
    if (!s.data || s.dataPairs < pairs) {
        s.data.reset(pcre2_match_data_create(pairs, nullptr));
        s.dataPairs = s.data ? pairs : 0;
        if (!s.data) {
            return RegexStatus::Failed;
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

    const auto *bytes = reinterpret_cast<PCRE2_SPTR>(subject.data());
    int rc = PCRE2_ERROR_NOMATCH;
    bool done = false;
    if (impl.jit) {
        // JIT code first runs on a small stack of its own (32 KiB on the machine stack), which
        // nearly every search fits; only a search that needs more gets a JIT stack of up to
        // the memory limit.
        const size_t stackBytes = std::max<size_t>(size_t{o.memoryLimitKiB} * 1024, 32 * 1024);
        pcre2_jit_stack_assign(s.context.get(), nullptr,
                               s.jitStackKiB == o.memoryLimitKiB ? s.jitStack.get() : nullptr);
        rc = pcre2_jit_match(impl.code.get(), bytes, subject.size(), start, 0, s.data.get(),
                             s.context.get());
        if (rc == PCRE2_ERROR_JIT_STACKLIMIT && s.jitStackKiB != o.memoryLimitKiB) {
            s.jitStack.reset(pcre2_jit_stack_create(32 * 1024, stackBytes, nullptr));
            if (s.jitStack) {
                s.jitStackKiB = o.memoryLimitKiB;
                pcre2_jit_stack_assign(s.context.get(), nullptr, s.jitStack.get());
                rc = pcre2_jit_match(impl.code.get(), bytes, subject.size(), start, 0, s.data.get(),
                                     s.context.get());
            }
        }
        // The JIT counts its steps differently and has a stack of its own: where it gives up,
        // the interpreter decides, so that a limit never ends a search the interpreter
        // completes.
        done = !IsLimitError(rc) && rc != PCRE2_ERROR_NOMEMORY;
    }
    if (!done) {
        rc = pcre2_match(impl.code.get(), bytes, subject.size(), start, PCRE2_NO_JIT, s.data.get(),
                         s.context.get());
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
    match.groups.assign(impl.groupCount + 1, RegexGroup{});
    const size_t set = static_cast<size_t>(rc);
    for (size_t i = 0; i < set && i <= impl.groupCount; ++i) {
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
                    std::string &out, bool global, RegexScratch *scratch) {
    const ReplacementFormat replacement(format, regex.GroupCount());
    const uint64_t limit = subject.size() + regex.Options().replaceGrowthLimit;
    std::string result;
    result.reserve(subject.size());
    size_t copied = 0;
    bool any = false;
    bool tooLarge = false;
    RegexStatus status = ForEachMatch(
        regex, subject,
        [&](const RegexMatch &m) {
            const size_t at = std::max(m.Position(), copied);
            result.append(subject.substr(copied, at - copied));
            // One replacement is at most twice the subject plus the format, so checking after
            // it bounds the result just as well.
            replacement.Append(result, subject, m);
            if (result.size() > limit) {
                tooLarge = true;
                return false;
            }
            copied = std::max(m.End(), copied);
            any = true;
            return global;
        },
        0, scratch);
    if (tooLarge) {
        status = RegexStatus::LimitExceeded;
    }
    if (status != RegexStatus::NoMatch) {
        return status;
    }
    result.append(subject.substr(std::min(copied, subject.size())));
    out = std::move(result);
    return any ? RegexStatus::Matched : RegexStatus::NoMatch;
}

} // namespace kestrun::textutil
