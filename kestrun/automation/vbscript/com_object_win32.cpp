// Objects of other components in the script: late-bound calls through IDispatch. Members are
// looked up by name (GetIDsOfNames, remembered per object) and called with Invoke: a read or
// call with DISPATCH_METHOD | DISPATCH_PROPERTYGET, an assignment with DISPATCH_PROPERTYPUT (or
// DISPATCH_PROPERTYPUTREF for Set, falling back to PUT for objects that know no PUTREF) and the
// value as the named argument DISPID_PROPERTYPUT, For Each through DISPID_NEWENUM and
// IEnumVARIANT. Arguments go by reference (VT_BYREF | VT_VARIANT), so that a member that
// changes one changes the script's variable; a left-out argument goes as
// DISP_E_PARAMNOTFOUND. Failures become script errors with the language's numbers and the
// object's own source and description.
#include "kestrun/automation/vbscript/com_object_win32.h"

#include "kestrun/automation/vbscript/object_proxy.h"
#include "kestrun/automation/vbscript/variant.h"

#include <windows.h>

#include <ocidl.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrun::vbscript {

namespace {

std::u16string bstrText(BSTR b) {
    if (!b)
        return {};
    return std::u16string(reinterpret_cast<const char16_t *>(b), SysStringLen(b));
}

struct ComRelease {
    void operator()(IUnknown *p) const noexcept { p->Release(); }
};
template <class T> using ComPtr = std::unique_ptr<T, ComRelease>;

// VARIANTs cleared when the call is over, whatever way it ends.
class VariantList {
public:
    explicit VariantList(size_t n) : items_(n) {
        for (auto &v : items_)
            VariantInit(&v);
    }
    ~VariantList() {
        for (auto &v : items_)
            VariantClear(&v);
    }
    VariantList(const VariantList &) = delete;
    VariantList &operator=(const VariantList &) = delete;
    VARIANT &operator[](size_t i) { return items_[i]; }

private:
    std::vector<VARIANT> items_;
};

// The engine as a shared owner, for script objects handed to a component: their proxies keep
// it alive. An engine not owned that way (made on a stack by a test) cannot hand them out.
std::shared_ptr<Interp> sharedEngine(Interp &in) {
    std::shared_ptr<Interp> engine = in.weak_from_this().lock();
    if (!engine)
        raise(430); // Class doesn't support Automation
    return engine;
}

void toVariant(Interp &in, const Value &v, VARIANT &out) {
    if (v.isObject() && v.o() && !ComInterfaceOf(v)) {
        ToVariant(sharedEngine(in), v, out);
        return;
    }
    if (v.isArray()) { // arrays may hold script objects
        ToVariant(sharedEngine(in), v, out);
        return;
    }
    ToVariant(nullptr, v, out);
}

class ComObject final : public Object {
public:
    explicit ComObject(IDispatch *d) : disp_(d) { d->AddRef(); }
    ~ComObject() override { disp_->Release(); }

    IDispatch *dispatch() const { return disp_; }

