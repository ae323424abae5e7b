#include "text_utils.h"

#include "regex_engine.h"

#include "kestrun/interop/strings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace kestrun::textutil {
namespace {

// a * b + c, or nullopt once it passes `cap`.
std::optional<uint64_t> MulAddCapped(uint64_t a, uint64_t b, uint64_t c, uint64_t cap) {
    if (b != 0 && a > cap / b) {
        return std::nullopt;
    }
    const uint64_t product = a * b;
    if (product > cap || c > cap - product) {
        return std::nullopt;
    }
    return product + c;
}

// Bytes of `entries` entries of total length `entryBytes` joined by `separator`.
std::optional<uint64_t> JoinedSize(uint64_t entries, uint64_t entryBytes, size_t separator) {
    const uint64_t gaps = entries == 0 ? 0 : entries - 1;
    return MulAddCapped(gaps, separator, entryBytes, kMaxListingBytes);
}

void Permute(std::string &work, size_t p, std::string_view separator, Listing &out) {
    if (p == work.size()) {
        ++out.count;
        if (out.count > 1) {
            out.text.append(separator);
        }
        out.text.append(work);
        return;
    }
    for (size_t q = p; q < work.size(); ++q) {
        std::swap(work[p], work[q]);
        Permute(work, p + 1, separator, out);
        std::swap(work[p], work[q]);
    }
}

} // namespace

SearchOutcome SearchMatches(std::string_view text, std::string_view pattern, int limit,
                            std::vector<std::string_view> &matches, size_t maxMatches) {
    matches.clear();
    const std::shared_ptr<const Regex> compiled = CompileCached(pattern);
    const Regex &regex = *compiled;
    if (!regex.Ok()) {
        return SearchOutcome::InvalidPattern;
    }
    RegexScratch scratch;
    scratch.SetDeadline(std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(regex.Options().timeLimitMs));
    RegexMatch match;
    size_t pos = 0;
    while (pos <= text.size()) {
        const std::string_view rest = text.substr(pos);
        const RegexStatus status = regex.Find(rest, 0, match, scratch);
        if (status == RegexStatus::NoMatch) {
            break;
        }
        if (status != RegexStatus::Matched) {
            matches.clear();
            return SearchOutcome::GaveUp;
        }
        if (matches.size() >= maxMatches) {
            matches.clear();
            return SearchOutcome::GaveUp;
        }
        matches.push_back(match.Group(rest, 0));
        if (limit != -1 && matches.size() >= static_cast<size_t>(std::max(limit, 1))) {
            break;
        }
        pos += match.Length() == 0 ? match.End() + 1 : match.End();
    }
    return SearchOutcome::Ok;
}

std::string ReplaceMatches(std::string_view text, std::string_view pattern,
                           std::string_view format) {
    RegexOptions options;
    options.caseless = true;
    const std::shared_ptr<const Regex> regex = CompileCached(pattern, options);
    std::string out;
    const RegexStatus status =
        regex->Ok() ? Replace(*regex, text, format, out) : RegexStatus::Failed;
    if (status != RegexStatus::Matched && status != RegexStatus::NoMatch) {
        out.assign(text);
    }
    return out;
}

std::string ExplodeLength(std::string_view text, std::string_view startMarker,
                          std::string_view endMarker) {
    const size_t start = interop::FindBytes(text, startMarker);
    if (start == std::string_view::npos) {
        return {};
    }
    const size_t stretch = start + startMarker.size();
    const size_t end = interop::FindBytes(text, endMarker, stretch);
    if (end == std::string_view::npos) {
        return {};
    }
    return std::to_string(end - stretch);
}

double Likeness(std::string_view first, std::string_view second) {
    const size_t n = std::min(first.size(), second.size());
    if (n == 0) {
        return first.size() == second.size() ? 1.0 : 0.0;
    }
    size_t same = 0;
    for (size_t i = 0; i < n; ++i) {
        same += first[i] == second[i] ? 1 : 0;
    }
    return static_cast<double>(same) / static_cast<double>(n);
}

std::optional<Listing> Permutations(std::string_view items, std::string_view separator) {
    const uint64_t n = items.size();
    uint64_t entries = 1;
    for (uint64_t k = 2; k <= n; ++k) {
        const auto next = MulAddCapped(entries, k, 0, kMaxListingBytes);
        if (!next) {
            return std::nullopt;
        }
        entries = *next;
    }
    const auto entryBytes = MulAddCapped(entries, n, 0, kMaxListingBytes);
    const auto total =
        entryBytes ? JoinedSize(entries, *entryBytes, separator.size()) : std::nullopt;
    if (!total) {
        return std::nullopt;
    }
    Listing out;
    out.text.reserve(*total);
    std::string work(items);
    Permute(work, 0, separator, out);
    return out;
}

std::optional<Listing> Combinations(std::string_view items, std::string_view separator) {
    const size_t n = items.size();
    if (n > kMaxCombinationItems) {
        return std::nullopt;
    }
    Listing out;
    if (n == 0) {
        return out;
    }
    // Each byte appears in half of the 2^n - 1 non-empty subsets.
    const uint64_t entries = (uint64_t{1} << n) - 1;
    const auto entryBytes = MulAddCapped(uint64_t{1} << (n - 1), n, 0, kMaxListingBytes);
    const auto total =
        entryBytes ? JoinedSize(entries, *entryBytes, separator.size()) : std::nullopt;
    if (!total) {
        return std::nullopt;
    }
    out.text.reserve(*total);
    for (uint64_t mask = 1; mask <= entries; ++mask) {
        ++out.count;
        if (out.count > 1) {
            out.text.append(separator);
        }
        for (size_t k = 0; k < n; ++k) {
            if ((mask >> k) & 1) {
                out.text.push_back(items[k]);
            }
        }
    }
    return out;
}

} // namespace kestrun::textutil
