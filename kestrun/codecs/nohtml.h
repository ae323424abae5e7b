// Markup stripping: style and script blocks and tags become spaces; optionally a fixed list of
// character entities is decoded and runs of white space and blank lines are collapsed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::codecs {

// Option bits (honoured only when the whole value lies from 1 to 15).
inline constexpr int16_t kNoHtmlStyles = 1;
inline constexpr int16_t kNoHtmlScripts = 2;
inline constexpr int16_t kNoHtmlEntities = 4;
inline constexpr int16_t kNoHtmlWhiteSpace = 8;

// Runs the stripping pipeline over `markup` (read up to its first zero byte). A pattern stage
// that fails (the engine gives up on a huge or pathological text, or memory runs out) leaves
// the text as it was and the next stage runs, so every input gives a result.
std::string NoHtml(std::string_view markup, int16_t options);

// The last two stages alone: entity decoding (kNoHtmlEntities) and white-space collapsing
// (kNoHtmlWhiteSpace), as the option value selects them.
std::string DecodeAndCollapse(std::string text, int16_t options);

} // namespace kestrun::codecs
