// The two directions of objects crossing COM on Windows, as seen by each other: the proxy
// hands out a COM object's own interface, and an interface turns back into the script object
// it is a proxy of.
#pragma once

#include "vbscript/interp.h"

#include "oleauto.h"

namespace kestrun::vbscript {

// The IDispatch of a COM object held by the script (no new reference), or null when `value`
// holds none.
IDispatch *ComInterfaceOf(const Value &value);

// When `object` is a proxy of one of `engine`'s objects: stores that object in `out`.
bool ProxiedObject(IUnknown *object, const Interp *engine, Value &out);

// A script error for a failed call of a COM object: the HRESULT as the language's number,
// EXCEPINFO's source and description when the object gave them (`excep` may be null). `name`
// names the member in the description of errors the language names members in.
ScriptError ComCallError(HRESULT hr, EXCEPINFO *excep, std::u16string_view name);

} // namespace kestrun::vbscript
