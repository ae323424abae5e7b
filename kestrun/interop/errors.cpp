#include "errors.h"

#include "codepage.h"
#include "hresult_text.h"

#include <cstdio>
#include <exception>

namespace kestrun::interop {

std::u16string HResultMessage(HRESULT hr) {
    std::u16string text = platform::SystemMessageFor(hr);
    if (!text.empty()) {
        if (text.back() == u'\n') {
            text.pop_back();
            if (!text.empty() && text.back() == u'\r') {
                text.pop_back();
            }
        }
        return text;
    }
    const auto code = static_cast<uint32_t>(hr);
    char buf[48];
    if (code >= 0x80040200u && code <= 0x8004FFFFu && code != 0x80040200u) {
        std::snprintf(buf, sizeof buf, "IDispatch error #%u", code - 0x80040200u);
    } else {
        std::snprintf(buf, sizeof buf, "Unknown error 0x%X", code);
    }
    return std::u16string(buf, buf + std::char_traits<char>::length(buf));
}

std::u16string ComError::ErrorMessage() const {
    return HResultMessage(hr_);
}

void ExceptionMessage(std::string &text) noexcept {
    try {
        if (!std::current_exception()) {
            text = kUnknownErrorMessage;
            return;
        }
        try {
            throw;
        } catch (const std::exception &e) {
            text = "ERROR:";
            text += e.what();
        } catch (int value) {
            text = "ERROR:(INT) " + std::to_string(value);
        } catch (long value) {
            text = "ERROR:(LONG) " + std::to_string(value);
        } catch (const char *message) {
            text = "ERROR:";
            text += message == nullptr ? "" : message;
        } catch (const ComError &e) {
            char code[16];
            std::snprintf(code, sizeof code, "%08x", static_cast<uint32_t>(e.Error()));
            text = "ERROR:(COM_ERROR)";
            text += code;
            text += ",";
            text += WideToAnsi(e.ErrorMessage());
        } catch (...) {
            text = kUnknownErrorMessage;
        }
    } catch (...) {
        // Building the text itself failed (out of memory): fall back to the fixed message.
        try {
            text = kUnknownErrorMessage;
        } catch (...) {
        }
    }
}

} // namespace kestrun::interop
