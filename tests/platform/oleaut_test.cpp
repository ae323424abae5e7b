#include "oleauto.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace {

std::u16string Text(BSTR b) {
    return std::u16string(reinterpret_cast<const char16_t *>(b), SysStringLen(b));
}

TEST(Bstr, LayoutHoldsByteCountDataAndTwoZeroBytes) {
    BSTR b = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(b, nullptr);
    uint32_t count = 0;
    std::memcpy(&count, reinterpret_cast<const char *>(b) - 4, 4);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(SysStringByteLen(b), 3u);
    EXPECT_EQ(SysStringLen(b), 1u); // whole 16-bit units only
    const auto *bytes = reinterpret_cast<const unsigned char *>(b);
    EXPECT_EQ(std::memcmp(bytes, "abc", 3), 0);
    EXPECT_EQ(bytes[3], 0);
    EXPECT_EQ(bytes[4], 0);
    SysFreeString(b);
    SysFreeString(nullptr);

    BSTR zeros = SysAllocStringByteLen(nullptr, 5);
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(SysStringByteLen(zeros), 5u);
    SysFreeString(zeros);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    BSTR wide = SysAllocString(reinterpret_cast<const OLECHAR *>(u"h\u00e9"));
    EXPECT_EQ(Text(wide), u"h\u00e9");
    EXPECT_EQ(SysStringByteLen(wide), 4u);
    SysFreeString(wide);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(SafeArray, SubscriptsFollowCreationOrderAndBoundsAreStoredReversed) {
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 1}}; // rows 0..2, columns 1..2
    SAFEARRAY *psa = SafeArrayCreate(VT_BSTR, 2, bounds);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(psa), 2u);
    EXPECT_EQ(psa->cbElements, sizeof(BSTR));
    EXPECT_EQ(psa->rgsabound[1].cElements, 3u); // first dimension last, as on Windows
    EXPECT_EQ(psa->rgsabound[0].cElements, 2u);
    LONG lo = -1, hi = -1;
    EXPECT_EQ(SafeArrayGetLBound(psa, 2, &lo), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(psa, 2, &hi), S_OK);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 2);
    EXPECT_EQ(SafeArrayGetUBound(psa, 3, &hi), DISP_E_BADINDEX);

    LONG idx[2] = {2, 1};
    BSTR value = SysAllocStringByteLen("cell", 4);
    ASSERT_EQ(SafeArrayPutElement(psa, idx, value), S_OK);
    SysFreeString(value); // the array holds its own copy

    // The first subscript varies fastest: (2,1) is the third element of the data block.
    BSTR *data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void **>(&data)), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(data[2])), "cell");
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);

    BSTR copy = nullptr;
    ASSERT_EQ(SafeArrayGetElement(psa, idx, &copy), S_OK);
    EXPECT_NE(copy, data[2]); // a deep copy
    EXPECT_EQ(SysStringByteLen(copy), 4u);
    SysFreeString(copy);

    LONG outside[2] = {3, 1};
    EXPECT_EQ(SafeArrayGetElement(psa, outside, &copy), DISP_E_BADINDEX);
    LONG belowLower[2] = {0, 0};
    EXPECT_EQ(SafeArrayPutElement(psa, belowLower, nullptr), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayCreate(VT_BSTR, 0, bounds), nullptr);
}

TEST(SafeArray, VariantElementsAreCopiedDeeply) {
    SAFEARRAYBOUND bound{2, 0};
    SAFEARRAY *psa = SafeArrayCreate(VT_VARIANT, 1, &bound);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->cbElements, 24u);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(reinterpret_cast<const OLECHAR *>(u"x"));
    LONG i = 1;
    ASSERT_EQ(SafeArrayPutElement(psa, &i, &v), S_OK);
    VariantClear(&v);

    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(SafeArrayGetElement(psa, &i, &out), S_OK);
    EXPECT_EQ(V_VT(&out), VT_BSTR);
    EXPECT_EQ(Text(V_BSTR(&out)), u"x");

    // A variant holding the array copies the array and its strings.
    VARIANT holder;
    VariantInit(&holder);
    V_VT(&holder) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&holder) = psa;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &holder), S_OK);
    EXPECT_NE(V_ARRAY(&copy), psa);
    VariantClear(&holder); // destroys psa
    VARIANT again;
    VariantInit(&again);
    ASSERT_EQ(SafeArrayGetElement(V_ARRAY(&copy), &i, &again), S_OK);
    EXPECT_EQ(Text(V_BSTR(&again)), u"x");
    VariantClear(&again);
    VariantClear(&copy);
    VariantClear(&out);
}

TEST(Variant, HasTheWindowsX64Layout) {
    EXPECT_EQ(sizeof(VARIANT), 24u);
    EXPECT_EQ(offsetof(VARIANT, vt), 0u);
    EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
    EXPECT_EQ(sizeof(SAFEARRAYBOUND), 8u);
}

std::u16string AsText(VARIANT &src, USHORT flags = 0) {
    VARIANT dst;
    VariantInit(&dst);
    EXPECT_EQ(VariantChangeType(&dst, &src, flags, VT_BSTR), S_OK);
    std::u16string text = V_VT(&dst) == VT_BSTR ? Text(V_BSTR(&dst)) : u"<not a string>";
    VariantClear(&dst);
    return text;
}

TEST(Variant, ChangeTypeToStringFormatsNumbersBooleansAndEmpty) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(AsText(v), u"");
    V_VT(&v) = VT_I4;
    V_I4(&v) = -42;
    EXPECT_EQ(AsText(v), u"-42");
    V_VT(&v) = VT_R8;
    V_R8(&v) = 0.1;
    EXPECT_EQ(AsText(v), u"0.1");
    V_R8(&v) = 1.0 / 3.0;
    EXPECT_EQ(AsText(v), u"0.333333333333333");
    V_R8(&v) = 1e20;
    EXPECT_EQ(AsText(v), u"1E+20");
    V_R8(&v) = 2.5;
    EXPECT_EQ(AsText(v), u"2.5");
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = VARIANT_TRUE;
    EXPECT_EQ(AsText(v), u"-1");
    EXPECT_EQ(AsText(v, VARIANT_ALPHABOOL), u"True");
    V_VT(&v) = VT_CY;
    V_CY(&v).int64 = 123450;
    EXPECT_EQ(AsText(v), u"12.345");
    V_VT(&v) = VT_DATE;
    V_DATE(&v) = 45000.5;
    EXPECT_EQ(AsText(v), u"2023/3/15 12:00:00");

    V_VT(&v) = VT_NULL;
    VARIANT dst;
    VariantInit(&dst);
    EXPECT_EQ(VariantChangeType(&dst, &v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);

    // In place, and from text to a number.
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(reinterpret_cast<const OLECHAR *>(u" 12.5 "));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(V_VT(&v), VT_I4);
    EXPECT_EQ(V_I4(&v), 12); // half to even
    V_VT(&v) = VT_R8;
    V_R8(&v) = 3e10;
    EXPECT_EQ(VariantChangeType(&dst, &v, 0, VT_I4), DISP_E_OVERFLOW);
}

} // namespace
