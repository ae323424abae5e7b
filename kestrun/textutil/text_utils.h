// The text utilities behind the exports: regular-expression search and replace, the length of
// the stretch between two markers, position-by-position likeness, permutations and
// combinations. All work on bytes (GBK text is used as it arrives).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::textutil {

// Outcome of SearchMatches.
enum class SearchOutcome {
    Ok,             // `matches` holds the whole matches, possibly none
    InvalidPattern, // the pattern does not compile; `matches` is empty
    GaveUp,         // a search hit the engine's step or memory limit, or there were more
                    // than maxMatches matches; `matches` is empty
};

// Collects the whole matches of `pattern` (case-sensitive) in `text`, as views into `text`. After
// each match the next search runs on the rest of the text, which counts as a new beginning (^
// matches there and nothing before it is seen); after an empty match the rest starts one byte
// later. A `limit` of -1 takes every match; any other value stops once that many are found, and
// always takes the first match.
// The search gives up (GaveUp) rather than collect more than `maxMatches` matches: an
// empty pattern over a long text would otherwise give one array element per byte.
inline constexpr size_t kMaxSearchMatches = size_t{1} << 22;

SearchOutcome SearchMatches(std::string_view text, std::string_view pattern, int limit,
                            std::vector<std::string_view> &matches,
                            size_t maxMatches = kMaxSearchMatches);

// Replaces every match of `pattern` (case-insensitive) by `format` read with the "$" rules of
// AppendReplacement. An invalid pattern, a search that gives up or a result that would grow
// past the engine's bound yields the text unchanged.
std::string ReplaceMatches(std::string_view text, std::string_view pattern,
                           std::string_view format);

// The length in bytes, as decimal text, of the stretch after the first `startMarker` up to the
// next `endMarker`; "" when either marker is missing.
std::string ExplodeLength(std::string_view text, std::string_view startMarker,
                          std::string_view endMarker);

// Share of equal bytes at equal positions over the length of the shorter text. Two empty texts
// are alike (1); an empty and a non-empty text are not (0).
double Likeness(std::string_view first, std::string_view second);

// Results of Permutation and Combination larger than this many bytes are refused.
inline constexpr uint64_t kMaxListingBytes = uint64_t{256} * 1024 * 1024;
// Combination takes at most this many items (2^n - 1 subsets must fit a signed 32-bit count).
inline constexpr size_t kMaxCombinationItems = 30;

struct Listing {
    std::string text;
    int32_t count = 0;
};

// Every ordering of the bytes of `items` (n! entries, repeated bytes giving repeated entries),
// in the order of the exchange recursion, joined by `separator`. nullopt when the result
// would exceed kMaxListingBytes.
std::optional<Listing> Permutations(std::string_view items, std::string_view separator);

// Every non-empty subset of the bytes of `items` in the order of the bit masks 1 .. 2^n - 1,
// joined by `separator`. nullopt for more than kMaxCombinationItems items or a result larger
// than kMaxListingBytes.
std::optional<Listing> Combinations(std::string_view items, std::string_view separator);

} // namespace kestrun::textutil
