// The proxy over the stand-in OLE Automation library, whose interfaces are plain C tables of
// function pointers.
#include "kestrun/automation/vbscript/object_proxy.h"

#include <atomic>
#include <type_traits>

namespace kestrun::vbscript {

namespace {

struct ObjectProxy {
    IUnknown unknown; // first member: the interface pointer is the proxy's address
    std::atomic<ULONG> refs;
    std::shared_ptr<Interp> engine;
    Value value; // released before the engine

    static HRESULT QueryInterface(IUnknown *self, const void *, void **object) {
        if (!object)
            return E_POINTER;
        AddRef(self);
        *object = self;
        return S_OK;
    }
    static ULONG AddRef(IUnknown *self) { return ++Of(self)->refs; }
    static ULONG Release(IUnknown *self) {
        ObjectProxy *p = Of(self);
        ULONG left = --p->refs;
        if (left == 0)
            std::unique_ptr<ObjectProxy> doomed(p);
        return left;
    }
    static ObjectProxy *Of(IUnknown *self) { return reinterpret_cast<ObjectProxy *>(self); }
};
static_assert(std::is_standard_layout_v<ObjectProxy>);

const IUnknownVtbl kProxyVtbl = {ObjectProxy::QueryInterface, ObjectProxy::AddRef,
                                 ObjectProxy::Release};

} // namespace

IDispatch *NewObjectProxy(const std::shared_ptr<Interp> &engine, const Value &value) {
    auto proxy = std::make_unique<ObjectProxy>();
    proxy->unknown.lpVtbl = &kProxyVtbl;
    proxy->refs = 1;
    proxy->engine = engine;
    proxy->value = value;
    return &proxy.release()->unknown;
}

} // namespace kestrun::vbscript

namespace kestrun::vbscript {

// No other component's objects can be driven here: they arrive as Nothing.
Value ObjectFromInterface(IUnknown *, Interp *) {
    return Value::nothing();
}

void AdoptObjectProxies(VARIANT &) {}

CallApartment::CallApartment() = default;
CallApartment::~CallApartment() = default;

} // namespace kestrun::vbscript
