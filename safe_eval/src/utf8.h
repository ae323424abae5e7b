// Well-formedness check for UTF-8 text.
#pragma once

#include <string_view>

namespace safe_eval {

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF and no truncated sequence. NUL is an ordinary character.
bool is_well_formed_utf8(std::string_view bytes);

} // namespace safe_eval
