// Objects crossing between the engine and COM. A script object handed to the caller inside a
// VARIANT (or to a component as an argument) is a reference-counted COM object that keeps the
// object and the engine it lives in alive until released; an interface pointer reaching the
// script becomes an object the script can call.
#pragma once

#include "vbscript/interp.h"

#include "oleauto.h"

#include <memory>

namespace kestrun::vbscript {

// A new proxy for `value` (an object) with one reference, owned by the caller. On Windows its
// members are reachable through IDispatch from the thread that made it, and an object of
// another component held by the script is handed out as that component's own interface.
// Throws std::bad_alloc.
IDispatch *NewObjectProxy(const std::shared_ptr<Interp> &engine, const Value &value);

// What the script sees of an interface pointer (which it takes its own reference to): on
// Windows an object called through IDispatch, or the object itself when `object` is a proxy
// of one of `engine`'s objects; Nothing for a null pointer, an object without IDispatch, and
// on platforms without COM.
Value ObjectFromInterface(IUnknown *object, Interp *engine);

// Hands the proxies in `v` (and in arrays it holds) to the calling thread, once the thread that
// made them has ended: the results of the parallel runner, made on its worker threads, are
// the caller's to use. Nothing on platforms without COM.
void AdoptObjectProxies(VARIANT &v);

// COM on the calling thread for the length of one export call (a single-threaded apartment);
// an initialisation this call did not make is left alone. Nothing on platforms without COM.
class CallApartment {
public:
    CallApartment();
    ~CallApartment();
    CallApartment(const CallApartment &) = delete;
    CallApartment &operator=(const CallApartment &) = delete;

private:
    [[maybe_unused]] bool initialised_ = false;
};

} // namespace kestrun::vbscript
