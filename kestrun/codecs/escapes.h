// "\uXXXX" escapes of UTF-16 code units, and the five HTML entities.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::codecs {

// Every UTF-16 unit of the GBK text `ansi` as "\u" and four lowercase hexadecimal digits.
std::string UnicodeEscape(std::string_view ansi);
// The escapes of the UTF-16 units `wide` (6 characters each) written to `out`.
void UnicodeEscapeTo(std::u16string_view wide, char *out);

// Collects the code unit of every "\u" escape in `text` (up to its first zero byte; escapes may
// overlap) and drops everything else. The units, up to the first unit 0, are converted to GBK
// with the composite check. A text shorter than six bytes gives "".
std::string UnicodeUnescape(std::string_view text);

// The value of the up to four characters after "\u", read like scanf's "%4X": leading white
// space, an optional sign, an optional 0x prefix, then hexadecimal digits; 0 when no number can
// be read. A minus sign negates modulo 2^32.
uint32_t ReadEscapeValue(std::string_view digits);

// & " ' > < to their entities, ampersand first.
std::string HtmlEscape(std::string_view text);
// The exact length of HtmlEscape(text), and the escaped text written into room for it.
size_t HtmlEscapedSize(std::string_view text);
void HtmlEscapeTo(std::string_view text, char *out);

// &gt; &lt; &quot; &#39; &amp; back to their characters, ampersand last: "&amp;lt;" gives
// "&lt;", not "<".
std::string HtmlUnescape(std::string_view text);
// HtmlUnescape into `out`, which has room for text.size() bytes; returns the count written.
size_t HtmlUnescapeTo(std::string_view text, char *out);

} // namespace kestrun::codecs
