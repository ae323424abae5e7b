// A script object handed to the caller inside a VARIANT: a reference-counted COM object that
// keeps the object and the engine it lives in alive until the caller releases it.
#pragma once

#include "vbscript/interp.h"

#include "oleauto.h"

#include <memory>

namespace kestrun::vbscript {

// A new proxy for `value` (an object) with one reference, owned by the caller. Throws
// std::bad_alloc.
IDispatch *NewObjectProxy(const std::shared_ptr<Interp> &engine, const Value &value);

} // namespace kestrun::vbscript
