// Regex_Search, Regex_Replace, ExplodeData, StrCompare, Permutation, Combination.
#include "kestrun.h"
#include "kestrun/interop/frame.h"
#include "kestrun/textutil/text_utils.h"

#include <limits>
#include <vector>

using namespace kestrun::interop;
namespace tu = kestrun::textutil;

namespace {

// Result codes of Regex_Search.
constexpr int16_t kSearchOk = 1;
constexpr int16_t kSearchNoText = -101;
constexpr int16_t kSearchNoWorkingArray = -102;
constexpr int16_t kSearchNoResultArray = -103;
constexpr int16_t kSearchBadPattern = -104; // the pattern does not compile
constexpr int16_t kSearchGaveUp = -105;     // step/memory limit reached, or memory ran out

bool HoldsString(const BSTR *variable) {
    return variable != nullptr && *variable != nullptr;
}

int16_t Search(BSTR *text, BSTR *pattern, SAFEARRAY **matches, int16_t limit) {
    if (!HoldsString(text)) {
        return kSearchNoText;
    }
    if (ReplaceOutArray(matches, {SAFEARRAYBOUND{1, 0}}) == nullptr) {
        return kSearchNoWorkingArray;
    }
    const std::string_view subject = RefView(text);
    const std::string_view expression = RefView(pattern);
    std::vector<std::string_view> found;
    switch (tu::SearchMatches(subject, expression, limit, found)) {
    case tu::SearchOutcome::InvalidPattern:
        return kSearchBadPattern;
    case tu::SearchOutcome::GaveUp:
        return kSearchGaveUp;
    case tu::SearchOutcome::Ok:
        break;
    }
    if (found.size() >= std::numeric_limits<ULONG>::max()) {
        return kSearchNoResultArray;
    }
    const auto elements = static_cast<ULONG>(found.size() + 1);
    SAFEARRAY *array = ReplaceOutArray(matches, {SAFEARRAYBOUND{elements, 0}});
    if (array == nullptr) {
        return kSearchNoResultArray;
    }
    for (size_t i = 0; i < found.size(); ++i) {
        PutArrayString(array, {static_cast<LONG>(i + 1)}, found[i]);
    }
    return kSearchOk;
}

// Writes a listing's outcome: the count (0 when the listing was refused) and the text.
BSTR ListingResult(const std::optional<tu::Listing> &listing, int32_t *count) {
    if (count != nullptr) {
        *count = listing ? listing->count : 0;
    }
    return StringResult(listing ? std::string_view(listing->text) : std::string_view());
}

} // namespace

KESTRUN_EXPORT int16_t KESTRUN_CALL Regex_Search(BSTR *text, BSTR *pattern, SAFEARRAY **matches,
                                                 int16_t limit) {
    return Guard(kSearchGaveUp, [&] { return Search(text, pattern, matches, limit); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Regex_Replace(BSTR *text, BSTR *pattern, BSTR *replacement) {
    if (!HoldsString(text)) {
        return StringResult("");
    }
    return GuardString([&] {
        const std::string_view subject = RefView(text);
        try {
            return StringResult(
                tu::ReplaceMatches(subject, RefView(pattern), RefView(replacement)));
        } catch (...) {
            return StringResult(subject); // any failure gives the text back unchanged
        }
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ExplodeData(BSTR *text, BSTR *startMarker, BSTR *endMarker) {
    if (!HoldsString(startMarker)) {
        return StringResult("");
    }
    return GuardString([&] {
        return StringResult(
            tu::ExplodeLength(RefString(text), RefString(startMarker), RefString(endMarker)));
    });
}

KESTRUN_EXPORT double KESTRUN_CALL StrCompare(BSTR *first, BSTR *second) {
    if (!HoldsString(first) || !HoldsString(second)) {
        return 0.0;
    }
    return Guard(0.0, [&] { return tu::Likeness(RefString(first), RefString(second)); });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Permutation(BSTR *items, BSTR *separator, int32_t *count) {
    if (!HoldsString(items) || !HoldsString(separator)) {
        return StringResult("");
    }
    if (count != nullptr) {
        *count = 0;
    }
    return GuardString([&] {
        return ListingResult(tu::Permutations(RefString(items), RefString(separator)), count);
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL Combination(BSTR *items, BSTR *separator, int32_t *count) {
    if (!HoldsString(items) || !HoldsString(separator)) {
        return StringResult("");
    }
    if (count != nullptr) {
        *count = 0;
    }
    return GuardString([&] {
        return ListingResult(tu::Combinations(RefString(items), RefString(separator)), count);
    });
}
