// Windows builds use the system's OLE Automation (oleaut32). Its header needs the base Windows
// types first; this one brings them in and then includes the system <oleauto.h>.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include_next <oleauto.h>
