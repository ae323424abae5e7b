// Windows: COM automation objects. CreateObject finds the class by its ProgID and creates it
// (on another machine with a server name); GetObject takes a running object by its ProgID, or
// binds the object a path names through its moniker (a file, or a name like "winmgmts:"). What
// comes back is called through IDispatch (com_object_win32.cpp). The calling export has set up
// COM on its thread for the length of the call.
#include "kestrun/automation/vbscript/platform_objects.h"

#include "kestrun/automation/vbscript/com_object_win32.h"
#include "kestrun/automation/vbscript/object_proxy.h"

#include <windows.h>

#include <objbase.h>

#include <string>

namespace kestrun::vbscript {

namespace {

const OLECHAR *wide(const std::u16string &s) {
    return reinterpret_cast<const OLECHAR *>(s.c_str());
}

[[noreturn]] void cannotCreate(std::u16string_view progId, HRESULT hr) {
    // A failure of the object's own start (out of memory, access denied) keeps its number;
    // everything about finding and starting the class is "can't create object".
    if (hr == E_OUTOFMEMORY || hr == E_ACCESSDENIED)
        throw ComCallError(hr, nullptr, u"");
    std::u16string description = errorDescription(err::CannotCreate);
    if (!progId.empty())
        description += u": '" + std::u16string(progId) + u"'";
    throw ScriptError(err::CannotCreate, description);
}

// The class registered under `progId`; error 429 when there is none.
CLSID classOf(std::u16string_view progId) {
    const std::u16string id(progId);
    CLSID clsid;
    if (HRESULT hr = CLSIDFromProgID(wide(id), &clsid); FAILED(hr))
        cannotCreate(progId, hr);
    return clsid;
}

// Takes the reference `unknown` holds and gives the script its object.
Value adopt(Interp &in, IUnknown *unknown, std::u16string_view name) {
    Value v = ObjectFromInterface(unknown, &in);
    unknown->Release();
    if (!v.o()) // no IDispatch: nothing a script can call
        cannotCreate(name, E_NOINTERFACE);
    return v;
}

class ComObjects final : public ObjectHost {
public:
    Value createObject(Interp &in, std::u16string_view progId,
                       std::u16string_view server) override {
        const CLSID clsid = classOf(progId);
        HRESULT hr;
        IUnknown *unknown = nullptr;
        if (server.empty()) {
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, __uuidof(IUnknown),
                                  reinterpret_cast<void **>(&unknown));
        } else {
            std::u16string machine(server);
            COSERVERINFO info{};
            info.pwszName = const_cast<LPWSTR>(wide(machine));
            MULTI_QI qi{&__uuidof(IUnknown), nullptr, S_OK};
            hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER | CLSCTX_LOCAL_SERVER,
                                    &info, 1, &qi);
            if (SUCCEEDED(hr))
                hr = qi.hr;
            unknown = SUCCEEDED(hr) ? qi.pItf : nullptr;
        }
        if (FAILED(hr) || !unknown)
            cannotCreate(progId, FAILED(hr) ? hr : E_NOINTERFACE);
        return adopt(in, unknown, progId);
    }

    Value getObject(Interp &in, std::u16string_view path, std::u16string_view progId) override {
        if (path.empty()) {
            if (progId.empty())
                raise(err::InvalidCall);
            // The running instance of the class.
            IUnknown *unknown = nullptr;
            HRESULT hr = GetActiveObject(classOf(progId), nullptr, &unknown);
            if (FAILED(hr) || !unknown)
                cannotCreate(progId, FAILED(hr) ? hr : E_NOINTERFACE);
            return adopt(in, unknown, progId);
        }
        const std::u16string name(path);
        IUnknown *unknown = nullptr;
        HRESULT hr = S_OK;
        if (progId.empty()) {
            hr = CoGetObject(wide(name), nullptr, __uuidof(IUnknown),
                             reinterpret_cast<void **>(&unknown));
        } else {
            // A file opened by the class named: create it and load the file through
            // IPersistFile.
            IPersistFile *file = nullptr;
            hr = CoCreateInstance(classOf(progId), nullptr, CLSCTX_SERVER, __uuidof(IPersistFile),
                                  reinterpret_cast<void **>(&file));
            if (SUCCEEDED(hr) && file) {
                hr = file->Load(wide(name), STGM_READ);
                if (SUCCEEDED(hr))
                    hr = file->QueryInterface(__uuidof(IUnknown),
                                              reinterpret_cast<void **>(&unknown));
                file->Release();
            }
        }
        if (FAILED(hr) || !unknown) {
            if (hr == MK_E_SYNTAX || hr == MK_E_NOOBJECT || hr == MK_E_CANTOPENFILE ||
                hr == MK_E_INVALIDEXTENSION || hr == MK_E_UNAVAILABLE ||
                hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING || hr == E_NOINTERFACE ||
                hr == MK_E_CONNECTMANUALLY || !FAILED(hr))
                cannotCreate(progId.empty() ? path : progId, FAILED(hr) ? hr : E_NOINTERFACE);
            throw ComCallError(hr, nullptr, u"");
        }
        return adopt(in, unknown, progId.empty() ? path : progId);
    }
};

} // namespace

std::unique_ptr<ObjectHost> NewPlatformObjects() {
    return std::make_unique<ComObjects>();
}

} // namespace kestrun::vbscript
