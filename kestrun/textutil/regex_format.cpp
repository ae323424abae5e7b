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

void ReplacementFormat::Append(std::string &out, std::string_view subject,
                               const RegexMatch &match) const {
    for (const Piece &piece : pieces_) {
        switch (piece.kind) {
        case Kind::Literal:
            if (piece.length == 1) {
                out.push_back(format_[piece.offset]); // the usual "[", "]", "<" ...
            } else {
                out.append(format_.data() + piece.offset, piece.length);
            }
            break;
        case Kind::Group: {
            const std::string_view group = match.Group(subject, piece.offset);
            out.append(group.data(), group.size());
            break;
        }
        case Kind::Before:
            out.append(subject.substr(0, std::min(match.Position(), subject.size())));
            break;
        case Kind::After:
            if (match.End() < subject.size()) {
                out.append(subject.substr(match.End()));
            }
            break;
        }
    }
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
