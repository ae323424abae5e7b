// What an export answers in a build that leaves its family out (the Windows build now carries
// every family). The build generates one such export for every name of the export list that no
// family defines.
#pragma once

#include "oleauto.h"

#include <cstdint>
#include <initializer_list>

#if defined(_WIN32) && !defined(_WIN64)
#define KESTRUN_UNAVAILABLE_CALL __stdcall
#else
#define KESTRUN_UNAVAILABLE_CALL
#endif

namespace kestrun::windows {

// A String result saying that `name` is not part of this build; the out-strings become empty.
BSTR UnavailableString(const char *name, std::initializer_list<BSTR *> outStrings) noexcept;

// 0 for a numeric result; the first out-string (the message of the export) says that `name` is
// not part of this build, the others become empty.
int32_t UnavailableNumber(const char *name, std::initializer_list<BSTR *> outStrings) noexcept;

} // namespace kestrun::windows