    // The class's name when the object tells it (IProvideClassInfo), else its interface's.
    std::u16string typeName() const override {
        ITypeInfo *info = nullptr;
        std::u16string name = u"Object";
        IProvideClassInfo *cls = nullptr;
        if (SUCCEEDED(disp_->QueryInterface(__uuidof(IProvideClassInfo),
                                            reinterpret_cast<void **>(&cls))) &&
            cls) {
            if (cls->GetClassInfo(&info) != S_OK)
                info = nullptr;
            cls->Release();
        }
        if ((info || disp_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info) == S_OK) && info) {
            BSTR text = nullptr;
            if (info->GetDocumentation(MEMBERID_NIL, &text, nullptr, nullptr, nullptr) == S_OK &&
                text && SysStringLen(text) > 0)
                name = bstrText(text);
            SysFreeString(text);
            info->Release();
        }
        return name;
    }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        return invoke(in, name, idOf(name), DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, nullptr);
    }

    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) override {
        const DISPID id = idOf(name);
        if (isSet) {
            bool refused = false;
            invoke(in, name, id, DISPATCH_PROPERTYPUTREF, args, &v, &refused);
            if (!refused)
                return;
        }
        invoke(in, name, id, DISPATCH_PROPERTYPUT, args, &v);
    }

    std::vector<Value> enumerate(Interp &in) override {
        VARIANT result;
        VariantInit(&result);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        EXCEPINFO excep{};
        HRESULT hr =
            disp_->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT,
                          DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr);
        if (FAILED(hr)) {
            VariantClear(&result);
            if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME)
                raise(err::NotCollection);
            throw ComCallError(hr, &excep, u"");
        }
        IUnknown *unk =
            (result.vt == VT_UNKNOWN || result.vt == VT_DISPATCH) ? result.punkVal : nullptr;
        IEnumVARIANT *raw = nullptr;
        if (!unk ||
            FAILED(unk->QueryInterface(__uuidof(IEnumVARIANT), reinterpret_cast<void **>(&raw))) ||
            !raw) {
            VariantClear(&result);
            raise(err::NotCollection);
        }
        VariantClear(&result);
        ComPtr<IEnumVARIANT> items(raw);
        std::vector<Value> out;
        for (;;) {
            VARIANT item;
            VariantInit(&item);
            ULONG fetched = 0;
            hr = items->Next(1, &item, &fetched);
            if (hr != S_OK || fetched != 1) {
                VariantClear(&item);
                break;
            }
            try {
                out.push_back(FromVariant(item, &in));
            } catch (...) {
                VariantClear(&item);
                throw;
            }
            VariantClear(&item);
            in.tick();
        }
        return out;
    }

private:
    DISPID idOf(std::u16string_view name) {
        if (name.empty())
            return DISPID_VALUE;
        std::u16string key(name);
        if (auto it = ids_.find(key); it != ids_.end())
            return it->second;
        std::u16string text = key; // GetIDsOfNames takes a writable array of names
        LPOLESTR names[1] = {reinterpret_cast<LPOLESTR>(text.data())};
        DISPID id = DISPID_UNKNOWN;
        SetErrorInfo(0, nullptr);
        HRESULT hr = disp_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr))
            throw ComCallError(hr, nullptr, name);
        ids_.emplace(std::move(key), id);
        return id;
    }

    // Calls member `id`. `assigned` is the value of an assignment. With `refused`, a member
    // the object does not have or has not implemented sets it instead of raising an error (the
    // PUTREF attempt of a Set, which falls back to PUT).
    Value invoke(Interp &in, std::u16string_view name, DISPID id, WORD flags, Args args,
                 const Value *assigned, bool *refused = nullptr) {
        const size_t n = args.size();
        const size_t total = n + (assigned ? 1 : 0);
        VariantList values(n);     // the arguments' values, referred to by `passed`
        VariantList passed(total); // in DISPPARAMS order: last argument first
        std::vector<bool> byRef(n, false);
        for (size_t i = 0; i < n; ++i) {
            const Value &a = *args[i];
            VARIANT &slot = passed[total - 1 - i];
            if (isMissing(a)) {
                slot.vt = VT_ERROR;
                slot.scode = DISP_E_PARAMNOTFOUND;
                continue;
            }
            toVariant(in, a, values[i]);
            if (values[i].vt == VT_DISPATCH || values[i].vt == VT_EMPTY) {
                // Objects go by value: a component keeps its own reference. Empty too, for
                // members that tell a given argument from a left-out one by its type.
                slot = values[i];
                VariantInit(&values[i]);
                continue;
            }
            slot.vt = VT_BYREF | VT_VARIANT;
            slot.pvarVal = &values[i];
            byRef[i] = true;
        }
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{total ? &passed[0] : nullptr, nullptr, static_cast<UINT>(total), 0};
        if (assigned) {
            toVariant(in, *assigned, passed[0]);
            params.rgdispidNamedArgs = &named;
            params.cNamedArgs = 1;
        }
        // The values as sent, to tell afterwards which ones the member changed.
        std::vector<VARIANT> before(n);
        for (size_t i = 0; i < n; ++i)
            std::memcpy(&before[i], &values[i], sizeof(VARIANT));
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excep{};
        UINT badArg = 0;
        SetErrorInfo(0, nullptr);
        HRESULT hr = disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                   assigned ? nullptr : &result, &excep, &badArg);
        if (FAILED(hr)) {
            VariantClear(&result);
            if (refused) {
                if (hr == DISP_E_EXCEPTION && excep.pfnDeferredFillIn)
                    excep.pfnDeferredFillIn(&excep);
                const HRESULT why = hr == DISP_E_EXCEPTION ? excep.scode : hr;
                if (why == DISP_E_MEMBERNOTFOUND || why == E_NOTIMPL) {
                    *refused = true;
                    excep.pfnDeferredFillIn = nullptr;
                    SysFreeString(excep.bstrSource);
                    SysFreeString(excep.bstrDescription);
                    SysFreeString(excep.bstrHelpFile);
                    SetErrorInfo(0, nullptr);
                    return {};
                }
                excep.pfnDeferredFillIn = nullptr; // filled already
            }
            throw ComCallError(hr, &excep, name);
        }
        // ByRef: a value the member replaced goes back into the script's variable.
        for (size_t i = 0; i < n; ++i) {
            if (!byRef[i] || std::memcmp(&before[i], &values[i], sizeof(VARIANT)) == 0)
                continue;
            Value back;
            try {
                back = FromVariant(values[i], &in);
            } catch (...) {
                VariantClear(&result);
                throw;
            }
            *args[i] = std::move(back);
        }
        try {
            Value r = FromVariant(result, &in);
            VariantClear(&result);
            return r;
        } catch (...) {
            VariantClear(&result);
            throw;
        }
    }

    IDispatch *disp_;
    std::unordered_map<std::u16string, DISPID> ids_;
};

} // namespace

