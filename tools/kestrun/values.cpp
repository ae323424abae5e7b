#include "values.h"

#include "convert.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kestrun_cli {

namespace {

std::string WideText(BSTR b) {
    if (b == nullptr) {
        return "(null)";
    }
    return Convert("UTF-8", "UTF-16LE", BstrBytes(b));
}

std::vector<std::vector<std::string>> SplitTable(std::string_view layout) {
    std::vector<std::vector<std::string>> rows;
    size_t start = 0;
    while (true) {
        const size_t nl = layout.find('\n', start);
        std::string_view line =
            layout.substr(start, nl == std::string_view::npos ? nl : nl - start);
        std::vector<std::string> fields;
        size_t f = 0;
        while (true) {
            const size_t bar = line.find('|', f);
            fields.emplace_back(line.substr(f, bar == std::string_view::npos ? bar : bar - f));
            if (bar == std::string_view::npos) {
                break;
            }
            f = bar + 1;
        }
        rows.push_back(std::move(fields));
        if (nl == std::string_view::npos) {
            break;
        }
        start = nl + 1;
    }
    return rows;
}

} // namespace

std::string ToGbk(std::string_view utf8) {
    return Convert("CP936", "UTF-8", utf8);
}
std::optional<long long> ParseNumber(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const bool negative = text.front() == '-';
    if (negative || text.front() == '+') {
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    unsigned long long magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        magnitude > static_cast<unsigned long long>(INT64_MAX)) {
        return std::nullopt;
    }
    const auto value = static_cast<long long>(magnitude);
    return negative ? -value : value;
}

std::string FromGbk(std::string_view gbk) {
    return Convert("UTF-8", "CP936", gbk);
}

std::string Hex(std::string_view bytes) {
    std::string out;
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", c);
        out += pair;
    }
    return out;
}

BSTR MakeAnsiBstr(std::string_view utf8) {
    const std::string gbk = ToGbk(utf8);
    return SysAllocStringByteLen(gbk.data(), static_cast<UINT>(gbk.size()));
}

std::string BstrBytes(BSTR b) {
    return b == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char *>(b), SysStringByteLen(b));
}

std::string BstrText(BSTR b, bool hex) {
    if (b == nullptr) {
        return "(null)";
    }
    return hex ? Hex(BstrBytes(b)) : FromGbk(BstrBytes(b));
}

std::string VariantText(const VARIANT *v) {
    if (V_VT(v) == VT_EMPTY) {
        return "(empty)";
    }
    if (V_VT(v) == VT_NULL) {
        return "(null)";
    }
    Variant text;
    if (FAILED(
            VariantChangeType(text.get(), const_cast<VARIANT *>(v), VARIANT_ALPHABOOL, VT_BSTR))) {
        return "(vt " + std::to_string(V_VT(v)) + ")";
    }
    return WideText(V_BSTR(text.get()));
}

ArrayPtr MakeArray(std::string_view layout, VARTYPE vt) {
    if (layout.empty()) {
        return nullptr;
    }
    // A line feed at the end makes a table of the lines before it, so one row can be a table.
    const bool endsRow = layout.back() == '\n';
    if (endsRow) {
        layout.remove_suffix(1);
    }
    const auto rows = SplitTable(layout);
    const bool twoDims = endsRow || rows.size() > 1;
    size_t width = 0;
    for (const auto &r : rows) {
        width = std::max(width, r.size());
    }
    std::array<SAFEARRAYBOUND, 2> bounds{};
    if (twoDims) {
        bounds[0] = {static_cast<ULONG>(rows.size()), 0};
        bounds[1] = {static_cast<ULONG>(width), 0};
    } else {
        bounds[0] = {static_cast<ULONG>(width), 0};
    }
    ArrayPtr array(SafeArrayCreate(vt, twoDims ? 2 : 1, bounds.data()));
    if (!array) {
        return nullptr;
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size(); ++c) {
            std::array<LONG, 2> idx{static_cast<LONG>(twoDims ? r : c), static_cast<LONG>(c)};
            const std::string &text = rows[r][c];
            if (vt == VT_BSTR) {
                BstrPtr b(MakeAnsiBstr(text));
                SafeArrayPutElement(array.get(), idx.data(), b.get());
                continue;
            }
            Variant v;
            char *end = nullptr;
            errno = 0;
            const long number = std::strtol(text.c_str(), &end, 10);
            if (!text.empty() && *end == '\0' && errno == 0 && number >= INT32_MIN &&
                number <= INT32_MAX) {
                V_VT(v.get()) = VT_I4;
                V_I4(v.get()) = static_cast<LONG>(number);
            } else {
                const std::string utf16 = Convert("UTF-16LE", "UTF-8", text);
                V_VT(v.get()) = VT_BSTR;
                V_BSTR(v.get()) =
                    SysAllocStringByteLen(utf16.data(), static_cast<UINT>(utf16.size()));
            }
            SafeArrayPutElement(array.get(), idx.data(), v.get());
        }
    }
    return array;
}

