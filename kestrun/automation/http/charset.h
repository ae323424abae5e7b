// Turning response bytes into UTF-16 text: the body by its declared charset, header lines by
// what they hold.
#pragma once

#include "kestrun/interop/result_buffer.h"

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

// The body as code page 936 text: the bytes of interop::WideToAnsi(DecodeBody(bytes,
// declaredCharset)) (so ending at the first U+0000), made over the body's own bytes without the
// UTF-16 text in between for UTF-8 and UTF-16 bodies; other charsets go through DecodeBody.
std::string DecodeBodyToAnsi(std::string bytes, std::string_view declaredCharset);
void DecodeBodyToAnsi(interop::GrowingResult &body, std::string_view declaredCharset);

// The in-place decoders behind DecodeBodyToAnsi: `size` bytes at `data` in UTF-8 / UTF-16
// (little or big endian) turned into code page 936 over the same storage; the result's length
// is returned. An invalid sequence gives the code of U+FFFD (a "?") for its first byte (its first
// unit in UTF-16) and decoding goes on after that; a character the code page lacks gives "?"; the
// text ends at U+0000. The first `skip` bytes (a byte-order mark) are left out.
size_t Utf8ToGbkInPlace(char *data, size_t size, size_t skip = 0);
size_t Utf16ToGbkInPlace(char *data, size_t size, bool bigEndian, size_t skip = 0);

// Decodes header bytes: as UTF-8 when they are valid UTF-8, else as code page 936 (what the
// servers this library talks to send in headers when not UTF-8).
std::u16string DecodeHeaderText(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

// The platform converter: `bytes` in the encoding `converterName` to UTF-16, invalid sequences
// as U+FFFD. nullopt when the platform has no converter of that name.
std::optional<std::u16string> ConvertToWide(std::string_view bytes,
                                            const std::string &converterName);

} // namespace kestrun::http
