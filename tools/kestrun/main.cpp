// kestrun: a command-line host for libkestrun.so.
//
// Loads the library at run time and binds an export by its name, as a Visual Basic program does,
// then passes the arguments given on the command line. Text arguments are taken as UTF-8 from the
// terminal and handed over as GBK bytes; GBK results are printed back as UTF-8.
//
//   kestrun [-x] NAME [ARG...]
//
// Arguments follow the export's parameters in order; missing ones are null strings, 0, or no
// array. "@null" passes a null string. Arrays: elements separated by "|", and for two dimensions
// rows separated by newlines. Variant array elements that are whole numbers are passed as Long.
// -x prints String results and out-strings as hexadecimal bytes.
#include "oleauto.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <iconv.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct ExportInfo {
    const char *name;
    const char *result;
    std::vector<std::string_view> kinds;
};

const std::vector<ExportInfo> &Exports() {
    static const std::vector<ExportInfo> table = {
#include "kestrun_exports.inc"
    };
    return table;
}

std::string Convert(const char *to, const char *from, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::string(in);
    }
    std::string out;
    char buffer[4096];
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char *dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, dst);
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            out.push_back('?'); // not representable: show a placeholder and go on
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    return out;
}

std::string ToGbk(std::string_view utf8) {
    return Convert("CP936", "UTF-8", utf8);
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

struct BstrFree {
    void operator()(OLECHAR *b) const { SysFreeString(b); }
};
struct ArrayFree {
    void operator()(SAFEARRAY *a) const { SafeArrayDestroy(a); }
};

BSTR MakeAnsiBstr(std::string_view utf8) {
    const std::string gbk = ToGbk(utf8);
    return SysAllocStringByteLen(gbk.data(), static_cast<UINT>(gbk.size()));
}

std::string BstrAnsiText(BSTR b, bool hex) {
    if (b == nullptr) {
        return "(null)";
    }
    const std::string bytes(reinterpret_cast<const char *>(b), SysStringByteLen(b));
    return hex ? Hex(bytes) : FromGbk(bytes);
}

std::string WideText(BSTR b) {
    if (b == nullptr) {
        return "(null)";
    }
    std::string utf16(reinterpret_cast<const char *>(b), SysStringByteLen(b));
    return Convert("UTF-8", "UTF-16LE", utf16);
}

std::string VariantText(const VARIANT *v) {
    VARIANT text;
    VariantInit(&text);
    if (V_VT(v) == VT_EMPTY) {
        return "(empty)";
    }
    if (V_VT(v) == VT_NULL) {
        return "(null)";
    }
    if (FAILED(VariantChangeType(&text, v, VARIANT_ALPHABOOL, VT_BSTR))) {
        return "(vt " + std::to_string(V_VT(v)) + ")";
    }
    std::string out = WideText(V_BSTR(&text));
    VariantClear(&text);
    return out;
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

// Builds a 1-D array ("a|b|c") or, when the text has newlines, a 2-D array (rows x fields).
SAFEARRAY *MakeArray(std::string_view layout, VARTYPE vt) {
    if (layout.empty()) {
        return nullptr;
    }
    const auto rows = SplitTable(layout);
    const bool twoDims = rows.size() > 1;
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
    SAFEARRAY *array = SafeArrayCreate(vt, twoDims ? 2 : 1, bounds.data());
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size(); ++c) {
            std::array<LONG, 2> idx{static_cast<LONG>(twoDims ? r : c), static_cast<LONG>(c)};
            const std::string &text = rows[r][c];
            if (vt == VT_BSTR) {
                std::unique_ptr<OLECHAR, BstrFree> b(MakeAnsiBstr(text));
                SafeArrayPutElement(array, idx.data(), b.get());
            } else {
                VARIANT v;
                VariantInit(&v);
                char *end = nullptr;
                const long number = std::strtol(text.c_str(), &end, 10);
                if (!text.empty() && *end == '\0') {
                    V_VT(&v) = VT_I4;
                    V_I4(&v) = static_cast<LONG>(number);
                } else {
                    const std::string utf16 = Convert("UTF-16LE", "UTF-8", text);
                    V_VT(&v) = VT_BSTR;
                    V_BSTR(&v) =
                        SysAllocStringByteLen(utf16.data(), static_cast<UINT>(utf16.size()));
                }
                SafeArrayPutElement(array, idx.data(), &v);
                VariantClear(&v);
            }
        }
    }
    return array;
}

void PrintArray(int position, SAFEARRAY *array, bool hex) {
    if (array == nullptr) {
        std::printf("arg %d: (no array)\n", position);
        return;
    }
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
    std::printf("arg %d:\n", position);
    for (LONG i = lo1; i <= hi1; ++i) {
        std::string line;
        for (LONG j = lo2; j <= hi2; ++j) {
            std::array<LONG, 2> idx{i, j};
            std::string cell;
            if (vt == VT_BSTR) {
                BSTR b = nullptr;
                SafeArrayGetElement(array, idx.data(), &b);
                cell = BstrAnsiText(b, hex);
                SysFreeString(b);
            } else if (vt == VT_VARIANT) {
                VARIANT v;
                VariantInit(&v);
                SafeArrayGetElement(array, idx.data(), &v);
                cell = VariantText(&v);
                VariantClear(&v);
            }
            line += (j == lo2 ? "" : " | ") + cell;
        }
        std::printf("  [%ld] %s\n", static_cast<long>(i), line.c_str());
    }
}

