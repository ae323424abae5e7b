// RunVBFunction and RunVBFunction_MT given what a careless or hostile host can pass: VARIANTs
// that refer to themselves, arrays of the wrong shape or element type, a result variable that
// holds a locked array.
#include "no_dialogs.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vbhost::Gbk;

const char *kScript = "Function Inc(a) : Inc = a + 1 : End Function\r\n"
                      "Function Mul(a, b) : Mul = a * b : End Function\r\n"
                      "Function Zero() : Zero = \"none\" : End Function\r\n";

VARIANT Long(int32_t x) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = x;
    return v;
}

VARIANT *Slot(SAFEARRAY *a, std::initializer_list<LONG> indices) {
    std::vector<LONG> idx(indices);
    void *p = nullptr;
    EXPECT_EQ(SafeArrayPtrOfIndex(a, idx.data(), &p), S_OK);
    return static_cast<VARIANT *>(p);
}

void Put(SAFEARRAY *a, std::initializer_list<LONG> indices, VARIANT v) {
    std::vector<LONG> idx(indices);
    ASSERT_EQ(SafeArrayPutElement(a, idx.data(), &v), S_OK);
    VariantClear(&v);
}

class VbsHostileArguments : public ::testing::Test {
protected:
    vbtest::NoDesktopDialogs guard_;
};

TEST_F(VbsHostileArguments, ByReferenceChainsAreFollowedToAFixedDepth) {
    vbhost::String script(kScript), inc("Inc"), error;
    vbhost::Array args;
    args.CreateVariants({{1, 0}});
    VARIANT *slot = Slot(args.get(), {0});

    // A short chain of references reaches its value.
    VARIANT last = Long(41);
    VARIANT middle;
    VariantInit(&middle);
    middle.vt = VT_BYREF | VT_VARIANT;
    middle.pvarVal = &last;
    slot->vt = VT_BYREF | VT_VARIANT;
    slot->pvarVal = &middle;
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(RunVBFunction(script.ref(), inc.ref(), args.ref(), &result, error.ref()), 1);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);

    // A VARIANT that refers to itself is a type mismatch, not a stack overflow.
    slot->pvarVal = slot;
    EXPECT_EQ(RunVBFunction(script.ref(), inc.ref(), args.ref(), &result, error.ref()), 0);
    EXPECT_EQ(error.bytes().substr(0, 3), "13-") << error.bytes();
    EXPECT_EQ(result.lVal, 42); // untouched by the failed call

    // As the argument count of a row of the parallel runner: no arguments.
    vbhost::Array calls, rowArgs, results;
    calls.CreateStrings({{1, 0}, {3, 0}});
    calls.set({0, 0}, kScript);
    calls.set({0, 1}, "Zero");
    rowArgs.CreateVariants({{1, 0}, {2, 0}});
    VARIANT *count = Slot(rowArgs.get(), {0, 0});
    count->vt = VT_BYREF | VT_VARIANT;
    count->pvarVal = count;
    results.CreateVariants({{1, 0}});
    EXPECT_EQ(RunVBFunction_MT(calls.ref(), rowArgs.ref(), results.ref()), 1);
    EXPECT_EQ(calls.at({0, 2}).value_or(""), "OK");
    count->vt = VT_EMPTY; // before the array goes: the self-reference is the test's own
}

TEST_F(VbsHostileArguments, StringArgumentsOfAnyShapeAreReadAsAnsiText) {
    // A String() array of two dimensions: its elements, in memory order, as GBK text.
    const char *script = "Function Join2(a, b) : Join2 = Len(a) & \",\" & a & b : End Function";
    vbhost::String code(script), name("Join2"), error;
    vbhost::Array args;
    args.CreateStrings({{1, 0}, {2, 0}});
    args.set({0, 0}, Gbk("中文"));
    args.set({0, 1}, "x");
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(RunVBFunction(code.ref(), name.ref(), args.ref(), &result, error.ref()), 1)
        << error.bytes();
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(result.bstrVal)),
              u"2,\u4E2D\u6587x");
    VariantClear(&result);
}

