// Late-bound objects on Windows: each is a COM object implementing the system's IDispatch, so
// oleaut32's VARIANTs and SAFEARRAYs add and release references through its own table.
#include "kestrun/automation/pdf/dispatch.h"

#include <atomic>
#include <memory>

namespace kestrun::platform::pdf {
namespace {

class DispatchObject final : public IDispatch {
public:
    explicit DispatchObject(std::vector<DispatchMember> members) : members_(std::move(members)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (!dispatch::IsOfferedInterface(&riid)) {
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<IDispatch *>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return references_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            // The last reference owns the object (made with new in MakeDispatchObject).
            std::unique_ptr<DispatchObject> owner(this);
        }
        return left;
    }
    // No type information: callers find members by name.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **info) override {
        if (info != nullptr) {
            *info = nullptr;
        }
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT nameCount, LCID,
                                            DISPID *ids) override {
        return dispatch::FindIds(members_, names, nameCount, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *, UINT *) override {
        return dispatch::Call(members_, id, flags, params ? params->cArgs : 0,
                              params ? params->cNamedArgs : 0, result);
    }

private:
    std::atomic<ULONG> references_{1};
    std::vector<DispatchMember> members_;
};

// The null interface identifier that GetIDsOfNames and Invoke take (no need for the uuid
// library's GUID_NULL).
constexpr IID kIidNull{};

} // namespace

ComPtr ComPtr::Share(IDispatch *object) {
    if (object != nullptr) {
        object->AddRef();
    }
    return Adopt(object);
}

void ComPtr::Reset() {
    if (IDispatch *object = std::exchange(object_, nullptr)) {
        object->Release();
    }
}

ComPtr MakeDispatchObject(std::vector<DispatchMember> members) {
    auto object = std::make_unique<DispatchObject>(std::move(members));
    return ComPtr::Adopt(object.release());
}

ComPtr QueryDispatch(IDispatch *object) {
    void *found = nullptr;
    if (object == nullptr || FAILED(object->QueryInterface(
                                 *static_cast<const IID *>(dispatch::DispatchIid()), &found))) {
        return {};
    }
    return ComPtr::Adopt(static_cast<IDispatch *>(found));
}

HRESULT GetMemberId(IDispatch *object, const std::u16string &name, DISPID *id) {
    std::u16string copy = name; // GetIDsOfNames takes non-const names
    LPOLESTR names[] = {reinterpret_cast<LPOLESTR>(copy.data())};
    return object->GetIDsOfNames(kIidNull, names, 1, LOCALE_SYSTEM_DEFAULT, id);
}

HRESULT InvokeMember(IDispatch *object, DISPID id, WORD flags, VARIANT *result) {
    DISPPARAMS noArguments{nullptr, nullptr, 0, 0};
    return object->Invoke(id, kIidNull, LOCALE_USER_DEFAULT, flags, &noArguments, result, nullptr,
                          nullptr);
}

} // namespace kestrun::platform::pdf
