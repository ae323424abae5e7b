// The standard objects scripts create on Linux, one factory per object kind. Each returns a new
// object with the engine's reference counting; failures throw ScriptError.
#pragma once

#include "vbscript/interp.h"

namespace kestrun::scripting {

using vbscript::Interp;
using vbscript::Value;

// Scripting.FileSystemObject.
Value NewFileSystemObject(Interp &in);

} // namespace kestrun::scripting
