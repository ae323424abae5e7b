// Conversion between the engine's values and platform VARIANTs, for the exports.
#pragma once

#include "vbscript/interp.h"

#include "oleauto.h"

#include <memory>

namespace kestrun::vbscript {

// Reads a VARIANT (by-reference variants followed, arrays copied). Strings are UTF-16.
// Interface pointers become what ObjectFromInterface makes of them (objects whose members the
// script calls on Windows, Nothing elsewhere; a proxy of `engine`'s own object turns back into
// that object); kinds the language has no subtype for become Empty.
// By-reference links and nested arrays deeper than a fixed limit (a VARIANT that refers to
// itself, say) raise a type mismatch (ScriptError).
Value FromVariant(const VARIANT &v, Interp *engine = nullptr);

// The VARIANT at the end of a chain of by-reference VARIANTs (`v` itself when it is none), or
// null when a link is null or the chain is longer than the limit FromVariant keeps to.
const VARIANT *FollowReferences(const VARIANT &v);

// Writes `value` into `target` (which must be empty or cleared). Strings become UTF-16 BSTRs,
// arrays SAFEARRAYs of VARIANTs, objects IDispatch pointers that keep `engine` alive until
// the caller releases them.
void ToVariant(const std::shared_ptr<Interp> &engine, const Value &value, VARIANT &target);

} // namespace kestrun::vbscript
