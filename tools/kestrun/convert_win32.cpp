// Text conversion through the system's code page tables (GBK is code page 936 whatever the
// system's ANSI code page).
#include "convert.h"

#include <windows.h>

#include <cstring>

namespace kestrun_cli {

namespace {

constexpr UINT kUtf16 = 1200;

UINT CodePage(const char *name) {
    if (std::strcmp(name, "UTF-8") == 0)
        return CP_UTF8;
    if (std::strcmp(name, "UTF-16LE") == 0)
        return kUtf16;
    return 936;
}

std::wstring ToWide(UINT codePage, std::string_view in) {
    if (codePage == kUtf16) {
        std::wstring out(in.size() / 2, L'\0');
        std::memcpy(out.data(), in.data(), out.size() * 2);
        return out;
    }
    if (in.empty())
        return {};
    const int n =
        MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), out.data(), n);
    return out;
}

std::string FromWide(UINT codePage, const std::wstring &in) {
    if (codePage == kUtf16)
        return std::string(reinterpret_cast<const char *>(in.data()), in.size() * 2);
    if (in.empty())
        return {};
    const int n = WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

} // namespace

std::string Convert(const char *to, const char *from, std::string_view in) {
    return FromWide(CodePage(to), ToWide(CodePage(from), in));
}

} // namespace kestrun_cli