TEST_F(VbsHostileArguments, AResultVariableHoldingALockedArrayIsKept) {
    vbhost::String script(kScript), zero("Zero"), error;
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_ARRAY | VT_VARIANT;
    result.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    SAFEARRAY *held = result.parray;
    ASSERT_EQ(SafeArrayLock(held), S_OK);
    EXPECT_EQ(RunVBFunction(script.ref(), zero.ref(), nullptr, &result, error.ref()), 0);
    EXPECT_EQ(error.bytes().substr(0, 3), "10-") << error.bytes();
    EXPECT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(result.parray, held);
    ASSERT_EQ(SafeArrayUnlock(held), S_OK);
    // Unlocked, the same call replaces it.
    EXPECT_EQ(RunVBFunction(script.ref(), zero.ref(), nullptr, &result, error.ref()), 1);
    EXPECT_EQ(result.vt, VT_BSTR);
    VariantClear(&result);
}

TEST_F(VbsHostileArguments, ParallelRunnerArraysOfTheWrongShapeOrType) {
    vbhost::Array calls;
    calls.CreateStrings({{2, 0}, {3, 0}});
    for (LONG i = 0; i < 2; ++i) {
        calls.set({i, 0}, kScript);
        calls.set({i, 1}, "Mul");
    }
    // Results of two or three dimensions receive nothing; the calls still run.
    for (const unsigned dims : {2u, 3u}) {
        vbhost::Array args;
        args.CreateVariants({{2, 0}, {3, 0}});
        for (LONG i = 0; i < 2; ++i) {
            Put(args.get(), {i, 0}, Long(2));
            Put(args.get(), {i, 1}, Long(i + 2));
            Put(args.get(), {i, 2}, Long(10));
        }
        SAFEARRAYBOUND bounds[3] = {{2, 0}, {2, 0}, {2, 0}};
        SAFEARRAY *results = SafeArrayCreate(VT_VARIANT, dims, bounds);
        EXPECT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), &results), 1) << dims;
        EXPECT_EQ(calls.at({1, 2}).value_or(""), "OK");
        EXPECT_EQ(Slot(results, dims == 2 ? std::initializer_list<LONG>{0, 0}
                                          : std::initializer_list<LONG>{0, 0, 0})
                      ->vt,
                  VT_EMPTY);
        SafeArrayDestroy(results);
    }

    // Arguments of three dimensions read as Empty: Mul(Empty, Empty) is 0.
    vbhost::Array cube, results;
    SAFEARRAYBOUND three[3] = {{2, 0}, {3, 0}, {2, 0}};
    *cube.ref() = SafeArrayCreate(VT_VARIANT, 3, three);
    results.CreateVariants({{2, 0}});
    EXPECT_EQ(RunVBFunction_MT(calls.ref(), cube.ref(), results.ref()), 1);
    EXPECT_NE(calls.at({0, 2}).value_or("OK"), "OK"); // Mul called without its arguments

    // A String() arguments array: each field's text, as a VARIANT string.
    vbhost::Array texts;
    texts.CreateStrings({{2, 0}, {3, 0}});
    for (LONG i = 0; i < 2; ++i) {
        texts.set({i, 0}, "2");
        texts.set({i, 1}, "6");
        texts.set({i, 2}, std::to_string(i + 3));
    }
    EXPECT_EQ(RunVBFunction_MT(calls.ref(), texts.ref(), results.ref()), 1);
    EXPECT_EQ(calls.at({1, 2}).value_or(""), "OK");
    VARIANT *second = Slot(results.get(), {1});
    ASSERT_EQ(second->vt, VT_R8);
    EXPECT_EQ(second->dblVal, 24.0);

    // Calls in a Variant() array are refused whole: nothing read, nothing written.
    vbhost::Array variantCalls;
    variantCalls.CreateVariants({{2, 0}, {3, 0}});
    EXPECT_EQ(RunVBFunction_MT(variantCalls.ref(), texts.ref(), results.ref()), 0);
    EXPECT_EQ(Slot(variantCalls.get(), {0, 2})->vt, VT_EMPTY);
}

} // namespace
