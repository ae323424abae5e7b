// The platform's message texts for HRESULTs. On Windows these come from FormatMessage.
#pragma once

#include "oleauto.h"

#include <string>

namespace kestrun::platform {

// The system's text for `hr` with no trailing line break, or empty when the system has none.
std::u16string SystemMessageFor(HRESULT hr);

} // namespace kestrun::platform
