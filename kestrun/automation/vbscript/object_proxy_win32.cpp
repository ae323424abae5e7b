// The proxy as a system COM object: IUnknown and IDispatch over one of the engine's objects.
// GetIDsOfNames gives each name a number of its own, kept for the proxy's life; Invoke calls
// the member by that name through the engine (DISPID_VALUE: the default member, DISPID_NEWENUM:
// an IEnumVARIANT over the object's items). A script error comes back as DISP_E_EXCEPTION with
// EXCEPINFO filled. The engine belongs to one thread: calls from any other thread than the one
// the proxy was made on are refused with RPC_E_WRONG_THREAD.
#include "kestrun/automation/vbscript/object_proxy.h"

#include "kestrun/automation/vbscript/com_object_win32.h"
#include "kestrun/automation/vbscript/control.h"
#include "kestrun/automation/vbscript/variant.h"
#include "vbscript/objects.h"

#include <windows.h>

#include <atomic>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrun::vbscript {

namespace {

// Answered only by this library's proxies, to find the script object behind an interface.
constexpr GUID kProxyIid = {
    0xf4824b0c, 0x3cd5, 0x4c10, {0x88, 0xa0, 0x6f, 0x18, 0x05, 0x59, 0x2c, 0xa9}};

constexpr HRESULT kWrongThread = RPC_E_WRONG_THREAD;

BSTR allocText(const std::u16string &s) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR *>(s.data()),
                             static_cast<UINT>(s.size()));
}

