// Base64 with padding and no line breaks; lenient decoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrun::codecs {

std::string Base64Encode(std::string_view bytes);

// Decodes up to the first zero byte of `text`, skipping every byte outside the alphabet and
// treating "=" as filler. Returns nullopt for the one malformed pattern: a single "=" (not
// followed by another "=") after a group's first character. Text after padding continues the
// same bit stream.
std::optional<std::string> Base64Decode(std::string_view text);

} // namespace kestrun::codecs
