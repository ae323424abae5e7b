// Turning response bytes into UTF-16 text: the body by its declared charset, header lines by
// what they hold.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrun::http {

// The charset parameter of a Content-Type value, lower-cased and unquoted; empty when absent.
std::string CharsetOf(std::string_view contentType);

// The converter name for a charset label (several labels name one encoding, as browsers read
// them); empty for an empty label or one that is not a plausible name.
std::string ConverterNameFor(std::string_view label);

// Decodes a body. A byte-order mark (UTF-8, UTF-16LE, UTF-16BE) decides the encoding and is
// dropped; otherwise the declared charset is used, and UTF-8 when none is declared or it is
// unknown. A byte sequence invalid in the encoding becomes U+FFFD; decoding never stops early.
std::u16string DecodeBody(std::string_view bytes, std::string_view declaredCharset);

// Decodes header bytes: as UTF-8 when they are valid UTF-8, else as code page 936 (what the
// servers this library talks to send in headers when not UTF-8).
std::u16string DecodeHeaderText(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

// The platform converter: `bytes` in the encoding `converterName` to UTF-16, invalid sequences
// as U+FFFD. nullopt when the platform has no converter of that name.
std::optional<std::u16string> ConvertToWide(std::string_view bytes,
                                            const std::string &converterName);

} // namespace kestrun::http