// IUnknown of a COM object with one interface: a reference count from 1 that deletes the
// object at 0, and QueryInterface answering IUnknown and `Interface`.
template <class Interface> class RefCounted : public Interface {
public:
    RefCounted() = default;
    RefCounted(const RefCounted &) = delete;
    RefCounted &operator=(const RefCounted &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (!object)
            return E_POINTER;
        if (!IsEqualIID(riid, __uuidof(IUnknown)) && !IsEqualIID(riid, __uuidof(Interface))) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<Interface *>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~RefCounted() = default;

private:
    std::atomic<ULONG> refs_{1};
};

// Items handed out one by one: VARIANT copies made when the enumerator was asked for.
class ItemEnumerator final : public RefCounted<IEnumVARIANT> {
public:
    explicit ItemEnumerator(std::vector<VARIANT> items) : items_(std::move(items)) {}
    ~ItemEnumerator() override {
        for (auto &v : items_)
            VariantClear(&v);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT *out, ULONG *fetched) override {
        if (!out)
            return E_POINTER;
        ULONG done = 0;
        for (; done < count && next_ < items_.size(); ++done, ++next_) {
            VariantInit(&out[done]);
            if (FAILED(VariantCopy(&out[done], &items_[next_]))) {
                for (ULONG k = 0; k < done; ++k)
                    VariantClear(&out[k]);
                if (fetched)
                    *fetched = 0;
                return E_OUTOFMEMORY;
            }
        }
        if (fetched)
            *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const size_t left = items_.size() - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT **copy) override {
        if (!copy)
            return E_POINTER;
        *copy = nullptr;
        std::vector<VARIANT> items(items_.size());
        for (size_t i = 0; i < items_.size(); ++i) {
            VariantInit(&items[i]);
            if (FAILED(VariantCopy(&items[i], &items_[i]))) {
                for (size_t k = 0; k <= i; ++k)
                    VariantClear(&items[k]);
                return E_OUTOFMEMORY;
            }
        }
        auto *clone = new (std::nothrow) ItemEnumerator(std::move(items));
        if (!clone)
            return E_OUTOFMEMORY;
        clone->next_ = next_;
        *copy = clone;
        return S_OK;
    }

private:
    std::vector<VARIANT> items_;
    size_t next_ = 0;
};

class ObjectProxy final : public RefCounted<IDispatch> {
public:
    ObjectProxy(const std::shared_ptr<Interp> &engine, const Value &value)
        : engine_(engine), value_(value), thread_(GetCurrentThreadId()) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        // The proxy's own identity takes no reference: it is asked for only inside the library.
        if (object && IsEqualIID(riid, kProxyIid)) {
            *object = this;
            return S_OK;
        }
        return RefCounted::QueryInterface(riid, object);
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

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID,
                                            DISPID *ids) override {
        if (GetCurrentThreadId() != thread_)
            return kWrongThread;
        if (!names || !ids || count == 0)
            return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        if (!names[0])
            return DISP_E_UNKNOWNNAME;
        try {
            std::u16string name = lowerAscii(reinterpret_cast<const char16_t *>(names[0]));
            if (!knows(name))
                return DISP_E_UNKNOWNNAME;
            auto it = ids_.find(name);
            if (it == ids_.end()) {
                names_.push_back(name);
                it = ids_.emplace(std::move(name), static_cast<DISPID>(names_.size())).first;
            }
            ids[0] = it->second;
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        }
        // Members take no named arguments: the names after the first are unknown.
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *excep, UINT *) override {
        if (GetCurrentThreadId() != thread_)
            return kWrongThread;
        if (!engine_)
            return E_UNEXPECTED;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (!params)
            params = &none;
        if (params->cArgs > 0 && !params->rgvarg)
            return E_INVALIDARG;
        const bool isPut = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
        // The value of an assignment is the one named argument DISPID_PROPERTYPUT, first in
        // rgvarg; no other named arguments are known.
        if (isPut ? (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
                     params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || params->cArgs < 1)
                  : params->cNamedArgs != 0)
            return isPut && params->cArgs < 1 ? DISP_E_BADPARAMCOUNT : DISP_E_NONAMEDARGS;
        std::u16string name;
        if (id != DISPID_VALUE && id != DISPID_NEWENUM) {
            if (id < 1 || static_cast<size_t>(id) > names_.size())
                return DISP_E_MEMBERNOTFOUND;
            name = names_[static_cast<size_t>(id) - 1];
        }
        if (result)
            VariantInit(result);
        try {
            Interp &in = *engine_;
            if (id == DISPID_NEWENUM && !isPut)
                return enumerator(in, result);
            // Arguments arrive last first; the value of an assignment is rgvarg[0].
            const UINT first = isPut ? 1 : 0;
            const size_t n = params->cArgs - first;
            std::vector<Value> values(n);
            std::vector<Value *> ptrs(n);
            for (size_t i = 0; i < n; ++i) {
                const VARIANT &arg = params->rgvarg[params->cArgs - 1 - i];
                values[i] = isMissingArg(arg) ? Value::error(kMissing) : FromVariant(arg, &in);
                ptrs[i] = &values[i];
            }
            const Args args(ptrs.data(), n);
            if (isPut) {
                Value assigned = FromVariant(params->rgvarg[0], &in);
                in.putMember(value_, name, args, assigned, (flags & DISPATCH_PROPERTYPUTREF) != 0);
            } else {
                Value r = in.callMember(value_, name, args);
                if (result)
                    ToVariant(engine_, r, *result);
            }
            // By-reference arguments receive what the member left in them.
            for (size_t i = 0; i < n; ++i)
                writeBack(params->rgvarg[params->cArgs - 1 - i], values[i]);
            return S_OK;
        } catch (const ScriptError &e) {
            if (result)
                VariantClear(result);
            const HRESULT scode = static_cast<HRESULT>(ScriptErrorHResult(e.number));
            if (!excep)
                return scode;
            *excep = EXCEPINFO{};
            excep->scode = scode;
            excep->bstrSource =
                allocText(e.source.empty() ? std::u16string(u"VBScript runtime error") : e.source);
            excep->bstrDescription = allocText(e.description);
            if (!e.helpFile.empty())
                excep->bstrHelpFile = allocText(e.helpFile);
            excep->dwHelpContext = static_cast<DWORD>(e.helpContext);
            return DISP_E_EXCEPTION;
        } catch (const std::bad_alloc &) {
            if (result)
                VariantClear(result);
            return E_OUTOFMEMORY;
        } catch (...) {
            if (result)
                VariantClear(result);
            return E_UNEXPECTED;
        }
    }

    const Interp *engine() const { return engine_.get(); }
    const Value &value() const { return value_; }
    void adopt() { thread_ = GetCurrentThreadId(); }

private:
    static bool isMissingArg(const VARIANT &v) {
        return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
    }

    // Whether `name` may be a member: class instances know theirs; other objects answer when
    // called.
    bool knows(const std::u16string &name) const {
        if (auto *inst = dynamic_cast<const Instance *>(value_.o()))
            return inst->cls_->members.count(name) > 0;
        return true;
    }

    HRESULT enumerator(Interp &in, VARIANT *result) {
        std::vector<Value> items = in.enumerateMember(value_);
        std::vector<VARIANT> copies(items.size());
        for (auto &v : copies)
            VariantInit(&v);
        try {
            for (size_t i = 0; i < items.size(); ++i)
                ToVariant(engine_, items[i], copies[i]);
        } catch (...) {
            for (auto &v : copies)
                VariantClear(&v);
            throw;
        }
        auto *e = new ItemEnumerator(std::move(copies));
        if (!result) {
            e->Release();
            return S_OK;
        }
        result->vt = VT_UNKNOWN;
        result->punkVal = e;
        return S_OK;
    }

    void writeBack(VARIANT &arg, const Value &v) {
        if (!(arg.vt & VT_BYREF) || !arg.byref || (arg.vt & VT_ARRAY))
            return;
        const VARTYPE base = static_cast<VARTYPE>(arg.vt & VT_TYPEMASK);
        VARIANT fresh;
        ToVariant(engine_, v, fresh);
        if (base == VT_VARIANT) {
            VariantClear(arg.pvarVal);
            *arg.pvarVal = fresh;
            return;
        }
        VARIANT typed;
        VariantInit(&typed);
        const HRESULT hr = VariantChangeType(&typed, &fresh, 0, base);
        VariantClear(&fresh);
        if (FAILED(hr))
            return;
        switch (base) {
        case VT_I2:
            *arg.piVal = typed.iVal;
            break;
        case VT_I4:
            *arg.plVal = typed.lVal;
            break;
        case VT_R4:
            *arg.pfltVal = typed.fltVal;
            break;
        case VT_R8:
            *arg.pdblVal = typed.dblVal;
            break;
        case VT_CY:
            *arg.pcyVal = typed.cyVal;
            break;
        case VT_DATE:
            *arg.pdate = typed.date;
            break;
        case VT_BOOL:
            *arg.pboolVal = typed.boolVal;
            break;
        case VT_UI1:
            *arg.pbVal = typed.bVal;
            break;
        case VT_BSTR:
            SysFreeString(*arg.pbstrVal);
            *arg.pbstrVal = typed.bstrVal;
            return; // ownership passed on
        default:
            break;
        }
        VariantClear(&typed);
    }

    std::shared_ptr<Interp> engine_;
    Value value_; // released before the engine
    std::atomic<DWORD> thread_;
    std::unordered_map<std::u16string, DISPID> ids_;
    std::vector<std::u16string> names_; // DISPID n names names_[n - 1]
};

