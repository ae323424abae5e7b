/*
 * OLE Automation types and functions for Linux hosts and libraries.
 *
 * The names, layouts and results follow the Windows definitions so that code written against the
 * Windows platform compiles and behaves the same here:
 *   - BSTR points at the first data unit; a 32-bit byte count sits just before it and two zero
 *     bytes follow the data. A BSTR may carry any bytes (also an odd count of them).
 *   - SAFEARRAY is the Windows descriptor. As on Windows, rgsabound lists the bounds in the reverse
 *     of the order given to SafeArrayCreate (rgsabound[0] is the last dimension); index vectors
 *     passed to SafeArrayGetElement and SafeArrayPutElement list subscripts in creation order, and
 *     the first dimension varies fastest in memory.
 *   - VARIANT has the Windows x64 layout: 24 bytes, vt first.
 * Element copies in and out of arrays and variants are deep (a BSTR is copied, a VARIANT copied,
 * an interface pointer AddRef'ed).
 */
#ifndef KESTRUN_PLATFORM_OLEAUTO_H
#define KESTRUN_PLATFORM_OLEAUTO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define OLEAUT_API __attribute__((visibility("default")))
#else
#define OLEAUT_API
#endif

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t INT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint8_t BYTE;
typedef int16_t SHORT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint16_t OLECHAR;
typedef OLECHAR *BSTR;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef uint32_t LCID;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_HANDLE ((HRESULT)0x80070006)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL ((HRESULT)0x8002000F)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000D)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0fff
};

/* VariantChangeType flags. */
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

/* SAFEARRAY feature bits. */
#define FADF_AUTO 0x0001
#define FADF_STATIC 0x0002
#define FADF_EMBEDDED 0x0004
#define FADF_FIXEDSIZE 0x0010
#define FADF_RECORD 0x0020
#define FADF_HAVEIID 0x0040
#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_UNKNOWN 0x0200
#define FADF_DISPATCH 0x0400
#define FADF_VARIANT 0x0800

typedef struct tagSAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void *pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;

/* The IUnknown part of a COM interface: enough for VARIANTs to hold and release objects. */
typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
    HRESULT (*QueryInterface)(IUnknown *self, const void *riid, void **object);
    ULONG (*AddRef)(IUnknown *self);
    ULONG (*Release)(IUnknown *self);
} IUnknownVtbl;
struct IUnknown {
    const IUnknownVtbl *lpVtbl;
};
typedef IUnknown IDispatch;

typedef union tagCY {
    struct {
        ULONG Lo;
        LONG Hi;
    } s;
    LONGLONG int64;
} CY;

typedef struct tagDEC {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
} DECIMAL;

typedef struct tagVARIANT VARIANT;
typedef VARIANT VARIANTARG;

struct tagVARIANT {
    union {
        struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                float fltVal;
                double dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                BSTR bstrVal;
                IUnknown *punkVal;
                IDispatch *pdispVal;
                SAFEARRAY *parray;
                BYTE *pbVal;
                SHORT *piVal;
                LONG *plVal;
                LONGLONG *pllVal;
                float *pfltVal;
                double *pdblVal;
                VARIANT_BOOL *pboolVal;
                SCODE *pscode;
                CY *pcyVal;
                DATE *pdate;
                BSTR *pbstrVal;
                IUnknown **ppunkVal;
                IDispatch **ppdispVal;
                SAFEARRAY **pparray;
                VARIANT *pvarVal;
                void *byref;
                char cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                struct {
                    void *pvRecord;
                    void *pRecInfo;
                } brecVal;
            };
        };
        DECIMAL decVal;
    };
};

#define V_VT(v) ((v)->vt)
#define V_ISBYREF(v) (V_VT(v) & VT_BYREF)
#define V_ISARRAY(v) (V_VT(v) & VT_ARRAY)
#define V_I1(v) ((v)->cVal)
#define V_I2(v) ((v)->iVal)
#define V_I4(v) ((v)->lVal)
#define V_I8(v) ((v)->llVal)
#define V_UI1(v) ((v)->bVal)
#define V_UI2(v) ((v)->uiVal)
#define V_UI4(v) ((v)->ulVal)
#define V_UI8(v) ((v)->ullVal)
#define V_INT(v) ((v)->intVal)
#define V_UINT(v) ((v)->uintVal)
#define V_R4(v) ((v)->fltVal)
#define V_R8(v) ((v)->dblVal)
#define V_CY(v) ((v)->cyVal)
#define V_DATE(v) ((v)->date)
#define V_BSTR(v) ((v)->bstrVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_ERROR(v) ((v)->scode)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_ARRAY(v) ((v)->parray)
#define V_BYREF(v) ((v)->byref)
#define V_VARIANTREF(v) ((v)->pvarVal)

/* BSTR */
OLEAUT_API BSTR SysAllocString(const OLECHAR *psz);
OLEAUT_API BSTR SysAllocStringLen(const OLECHAR *pch, UINT cch);
OLEAUT_API BSTR SysAllocStringByteLen(const char *psz, UINT len);
OLEAUT_API void SysFreeString(BSTR bstr);
OLEAUT_API UINT SysStringLen(BSTR bstr);
OLEAUT_API UINT SysStringByteLen(BSTR bstr);

/* SAFEARRAY */
OLEAUT_API SAFEARRAY *SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound);
OLEAUT_API SAFEARRAY *SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
OLEAUT_API HRESULT SafeArrayDestroy(SAFEARRAY *psa);
OLEAUT_API UINT SafeArrayGetDim(SAFEARRAY *psa);
OLEAUT_API UINT SafeArrayGetElemsize(SAFEARRAY *psa);
OLEAUT_API HRESULT SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt);
OLEAUT_API HRESULT SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv);
OLEAUT_API HRESULT SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv);
OLEAUT_API HRESULT SafeArrayPtrOfIndex(SAFEARRAY *psa, LONG *rgIndices, void **ppvData);
OLEAUT_API HRESULT SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound);
OLEAUT_API HRESULT SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound);
OLEAUT_API HRESULT SafeArrayLock(SAFEARRAY *psa);
OLEAUT_API HRESULT SafeArrayUnlock(SAFEARRAY *psa);
OLEAUT_API HRESULT SafeArrayAccessData(SAFEARRAY *psa, void **ppvData);
OLEAUT_API HRESULT SafeArrayUnaccessData(SAFEARRAY *psa);
OLEAUT_API HRESULT SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut);

/* VARIANT */
OLEAUT_API void VariantInit(VARIANTARG *pvarg);
OLEAUT_API HRESULT VariantClear(VARIANTARG *pvarg);
OLEAUT_API HRESULT VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc);
OLEAUT_API HRESULT VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc,
                                     USHORT wFlags, VARTYPE vt);

#ifdef __cplusplus
}
#endif

#endif
