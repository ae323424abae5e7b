// Reading one header out of a response's header text, and the standard reason phrases.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun::scripting {

// The value of header `name` (case-insensitive) in `headers` (lines "Name: value", each ended by
// CR LF or LF), blanks around it removed; the values of several lines of that name joined by
// ", ". nullopt when no line names it.
std::optional<std::u16string> FindResponseHeader(std::u16string_view headers,
                                                 std::u16string_view name);

// The standard reason phrase of an HTTP status code ("OK" for 200); empty for an unknown code.
std::u16string_view StandardReason(int32_t code);

} // namespace kestrun::scripting