ObjectProxy *proxyOf(IUnknown *object) {
    void *p = nullptr;
    if (!object || FAILED(object->QueryInterface(kProxyIid, &p)))
        return nullptr;
    return static_cast<ObjectProxy *>(p);
}

void adoptIn(VARIANT &v, int depth) {
    if (depth > 64)
        return;
    if (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) {
        if (ObjectProxy *p = proxyOf(v.punkVal))
            p->adopt();
        return;
    }
    if (v.vt == (VT_ARRAY | VT_VARIANT) && v.parray) {
        VARIANT *items = nullptr;
        if (FAILED(SafeArrayAccessData(v.parray, reinterpret_cast<void **>(&items))))
            return;
        size_t total = 1;
        for (UINT d = 0; d < SafeArrayGetDim(v.parray); ++d)
            total *= v.parray->rgsabound[d].cElements;
        for (size_t i = 0; i < total; ++i)
            adoptIn(items[i], depth + 1);
        SafeArrayUnaccessData(v.parray);
    }
}

} // namespace

IDispatch *NewObjectProxy(const std::shared_ptr<Interp> &engine, const Value &value) {
    // An object of another component goes back as its own interface.
    if (IDispatch *own = ComInterfaceOf(value)) {
        own->AddRef();
        return own;
    }
    return std::make_unique<ObjectProxy>(engine, value).release();
}

bool ProxiedObject(IUnknown *object, const Interp *engine, Value &out) {
    ObjectProxy *p = proxyOf(object);
    if (!p || !engine || p->engine() != engine)
        return false;
    out = p->value();
    return true;
}

void AdoptObjectProxies(VARIANT &v) {
    adoptIn(v, 0);
}

// CoInitialize as the system's own call does it: a single-threaded apartment, counted once
// more on a thread that had one; a thread in the multi-threaded apartment keeps it.
CallApartment::CallApartment()
    : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

CallApartment::~CallApartment() {
    if (initialised_)
        CoUninitialize();
}

} // namespace kestrun::vbscript
