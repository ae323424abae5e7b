#include "kestrun/automation/pdf/dispatch.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <type_traits>

namespace kestrun::platform::pdf {

bool operator==(const Guid &a, const Guid &b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

ComPtr ComPtr::Share(IUnknown *object) {
    if (object != nullptr) {
        object->lpVtbl->AddRef(object);
    }
    return Adopt(object);
}

void ComPtr::Reset() {
    if (IUnknown *object = std::exchange(object_, nullptr)) {
        object->lpVtbl->Release(object);
    }
}

namespace {

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
    Guid wanted;
    std::memcpy(&wanted, riid, sizeof wanted);
    if (!(wanted == kIidUnknown) && !(wanted == kIidDispatch)) {
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
    if (names == nullptr || ids == nullptr || nameCount == 0 || names[0] == nullptr) {
        return E_INVALIDARG;
    }
    const auto *name = reinterpret_cast<const char16_t *>(names[0]);
    const auto &members = Self(self)->members;
    HRESULT hr = DISP_E_UNKNOWNNAME;
    ids[0] = -1;
    for (size_t i = 0; i < members.size(); ++i) {
        if (members[i].name == name) {
            ids[0] = static_cast<DISPID>(i + 1);
            hr = S_OK;
            break;
        }
    }
    // Named arguments are not supported: their identifiers are unknown.
    for (UINT i = 1; i < nameCount; ++i) {
        ids[i] = -1;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT Invoke(IDispatch *self, DISPID id, const void *, LCID, WORD flags, DispatchParams *params,
               VARIANT *result, void *, UINT *) {
    const auto &members = Self(self)->members;
    if (id < 1 || static_cast<size_t>(id) > members.size()) {
        return DISP_E_MEMBERNOTFOUND;
    }
    const DispatchMember &member = members[static_cast<size_t>(id) - 1];
    if ((flags & member.kind) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (params != nullptr && (params->argCount != 0 || params->namedArgCount != 0)) {
        return DISP_E_BADPARAMCOUNT;
    }
    VARIANT value;
    VariantInit(&value);
    HRESULT hr;
    try {
        hr = member.body(&value);
    } catch (...) {
        hr = DISP_E_EXCEPTION;
    }
    if (FAILED(hr) || result == nullptr) {
        VariantClear(&value);
        return hr;
    }
    VariantClear(result);
    *result = value;
    return hr;
}

constexpr DispatchVtbl kVtbl{{QueryInterface, AddRef, Release}, GetIDsOfNames, Invoke};

} // namespace

ComPtr MakeDispatchObject(std::vector<DispatchMember> members) {
    auto object = std::make_unique<DispatchObject>();
    object->com.lpVtbl = &kVtbl.unknown;
    object->references.store(1, std::memory_order_relaxed);
    object->members = std::move(members);
    return ComPtr::Adopt(&object.release()->com);
}

} // namespace kestrun::platform::pdf
