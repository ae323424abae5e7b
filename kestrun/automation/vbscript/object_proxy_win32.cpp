// The proxy as a system COM object: IUnknown and IDispatch. Its members are not reachable
// through IDispatch (the script's objects are driven by the engine alone); what the caller gets
// is a reference that keeps the object alive, answers QueryInterface for the two interfaces and
// goes away with its last Release.
#include "kestrun/automation/vbscript/object_proxy.h"

#include <atomic>

namespace kestrun::vbscript {

namespace {

class ObjectProxy final : public IDispatch {
public:
    ObjectProxy(const std::shared_ptr<Interp> &engine, const Value &value)
        : engine_(engine), value_(value) {}
    virtual ~ObjectProxy() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (!object)
            return E_POINTER;
        if (!IsEqualIID(riid, __uuidof(IUnknown)) && !IsEqualIID(riid, __uuidof(IDispatch))) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<IDispatch *>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **info) override {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT count, LCID,
                                            DISPID *ids) override {
        for (UINT i = 0; ids && i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,
                                     EXCEPINFO *, UINT *) override {
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::shared_ptr<Interp> engine_;
    Value value_; // released before the engine
};

} // namespace

IDispatch *NewObjectProxy(const std::shared_ptr<Interp> &engine, const Value &value) {
    return std::make_unique<ObjectProxy>(engine, value).release();
}

} // namespace kestrun::vbscript
