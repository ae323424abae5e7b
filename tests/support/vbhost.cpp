#include "vbhost.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif
#include <stdexcept>
#include <vector>

namespace vbhost {

String::String(std::string_view bytes)
    : value_(SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()))) {}

String::~String() {
    SysFreeString(value_);
}

std::string String::bytes() const {
    if (value_ == nullptr) {
        return {};
    }
    return std::string(reinterpret_cast<const char *>(value_), SysStringByteLen(value_));
}

std::optional<std::string> Take(BSTR result) {
    if (result == nullptr) {
        return std::nullopt;
    }
    std::string bytes(reinterpret_cast<const char *>(result), SysStringByteLen(result));
    SysFreeString(result);
    return bytes;
}

std::string TakeText(BSTR result) {
    return Take(result).value_or("");
}

Array::~Array() {
    SafeArrayDestroy(value_);
}

void Array::CreateStrings(std::initializer_list<SAFEARRAYBOUND> bounds) {
    SafeArrayDestroy(value_);
    std::vector<SAFEARRAYBOUND> b(bounds);
    value_ = SafeArrayCreate(VT_BSTR, static_cast<UINT>(b.size()), b.data());
}

void Array::CreateVariants(std::initializer_list<SAFEARRAYBOUND> bounds) {
    SafeArrayDestroy(value_);
    std::vector<SAFEARRAYBOUND> b(bounds);
    value_ = SafeArrayCreate(VT_VARIANT, static_cast<UINT>(b.size()), b.data());
}

unsigned long Array::count(unsigned dimension) const {
    if (value_ == nullptr || dimension >= value_->cDims) {
        return 0;
    }
    return value_->rgsabound[value_->cDims - 1 - dimension].cElements;
}

std::optional<std::string> Array::at(std::initializer_list<long> indices) const {
    if (value_ == nullptr) {
        return std::nullopt;
    }
    std::vector<LONG> idx(indices.begin(), indices.end());
    BSTR element = nullptr;
    if (FAILED(SafeArrayGetElement(value_, idx.data(), &element))) {
        return std::nullopt;
    }
    return Take(element);
}

void Array::set(std::initializer_list<long> indices, std::string_view bytes) {
    std::vector<LONG> idx(indices.begin(), indices.end());
    BSTR element = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
    const HRESULT hr = SafeArrayPutElement(value_, idx.data(), element);
    SysFreeString(element);
    if (FAILED(hr)) {
        throw std::runtime_error("SafeArrayPutElement failed");
    }
}

namespace {

#ifdef _WIN32
// Windows: through UTF-16 with the system's converters for the two fixed code pages.
std::string Convert(UINT to, UINT from, std::string_view in) {
    if (in.empty()) {
        return {};
    }
    std::wstring wide(in.size() + 1, L'\0');
    const int units =
        MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                            wide.data(), static_cast<int>(wide.size()));
    std::string out(in.size() * 4 + 4, '\0');
    const int bytes = units <= 0
                          ? 0
                          : WideCharToMultiByte(to, 0, wide.data(), units, out.data(),
                                                static_cast<int>(out.size()), nullptr, nullptr);
    if (bytes <= 0) {
        throw std::runtime_error("test text not convertible");
    }
    out.resize(static_cast<size_t>(bytes));
    return out;
}

} // namespace

std::string Gbk(std::string_view utf8) {
    return Convert(936, CP_UTF8, utf8);
}
std::string Utf8(std::string_view gbk) {
    return Convert(CP_UTF8, 936, gbk);
}
#else
std::string Convert(const char *to, const char *from, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("iconv_open failed");
    }
    std::string out(in.size() * 4 + 4, '\0');
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    char *dst = out.data();
    size_t dstLeft = out.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) {
        throw std::runtime_error("test text not convertible");
    }
    out.resize(out.size() - dstLeft);
    return out;
}

} // namespace

std::string Gbk(std::string_view utf8) {
    return Convert("CP936", "UTF-8", utf8);
}
std::string Utf8(std::string_view gbk) {
    return Convert("UTF-8", "CP936", gbk);
}
#endif

} // namespace vbhost
