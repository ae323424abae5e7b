// Failures raised by platform objects and the routine that turns a caught exception into text.
#pragma once

#include "oleauto.h"

#include <string>

namespace kestrun::interop {

// A COM failure: an HRESULT and, optionally, the object's own description of it. Like the
// platform's COM error class it does not derive from std::exception.
class ComError {
public:
    explicit ComError(HRESULT hr, std::u16string description = {})
        : hr_(hr), description_(std::move(description)) {}

    HRESULT Error() const { return hr_; }
    // The system's message text for the HRESULT (see HResultMessage).
    std::u16string ErrorMessage() const;
    // The description the failing object gave, empty when it gave none.
    const std::u16string &Description() const { return description_; }

private:
    HRESULT hr_;
    std::u16string description_;
};

// The system's text for an HRESULT without a trailing line break, or, where there is none,
// "IDispatch error #n" (0x80040200 < hr <= 0x8004FFFF) or "Unknown error 0xHHHH".
std::u16string HResultMessage(HRESULT hr);

// Must be called inside a catch handler: replaces `text` with a description of the exception
// being handled ("ERROR:...", "ERROR:(INT) n", "ERROR:(LONG) n", "ERROR:(COM_ERROR)hhhhhhhh,msg"
// or the unknown-error message). Outside a handler it gives the unknown-error message.
void ExceptionMessage(std::string &text) noexcept;

// "ERROR：未知错误！" in GBK.
inline constexpr char kUnknownErrorMessage[] =
    "ERROR\xA3\xBA\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xA3\xA1";

} // namespace kestrun::interop