IDispatch *ComInterfaceOf(const Value &value) {
    if (!value.isObject() || !value.o())
        return nullptr;
    if (auto *com = dynamic_cast<ComObject *>(value.o()))
        return com->dispatch();
    return nullptr;
}

ScriptError ComCallError(HRESULT hr, EXCEPINFO *excep, std::u16string_view name) {
    if (hr == DISP_E_EXCEPTION && excep) {
        if (excep->pfnDeferredFillIn)
            excep->pfnDeferredFillIn(excep);
        // A 16-bit code is the language's number already; an HRESULT is mapped like Err.Raise
        // maps it (0x800A xxxx to xxxx, well-known system errors to their numbers).
        const int32_t number = excep->wCode ? static_cast<int32_t>(excep->wCode)
                                            : raisedNumber(static_cast<int32_t>(excep->scode));
        std::u16string description = bstrText(excep->bstrDescription);
        ScriptError e(number, description.empty() ? errorDescription(number) : description);
        e.source = bstrText(excep->bstrSource);
        e.helpFile = bstrText(excep->bstrHelpFile);
        e.helpContext = static_cast<int32_t>(excep->dwHelpContext);
        SysFreeString(excep->bstrSource);
        SysFreeString(excep->bstrDescription);
        SysFreeString(excep->bstrHelpFile);
        return e;
    }
    if (excep) {
        SysFreeString(excep->bstrSource);
        SysFreeString(excep->bstrDescription);
        SysFreeString(excep->bstrHelpFile);
    }
    const int32_t number = raisedNumber(static_cast<int32_t>(hr));
    ScriptError e(number);
    if (number == err::NoMember && !name.empty())
        e.description += u": '" + std::u16string(name) + u"'";
    // An object that failed without EXCEPINFO may have described the failure in the thread's
    // error information (cleared before each call, so what is there is this call's).
    IErrorInfo *info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR text = nullptr;
        if (info->GetDescription(&text) == S_OK && text && SysStringLen(text) > 0)
            e.description = bstrText(text);
        SysFreeString(text);
        text = nullptr;
        if (info->GetSource(&text) == S_OK && text)
            e.source = bstrText(text);
        SysFreeString(text);
        info->Release();
    }
    return e;
}

Value ObjectFromInterface(IUnknown *object, Interp *engine) {
    if (!object)
        return Value::nothing();
    Value own;
    if (ProxiedObject(object, engine, own))
        return own;
    IDispatch *disp = nullptr;
    if (FAILED(object->QueryInterface(__uuidof(IDispatch), reinterpret_cast<void **>(&disp))) ||
        !disp)
        return Value::nothing();
    ComPtr<IDispatch> held(disp);
    return Value::object(new ComObject(disp));
}

} // namespace kestrun::vbscript
