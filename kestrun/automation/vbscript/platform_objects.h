// The objects a script creates with CreateObject and GetObject beyond the engine's own: COM
// automation objects on Windows, the standard objects (files, streams, the shell, HTTP requests)
// implemented natively on Linux. Unknown names raise error 429 on both.
#pragma once

#include "vbscript/interp.h"

#include <memory>

namespace kestrun::vbscript {

std::unique_ptr<ObjectHost> NewPlatformObjects();

} // namespace kestrun::vbscript