ArrayPtr CopyArray(const SAFEARRAY *array) {
    SAFEARRAY *copy = nullptr;
    if (array == nullptr || FAILED(SafeArrayCopy(const_cast<SAFEARRAY *>(array), &copy))) {
        return nullptr;
    }
    return ArrayPtr(copy);
}

std::string ArrayLines(SAFEARRAY *array, bool hex) {
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(array, &vt);
    const UINT dims = SafeArrayGetDim(array);
    LONG lo1 = 0, hi1 = -1, lo2 = 0, hi2 = 0;
    SafeArrayGetLBound(array, 1, &lo1);
    SafeArrayGetUBound(array, 1, &hi1);
    if (dims >= 2) {
        SafeArrayGetLBound(array, 2, &lo2);
        SafeArrayGetUBound(array, 2, &hi2);
    }
    std::string lines;
    for (LONG i = lo1; i <= hi1; ++i) {
        std::string line;
        for (LONG j = lo2; j <= hi2; ++j) {
            std::array<LONG, 2> idx{i, j};
            std::string cell;
            if (vt == VT_BSTR) {
                BSTR b = nullptr;
                SafeArrayGetElement(array, idx.data(), &b);
                cell = BstrText(b, hex);
                SysFreeString(b);
            } else if (vt == VT_VARIANT) {
                Variant v;
                SafeArrayGetElement(array, idx.data(), v.get());
                cell = VariantText(v.get());
            }
            line += (j == lo2 ? "" : " | ") + cell;
        }
        lines += "  [" + std::to_string(i) + "] " + line + "\n";
    }
    return lines;
}

Value Value::Text(std::string gbk) {
    Value v;
    v.type_ = Type::Text;
    v.text_ = std::move(gbk);
    return v;
}

Value Value::Number(long long number) {
    Value v;
    v.type_ = Type::Number;
    v.number_ = number;
    return v;
}

Value Value::Array(ArrayPtr array) {
    Value v;
    v.type_ = array ? Type::Array : Type::Null;
    v.array_ = std::move(array);
    return v;
}

Value Value::FromVariant(const Variant &variant) {
    Value v;
    v.type_ = Type::Variant;
    v.variant_ = variant;
    return v;
}

Value::Value(const Value &other)
    : type_(other.type_), text_(other.text_), number_(other.number_),
      array_(CopyArray(other.array_.get())), variant_(other.variant_) {}

Value &Value::operator=(const Value &other) {
    if (this != &other) {
        Value copy(other);
        *this = std::move(copy);
    }
    return *this;
}

std::string Value::AsGbk() const {
    switch (type_) {
    case Type::Text:
        return text_;
    case Type::Number:
        return std::to_string(number_);
    case Type::Variant:
        return V_VT(variant_.get()) == VT_EMPTY ? std::string()
                                                : ToGbk(VariantText(variant_.get()));
    case Type::Null:
    case Type::Array:
        break;
    }
    return std::string();
}

long long Value::AsNumber() const {
    if (type_ == Type::Number) {
        return number_;
    }
    return ParseNumber(AsGbk()).value_or(0);
}

ArrayPtr Value::AsArray(VARTYPE vt) const {
    if (type_ == Type::Array) {
        return CopyArray(array_.get());
    }
    if (type_ == Type::Null) {
        return nullptr;
    }
    return MakeArray(FromGbk(AsGbk()), vt);
}

} // namespace kestrun_cli
