// Byte() arrays: the binary data streams read and HTTP responses hand to scripts.
#pragma once

#include "vbscript/value.h"

#include <optional>
#include <string>
#include <string_view>

namespace kestrun::scripting {

// A new one-dimensional Byte() array holding `bytes`.
vbscript::Value MakeByteArray(std::string_view bytes);

// The bytes of a one-dimensional array whose elements are all Bytes (a Byte() array, or one a
// host passed in); nullopt for anything else.
std::optional<std::string> BytesOf(const vbscript::Value &v);

} // namespace kestrun::scripting
