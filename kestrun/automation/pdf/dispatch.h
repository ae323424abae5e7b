// Late-bound objects for the PDF document server: the part of COM's IDispatch that the library
// uses (a name lookup giving a member identifier, then an invocation with no arguments).
//
// The objects are COM objects, so VARIANTs and SAFEARRAYs of the OLE Automation layer hold, copy
// and release them like any other object reference: on Windows they implement the system's
// IDispatch (dispatch_win32.cpp); with the OLE Automation stand-in they are laid out as a
// pointer to a function table whose first three slots are IUnknown's (dispatch_posix.cpp).
#pragma once

#include "oleauto.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestrun::platform::pdf {

using DISPID = LONG;

inline constexpr WORD kDispatchMethod = 1;
inline constexpr WORD kDispatchPropertyGet = 2;

// Holds one reference to an object and releases it when destroyed.
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already owns.
    static ComPtr Adopt(IDispatch *object) {
        ComPtr p;
        p.object_ = object;
        return p;
    }
    // Adds a reference of its own.
    static ComPtr Share(IDispatch *object);
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr &other) : ComPtr(Share(other.object_)) {}
    ComPtr(ComPtr &&other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr &operator=(ComPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    IDispatch *get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void Reset();
    // Gives up the reference without releasing it.
    IDispatch *Detach() { return std::exchange(object_, nullptr); }

private:
    IDispatch *object_ = nullptr;
};

// One member of a late-bound object: a method (kDispatchMethod) or a readable property
// (kDispatchPropertyGet). The body stores the member's value in `result` (which starts empty)
// and returns S_OK, or returns a failing HRESULT; an exception it throws becomes
// DISP_E_EXCEPTION.
struct DispatchMember {
    std::u16string name;
    WORD kind;
    std::function<HRESULT(VARIANT *result)> body;
};

// Makes a late-bound object with the given members (identifiers 1, 2, ... in list order; names
// are matched exactly). The object answers QueryInterface for IUnknown and IDispatch.
ComPtr MakeDispatchObject(std::vector<DispatchMember> members);

// Calling any object that offers IDispatch, ours or another server's.
// The object's IDispatch interface (a reference of its own); empty when it has none.
ComPtr QueryDispatch(IDispatch *object);
// Looks up the identifier of the member `name` (in the system's default locale).
HRESULT GetMemberId(IDispatch *object, const std::u16string &name, DISPID *id);
// Invokes member `id` with no arguments, as a method or a property read (`flags`); the value
// goes to `result`.
HRESULT InvokeMember(IDispatch *object, DISPID id, WORD flags, VARIANT *result);

// The parts of the objects' behaviour that do not depend on the platform's COM layout.
namespace dispatch {
// True for the interface identifiers of IUnknown and IDispatch.
bool IsOfferedInterface(const void *riid);
// IDispatch's interface identifier (16 bytes in the GUID layout).
const void *DispatchIid();
// GetIDsOfNames over `members`: the first name's identifier; named arguments are unknown.
HRESULT FindIds(const std::vector<DispatchMember> &members, const OLECHAR *const *names,
                UINT nameCount, DISPID *ids);
// Invoke over `members`, for a call with `argCount` positional and `namedCount` named
// arguments (only calls without arguments are accepted).
HRESULT Call(const std::vector<DispatchMember> &members, DISPID id, WORD flags, UINT argCount,
             UINT namedCount, VARIANT *result);
} // namespace dispatch

} // namespace kestrun::platform::pdf
