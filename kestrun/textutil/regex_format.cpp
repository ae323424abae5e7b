// The ECMAScript replacement format, independent of the matching engine.
#include "regex_engine.h"

#include <algorithm>

namespace kestrun::textutil {

ReplacementFormat::ReplacementFormat(std::string_view format, size_t groupCount) : format_(format) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto literal = [this](size_t from, size_t to) {
        if (to <= from) {
            return;
        }
        if (!pieces_.empty() && pieces_.back().kind == Kind::Literal &&
            pieces_.back().offset + pieces_.back().length == from) {
            pieces_.back().length += to - from; // extend the literal just before
            return;
        }
        pieces_.push_back(Piece{Kind::Literal, from, to - from});
    };
    size_t i = 0;
    while (i < format_.size()) {
        const size_t dollar = format_.find('$', i);
        if (dollar == std::string::npos || dollar + 1 >= format_.size()) {
            literal(i, format_.size());
            return;
        }
        literal(i, dollar);
        const char next = format_[dollar + 1];
        i = dollar + 2;
        switch (next) {
        case '$':
            literal(dollar, dollar + 1);
            continue;
        case '&':
            pieces_.push_back(Piece{Kind::Group, 0, 0});
            continue;
        case '`':
            pieces_.push_back(Piece{Kind::Before, 0, 0});
            continue;
        case '\'':
            pieces_.push_back(Piece{Kind::After, 0, 0});
            continue;
        default:
            break;
        }
        if (isDigit(next)) {
            const auto one = static_cast<size_t>(next - '0');
            if (dollar + 2 < format_.size() && isDigit(format_[dollar + 2])) {
                const size_t two = one * 10 + static_cast<size_t>(format_[dollar + 2] - '0');
                if (two >= 1 && two <= groupCount) {
                    pieces_.push_back(Piece{Kind::Group, two, 0});
                    i = dollar + 3;
                    continue;
                }
            }
            if (one >= 1 && one <= groupCount) {
                pieces_.push_back(Piece{Kind::Group, one, 0});
                continue;
            }
        }
        // Not a substitution: the dollar is literal and the next byte is read normally.
        literal(dollar, dollar + 1);
        i = dollar + 1;
    }
}

template <class Sink, class GroupAt>
void ReplacementFormat::Emit(Sink &out, std::string_view subject, size_t position, size_t end,
                             GroupAt &&group) const {
    for (const Piece &piece : pieces_) {
        switch (piece.kind) {
        case Kind::Literal:
            out.Put(format_.data() + piece.offset, piece.length);
            break;
        case Kind::Group: {
            const std::string_view text = group(piece.offset);
            out.Put(text.data(), text.size());
            break;
        }
        case Kind::Before:
            out.Put(subject.data(), std::min(position, subject.size()));
            break;
        case Kind::After:
            if (end < subject.size()) {
                out.Put(subject.data() + end, subject.size() - end);
            }
            break;
        }
    }
}

namespace {

// std::string as a sink for ReplacementFormat::Emit.
struct StringSink {
    std::string &out;
    void Put(const char *bytes, size_t count) { out.append(bytes, count); }
};

} // namespace

void ReplacementFormat::Append(std::string &out, std::string_view subject,
                               const RegexMatch &match) const {
    StringSink sink{out};
    Emit(sink, subject, match.Position(), match.End(),
         [&](size_t i) { return match.Group(subject, i); });
}

void ReplacementFormat::AppendPairs(Output &out, std::string_view subject, const size_t *pairs,
                                    size_t set) const {
    Emit(out, subject, pairs[0], pairs[1], [&](size_t i) -> std::string_view {
        const size_t begin = pairs[2 * i];
        const size_t end = pairs[2 * i + 1];
        if (i >= set || begin == SIZE_MAX || end < begin || end > subject.size()) {
            return {};
        }
        return subject.substr(begin, end - begin);
    });
}

void ReplacementFormat::Output::Grow(size_t count) {
    bytes_.resize(std::max(bytes_.size() * 2, used_ + count));
}

std::string ReplacementFormat::Output::Take() {
    bytes_.resize(used_);
    used_ = 0;
    return std::move(bytes_);
}

void AppendReplacement(std::string &out, std::string_view format, std::string_view subject,
                       const RegexMatch &match) {
    const size_t groups = match.groups.empty() ? 0 : match.groups.size() - 1;
    ReplacementFormat(format, groups).Append(out, subject, match);
}

std::string FormatReplacement(std::string_view format, std::string_view subject,
                              const RegexMatch &match) {
    std::string out;
    AppendReplacement(out, format, subject, match);
    return out;
}

} // namespace kestrun::textutil
