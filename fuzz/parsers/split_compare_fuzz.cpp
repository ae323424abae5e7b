// ExplodeData and StrCompare on arbitrary bytes: the plain functions against a direct reading of
// their rules (std::string_view::find, a count of equal positions), and the exports over BSTRs
// that hold the same bytes (cut at the first zero byte, as a host's strings are).
#include "fuzz_input.h"

#include "kestrun.h"
#include "kestrun/textutil/text_utils.h"

#include <algorithm>
#include <memory>
#include <string>

namespace {

using fuzzing::Fail;
namespace tu = kestrun::textutil;

constexpr const char *kTarget = "split_compare";

struct BstrFree {
    void operator()(OLECHAR *b) const { SysFreeString(b); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFree>;

UniqueBstr MakeBstr(std::string_view bytes) {
    return UniqueBstr(SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size())));
}

std::string_view BstrView(BSTR b) {
    return b == nullptr ? std::string_view()
                        : std::string_view(reinterpret_cast<const char *>(b), SysStringByteLen(b));
}

std::string_view UpToZero(std::string_view s) {
    return s.substr(0, std::min(s.find('\0'), s.size()));
}

std::string ExpectedLength(std::string_view text, std::string_view start, std::string_view end) {
    const size_t s = text.find(start);
    if (s == std::string_view::npos) {
        return {};
    }
    const size_t stretch = s + start.size();
    const size_t e = text.find(end, stretch);
    if (e == std::string_view::npos) {
        return {};
    }
    return std::to_string(e - stretch);
}

double ExpectedLikeness(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    if (n == 0) {
        return a.size() == b.size() ? 1.0 : 0.0;
    }
    size_t same = 0;
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) {
            ++same;
        }
    }
    return double(same) / double(n);
}

void CheckExports(std::string_view text, std::string_view start, std::string_view end) {
    UniqueBstr t = MakeBstr(text);
    UniqueBstr s = MakeBstr(start);
    UniqueBstr e = MakeBstr(end);
    BSTR tp = t.get();
    BSTR sp = s.get();
    BSTR ep = e.get();
    const UniqueBstr length(ExplodeData(&tp, &sp, &ep));
    const std::string expected = ExpectedLength(UpToZero(text), UpToZero(start), UpToZero(end));
    if (BstrView(length.get()) != expected) {
        Fail(kTarget, "ExplodeData differs from the plain function");
    }
    const double likeness = StrCompare(&tp, &sp);
    if (likeness != ExpectedLikeness(UpToZero(text), UpToZero(start))) {
        Fail(kTarget, "StrCompare differs from the plain function");
    }
    BSTR none = nullptr;
    if (StrCompare(&none, &sp) != 0.0 || StrCompare(&tp, nullptr) != 0.0) {
        Fail(kTarget, "StrCompare with no string is not 0");
    }
    const UniqueBstr noStart(ExplodeData(&tp, &none, &ep));
    if (!BstrView(noStart.get()).empty()) {
        Fail(kTarget, "ExplodeData without a start marker is not empty");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzing::FuzzInput input(data, size);
    const std::string_view start = input.Field();
    const std::string_view end = input.Field();
    const std::string_view text = input.Rest();

    const std::string length = tu::ExplodeLength(text, start, end);
    if (length != ExpectedLength(text, start, end)) {
        Fail(kTarget, "ExplodeLength differs from the reference");
    }
    if (!length.empty() && std::stoull(length) > text.size()) {
        Fail(kTarget, "stretch longer than the text");
    }
    for (const auto &[a, b] : {std::pair{text, start}, std::pair{start, end}}) {
        const double likeness = tu::Likeness(a, b);
        if (likeness != ExpectedLikeness(a, b) || likeness < 0.0 || likeness > 1.0) {
            Fail(kTarget, "Likeness differs from the reference");
        }
        if (likeness != tu::Likeness(b, a)) {
            Fail(kTarget, "Likeness is not symmetric");
        }
    }
    if (tu::Likeness(text, text) != 1.0) {
        Fail(kTarget, "a text is not alike to itself");
    }
    CheckExports(text, start, end);
    return 0;
}
