// The OLE Automation layouts the exports rely on, checked against the system's headers when
// Kestrun.dll is compiled (for 32-bit Windows, the layouts a Visual Basic 6 program uses).
#include "oleauto.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr bool k32 = sizeof(void *) == 4;

// BSTR: a pointer to UTF-16-sized units; the 32-bit byte count sits just before the data.
static_assert(sizeof(OLECHAR) == 2);
static_assert(sizeof(BSTR) == sizeof(void *));

// SAFEARRAY: cDims, fFeatures, cbElements, cLocks, pvData, then the bounds of each dimension.
static_assert(offsetof(SAFEARRAY, cDims) == 0);
static_assert(offsetof(SAFEARRAY, fFeatures) == 2);
static_assert(offsetof(SAFEARRAY, cbElements) == 4);
static_assert(offsetof(SAFEARRAY, cLocks) == 8);
static_assert(offsetof(SAFEARRAY, pvData) == (k32 ? 12 : 16));
static_assert(offsetof(SAFEARRAY, rgsabound) == (k32 ? 16 : 24));
static_assert(sizeof(SAFEARRAYBOUND) == 8);
static_assert(offsetof(SAFEARRAYBOUND, cElements) == 0);
static_assert(offsetof(SAFEARRAYBOUND, lLbound) == 4);

// VARIANT: 16 bytes on 32-bit Windows (24 on 64-bit), the VARTYPE first, the value at 8.
static_assert(sizeof(VARIANT) == (k32 ? 16 : 24));
static_assert(offsetof(VARIANT, vt) == 0);
static_assert(offsetof(VARIANT, lVal) == 8);
static_assert(sizeof(VARTYPE) == 2);

// The numbers of the exports: Long is 32 bits, Integer 16, handles pointer-sized.
static_assert(sizeof(LONG) == 4 && sizeof(SHORT) == 2 && sizeof(intptr_t) == sizeof(void *));

} // namespace
