// The platform's code-page converter: code page 936 (GBK) to and from UTF-16.
// On Windows this is MultiByteToWideChar / WideCharToMultiByte with CP_ACP; here glibc's iconv.
#pragma once

#include <string>
#include <string_view>

namespace kestrun::platform {

// GBK bytes to UTF-16. A byte sequence that is not valid GBK becomes one "?" per offending byte.
std::u16string GbkToWide(std::string_view gbk);

// UTF-16 to GBK. A character that GBK lacks (an unpaired surrogate included) becomes one "?".
std::string WideToGbk(std::u16string_view wide);

} // namespace kestrun::platform
