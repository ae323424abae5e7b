#include "kestrun/automation/pdf/dispatch.h"

#include <cstdint>
#include <cstring>

namespace kestrun::platform::pdf::dispatch {
namespace {

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

constexpr Guid kIidUnknown{0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr Guid kIidDispatch{0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool Same(const Guid &a, const Guid &b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

} // namespace

bool IsOfferedInterface(const void *riid) {
    if (riid == nullptr) {
        return false;
    }
    Guid wanted;
    std::memcpy(&wanted, riid, sizeof wanted);
    return Same(wanted, kIidUnknown) || Same(wanted, kIidDispatch);
}

const void *DispatchIid() {
    return &kIidDispatch;
}

HRESULT FindIds(const std::vector<DispatchMember> &members, const OLECHAR *const *names,
                UINT nameCount, DISPID *ids) {
    if (names == nullptr || ids == nullptr || nameCount == 0 || names[0] == nullptr) {
        return E_INVALIDARG;
    }
    const auto *name = reinterpret_cast<const char16_t *>(names[0]);
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

HRESULT Call(const std::vector<DispatchMember> &members, DISPID id, WORD flags, UINT argCount,
             UINT namedCount, VARIANT *result) {
    if (id < 1 || static_cast<size_t>(id) > members.size()) {
        return DISP_E_MEMBERNOTFOUND;
    }
    const DispatchMember &member = members[static_cast<size_t>(id) - 1];
    if ((flags & member.kind) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (argCount != 0 || namedCount != 0) {
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

} // namespace kestrun::platform::pdf::dispatch