long ParseNumber(const char *text) {
    return std::strtol(text, nullptr, 0);
}

int Usage() {
    std::fprintf(stderr, "usage: kestrun [-x] NAME [ARG...]\nexports:\n");
    for (const auto &e : Exports()) {
        std::string kinds;
        for (auto k : e.kinds) {
            kinds += " " + std::string(k);
        }
        std::fprintf(stderr, "  %s ->%s :%s\n", e.name, e.result, kinds.c_str());
    }
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    int first = 1;
    bool hex = false;
    if (argc > 1 && std::strcmp(argv[1], "-x") == 0) {
        hex = true;
        ++first;
    }
    if (argc <= first) {
        return Usage();
    }
    const std::string name = argv[first];
    const ExportInfo *info = nullptr;
    for (const auto &e : Exports()) {
        if (name == e.name) {
            info = &e;
        }
    }
    if (info == nullptr) {
        std::fprintf(stderr, "kestrun: no export named %s\n", name.c_str());
        return Usage();
    }
    void *library = dlopen(KESTRUN_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "kestrun: %s\n", dlerror());
        return 1;
    }
    void *symbol = dlsym(library, info->name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "kestrun: %s is not available in this build\n", info->name);
        dlclose(library);
        return 1;
    }

    // Storage for every parameter; each slot is passed as one pointer-sized argument.
    const size_t n = info->kinds.size();
    std::vector<std::string> inStrings(n);
    std::vector<BSTR> bstrs(n, nullptr);
    std::vector<intptr_t> numbers(n, 0);
    std::vector<SAFEARRAY *> arrays(n, nullptr);
    std::vector<VARIANT> variants(n);
    std::vector<intptr_t> args(n, 0);
    for (size_t i = 0; i < n; ++i) {
        VariantInit(&variants[i]);
        const std::string_view kind = info->kinds[i];
        const bool given = first + 1 + static_cast<int>(i) < argc;
        const char *text = given ? argv[first + 1 + i] : nullptr;
        const bool isNull = text == nullptr || std::strcmp(text, "@null") == 0;
        if (kind == "in-string") {
            if (!isNull) {
                inStrings[i] = ToGbk(text);
                args[i] = reinterpret_cast<intptr_t>(inStrings[i].c_str());
            }
        } else if (kind == "ref-string" || kind == "out-string") {
            bstrs[i] = isNull ? nullptr : MakeAnsiBstr(text);
            args[i] = reinterpret_cast<intptr_t>(&bstrs[i]);
        } else if (kind == "ref-long") {
            numbers[i] = isNull ? 0 : ParseNumber(text);
            args[i] = reinterpret_cast<intptr_t>(&numbers[i]);
        } else if (kind == "long" || kind == "integer" || kind == "flag") {
            args[i] = isNull ? 0 : ParseNumber(text);
        } else if (kind == "string-array" || kind == "variant-array") {
            arrays[i] =
                isNull ? nullptr : MakeArray(text, kind == "string-array" ? VT_BSTR : VT_VARIANT);
            args[i] = reinterpret_cast<intptr_t>(&arrays[i]);
        } else if (kind == "ref-variant") {
            args[i] = reinterpret_cast<intptr_t>(&variants[i]);
        }
    }
    args.resize(8, 0);

    // Every parameter kind is an integer or a pointer, so on x86-64 each travels in one integer
    // register or stack slot whatever its declared width: the export is called through one
    // pointer-sized signature per result type, as a by-name caller does.
    using Words = intptr_t (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                               intptr_t);
    using Real =
        double (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
    const std::string_view result = info->result;
    if (result == "Double") {
        auto fn = reinterpret_cast<Real>(symbol);
        const double value =
            fn(args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
        std::printf("%.15g\n", value);
    } else {
        auto fn = reinterpret_cast<Words>(symbol);
        const intptr_t value =
            fn(args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
        if (result == "String") {
            std::unique_ptr<OLECHAR, BstrFree> owned(reinterpret_cast<BSTR>(value));
            std::printf("%s\n", BstrAnsiText(owned.get(), hex).c_str());
        } else if (result == "Long") {
            std::printf("%d\n", static_cast<int32_t>(value));
        } else if (result == "Integer") {
            std::printf("%d\n", static_cast<int16_t>(value));
        }
    }

    for (size_t i = 0; i < n; ++i) {
        const std::string_view kind = info->kinds[i];
        const int position = static_cast<int>(i) + 1;
        if (kind == "out-string") {
            std::printf("arg %d: %s\n", position, BstrAnsiText(bstrs[i], hex).c_str());
        } else if (kind == "ref-long") {
            std::printf("arg %d: %lld\n", position, static_cast<long long>(numbers[i]));
        } else if (kind == "string-array" || kind == "variant-array") {
            PrintArray(position, arrays[i], hex);
        } else if (kind == "ref-variant") {
            std::printf("arg %d: %s\n", position, VariantText(&variants[i]).c_str());
        }
        SysFreeString(bstrs[i]);
        SafeArrayDestroy(arrays[i]);
        VariantClear(&variants[i]);
    }
    dlclose(library);
    return 0;
}
