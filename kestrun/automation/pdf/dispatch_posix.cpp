// Late-bound objects in the layout of the OLE Automation stand-in: a pointer to a function table
// whose first three slots are IUnknown's, then the two IDispatch methods the library calls.
#include "kestrun/automation/pdf/dispatch.h"

#include <atomic>
#include <memory>
#include <type_traits>

namespace kestrun::platform::pdf {
namespace {

constexpr LCID kLocaleSystemDefault = 0x0800;
constexpr LCID kLocaleUserDefault = 0x0400;

// Arguments of an invocation (positional only).
struct DispatchParams {
    VARIANT *args;
    DISPID *namedArgs;
    UINT argCount;
    UINT namedArgCount;
};

// The function table. Exception details are never requested (always null).
struct DispatchVtbl {
    IUnknownVtbl unknown;
    HRESULT(*GetIDsOfNames)
    (IDispatch *self, const void *riid, const OLECHAR *const *names, UINT nameCount, LCID lcid,
     DISPID *ids);
    HRESULT(*Invoke)
    (IDispatch *self, DISPID id, const void *riid, LCID lcid, WORD flags, DispatchParams *params,
     VARIANT *result, void *exceptionInfo, UINT *argError);
};

// The object itself. `com` must stay the first member: callers hold a pointer to it, and the
// table functions get back to the whole object from that pointer.
struct DispatchObject {
    IUnknown com;
    std::atomic<ULONG> references;
    std::vector<DispatchMember> members;
};
static_assert(std::is_standard_layout_v<DispatchObject>);

DispatchObject *Self(IUnknown *self) {
    return reinterpret_cast<DispatchObject *>(self);
}

HRESULT QueryInterface(IUnknown *self, const void *riid, void **object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (riid == nullptr) {
        return E_POINTER;
    }
    if (!dispatch::IsOfferedInterface(riid)) {
        return E_NOINTERFACE;
    }
    self->lpVtbl->AddRef(self);
    *object = self;
    return S_OK;
}

ULONG AddRef(IUnknown *self) {
    return Self(self)->references.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG Release(IUnknown *self) {
    const ULONG left = Self(self)->references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        // The last reference owns the object (made with new in MakeDispatchObject).
        std::unique_ptr<DispatchObject> owner(Self(self));
    }
    return left;
}

HRESULT GetIDsOfNames(IDispatch *self, const void *, const OLECHAR *const *names, UINT nameCount,
                      LCID, DISPID *ids) {
    return dispatch::FindIds(Self(self)->members, names, nameCount, ids);
}

HRESULT Invoke(IDispatch *self, DISPID id, const void *, LCID, WORD flags, DispatchParams *params,
               VARIANT *result, void *, UINT *) {
    return dispatch::Call(Self(self)->members, id, flags, params ? params->argCount : 0,
                          params ? params->namedArgCount : 0, result);
}

constexpr DispatchVtbl kVtbl{{QueryInterface, AddRef, Release}, GetIDsOfNames, Invoke};

// The function table of an object that answered QueryInterface for IDispatch.
const DispatchVtbl *Table(IDispatch *object) {
    return reinterpret_cast<const DispatchVtbl *>(object->lpVtbl);
}

// The null interface identifier that GetIDsOfNames and Invoke take.
constexpr unsigned char kIidNull[16] = {};

} // namespace

ComPtr ComPtr::Share(IDispatch *object) {
    if (object != nullptr) {
        object->lpVtbl->AddRef(object);
    }
    return Adopt(object);
}

void ComPtr::Reset() {
    if (IDispatch *object = std::exchange(object_, nullptr)) {
        object->lpVtbl->Release(object);
    }
}

ComPtr MakeDispatchObject(std::vector<DispatchMember> members) {
    auto object = std::make_unique<DispatchObject>();
    object->com.lpVtbl = &kVtbl.unknown;
    object->references.store(1, std::memory_order_relaxed);
    object->members = std::move(members);
    return ComPtr::Adopt(&object.release()->com);
}

ComPtr QueryDispatch(IDispatch *object) {
    void *found = nullptr;
    if (object == nullptr ||
        FAILED(object->lpVtbl->QueryInterface(object, dispatch::DispatchIid(), &found))) {
        return {};
    }
    return ComPtr::Adopt(static_cast<IDispatch *>(found));
}

HRESULT GetMemberId(IDispatch *object, const std::u16string &name, DISPID *id) {
    const OLECHAR *names[] = {reinterpret_cast<const OLECHAR *>(name.c_str())};
    return Table(object)->GetIDsOfNames(object, kIidNull, names, 1, kLocaleSystemDefault, id);
}

HRESULT InvokeMember(IDispatch *object, DISPID id, WORD flags, VARIANT *result) {
    DispatchParams noArguments{nullptr, nullptr, 0, 0};
    return Table(object)->Invoke(object, id, kIidNull, kLocaleUserDefault, flags, &noArguments,
                                 result, nullptr, nullptr);
}

} // namespace kestrun::platform::pdf
