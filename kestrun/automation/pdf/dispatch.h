// Late-bound objects for the PDF document server: the part of COM's IDispatch that the library
// uses (a name lookup giving a member identifier, then an invocation with no arguments).
//
// The objects are laid out as COM objects (a pointer to a function table whose first three slots
// are IUnknown's), so VARIANTs and SAFEARRAYs of the OLE Automation layer can hold, copy and
// release them like any other object reference.
#pragma once

#include "oleauto.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrun::platform::pdf {

using DISPID = LONG;

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
bool operator==(const Guid &a, const Guid &b);

inline constexpr Guid kIidNull{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr Guid kIidUnknown{0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid kIidDispatch{0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

inline constexpr WORD kDispatchMethod = 1;
inline constexpr WORD kDispatchPropertyGet = 2;
inline constexpr LCID kLocaleSystemDefault = 0x0800;
inline constexpr LCID kLocaleUserDefault = 0x0400;

// Arguments of an invocation (positional only).
struct DispatchParams {
    VARIANT *args;
    DISPID *namedArgs;
    UINT argCount;
    UINT namedArgCount;
};

// The function table of a late-bound object: IUnknown's three slots, then the two IDispatch
// methods the library calls. Exception details are never requested (always null).
struct DispatchVtbl {
    IUnknownVtbl unknown;
    HRESULT(*GetIDsOfNames)
    (IDispatch *self, const void *riid, const OLECHAR *const *names, UINT nameCount, LCID lcid,
     DISPID *ids);
    HRESULT(*Invoke)
    (IDispatch *self, DISPID id, const void *riid, LCID lcid, WORD flags, DispatchParams *params,
     VARIANT *result, void *exceptionInfo, UINT *argError);
};

// Holds one reference to an object and releases it when destroyed.
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already owns.
    static ComPtr Adopt(IUnknown *object) {
        ComPtr p;
        p.object_ = object;
        return p;
    }
    // Adds a reference of its own.
    static ComPtr Share(IUnknown *object);
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr &other) : ComPtr(Share(other.object_)) {}
    ComPtr(ComPtr &&other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr &operator=(ComPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    IUnknown *get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void Reset();
    // Gives up the reference without releasing it.
    IUnknown *Detach() { return std::exchange(object_, nullptr); }

private:
    IUnknown *object_ = nullptr;
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

} // namespace kestrun::platform::pdf
