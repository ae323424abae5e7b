// Message texts for HRESULTs from the system (FormatMessageW).
#include "hresult_text.h"

#include <windows.h>

namespace kestrun::platform {

std::u16string SystemMessageFor(HRESULT hr) {
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    std::u16string text(reinterpret_cast<const char16_t *>(buffer), length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace kestrun::platform
