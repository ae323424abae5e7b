// RunVBScript and RunVBFunction called as a Visual Basic program calls them.
#include "no_dialogs.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using vbhost::Gbk;

class VbsExports : public ::testing::Test {
protected:
    // Dialogs must never appear in tests: without a display they answer by default.
    vbtest::NoDesktopDialogs guard_;
};

std::string Utf16(const VARIANT &v) {
    EXPECT_EQ(v.vt, VT_BSTR);
    if (v.vt != VT_BSTR || !v.bstrVal)
        return {};
    std::u16string w(reinterpret_cast<const char16_t *>(v.bstrVal), SysStringLen(v.bstrVal));
    std::string out;
    for (char16_t c : w) { // enough for the test texts: ASCII and BMP characters
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

TEST_F(VbsExports, RunVBScriptSuccessEmptyScriptAndMessages) {
    vbhost::String error("old text");
    vbhost::String script(Gbk("x = 1\r\ns = \"中文\"\r\nIf Len(s) <> 2 Then Err.Raise 5"));
    EXPECT_EQ(RunVBScript(script.ref(), error.ref()), 1);
    EXPECT_EQ(error.bytes(), "");

    vbhost::String empty(""), unset;
    EXPECT_EQ(RunVBScript(empty.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("没有要执行的代码！"));
    EXPECT_EQ(RunVBScript(unset.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("没有要执行的代码！"));
    EXPECT_EQ(RunVBScript(nullptr, nullptr), 0);

    vbhost::String one("x");
    EXPECT_EQ(RunVBScript(one.ref(), error.ref()), 1);
    EXPECT_EQ(error.bytes(), "");

    vbhost::String syntax("x = 1\r\ny = (1 +\r\n");
    EXPECT_EQ(RunVBScript(syntax.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("1023-行2发生错误。Expected expression"));

    vbhost::String runtime("a = 1\nb = 0\nc = a / b");
    EXPECT_EQ(RunVBScript(runtime.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("11-行3发生错误。Division by zero"));

    vbhost::String custom(Gbk("Err.Raise 1000, , \"出错了\""));
    EXPECT_EQ(RunVBScript(custom.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("1000-行1发生错误。出错了"));

    // RunVBScript does not allow user interface.
    vbhost::String dialog("MsgBox \"hi\"");
    EXPECT_EQ(RunVBScript(dialog.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("70-行1发生错误。Permission denied"));
}

TEST_F(VbsExports, RunVBFunctionReturnsValuesAndOwnsNothing) {
    vbhost::String script(Gbk("Function Greet(name, n)\r\n"
                              "  Greet = \"你好\" & name & n * 2\r\n"
                              "End Function\r\n"
                              "Function Pair() : Pair = Array(1, \"b\") : End Function\r\n"
                              "Class K : Public V : End Class\r\n"
                              "Function Obj() : Set Obj = New K : Obj.V = 7 : End Function\r\n"
                              "Function Ask() : Ask = MsgBox(\"ok?\") : End Function\r\n"));
    vbhost::String name("Greet"), error;
    vbhost::Array args;
    args.CreateVariants({{2, 0}});
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_BSTR;
    a.bstrVal = SysAllocString(reinterpret_cast<const OLECHAR *>(u"世界"));
    LONG i0 = 0, i1 = 1;
    SafeArrayPutElement(args.get(), &i0, &a);
    VariantClear(&a);
    a.vt = VT_I4;
    a.lVal = 21;
    SafeArrayPutElement(args.get(), &i1, &a);

    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(RunVBFunction(script.ref(), name.ref(), args.ref(), &result, error.ref()), 1);
    EXPECT_EQ(error.bytes(), "");
    EXPECT_EQ(Utf16(result), "你好世界42");
    VariantClear(&result);

    vbhost::String pair("Pair"), obj("Obj"), ask("Ask"), none;
    vbhost::Array noArgs;
    EXPECT_EQ(RunVBFunction(script.ref(), pair.ref(), noArgs.ref(), &result, error.ref()), 1);
    EXPECT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
    VariantClear(&result);
    // An object result stays valid after the call and is released by the caller.
    EXPECT_EQ(RunVBFunction(script.ref(), obj.ref(), noArgs.ref(), &result, error.ref()), 1);
    EXPECT_EQ(result.vt, VT_DISPATCH);
    EXPECT_NE(result.pdispVal, nullptr);
    // Handed back in as an argument: on Windows another engine calls it through IDispatch;
    // without COM it arrives as Nothing.
    vbhost::String isNothing("Function IsNo(o)\r\n"
                             "  If o Is Nothing Then IsNo = True Else IsNo = (o.V = 7)\r\n"
                             "End Function"),
        isNo("IsNo");
    vbhost::Array objArgs;
    objArgs.CreateVariants({{1, 0}});
    SafeArrayPutElement(objArgs.get(), &i0, &result);
    VariantClear(&result);
    EXPECT_EQ(RunVBFunction(isNothing.ref(), isNo.ref(), objArgs.ref(), &result, error.ref()), 1);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
    VariantClear(&result);
    // RunVBFunction allows user interface; without a display the dialog answers OK.
    EXPECT_EQ(RunVBFunction(script.ref(), ask.ref(), nullptr, &result, error.ref()), 1);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 1);
    VariantClear(&result);

    // A failure leaves the result as it was and reports the script error.
    result.vt = VT_I4;
    result.lVal = 123;
    vbhost::String missing("Nope");
    EXPECT_EQ(RunVBFunction(script.ref(), missing.ref(), noArgs.ref(), &result, error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("35-行0发生错误。Sub or Function not defined: 'Nope'"));
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 123);
    EXPECT_EQ(RunVBFunction(script.ref(), name.ref(), noArgs.ref(), &result, error.ref()), 0);
    EXPECT_EQ(error.bytes().rfind(Gbk("450-行1发生错误。"), 0), 0u);
    EXPECT_EQ(RunVBFunction(none.ref(), name.ref(), args.ref(), &result, error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("没有要执行的代码！"));
    EXPECT_EQ(RunVBFunction(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    vbhost::String bad("Function F(\r\n");
    EXPECT_EQ(RunVBFunction(bad.ref(), name.ref(), nullptr, nullptr, error.ref()), 0);
    EXPECT_EQ(error.bytes().rfind("10", 0), 0u) << error.bytes();
}

TEST_F(VbsExports, ByteArraysComeBackAsArraysOfBytes) {
    vbhost::String script(
        "Function Echo(b) : Echo = b : End Function\r\n"
        "Function Kind(b) : Kind = TypeName(b) & VarType(b) & LenB(b) : End Function");
    vbhost::String echo("Echo"), kind("Kind"), error;
    SAFEARRAY *bytes = SafeArrayCreateVector(VT_UI1, 0, 3);
    ASSERT_NE(bytes, nullptr);
    void *data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(bytes, &data), S_OK);
    static const unsigned char kBytes[3] = {0x00, 0x7F, 0xFF};
    std::memcpy(data, kBytes, 3);
    SafeArrayUnaccessData(bytes);
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_ARRAY | VT_UI1;
    arg.parray = bytes;
    vbhost::Array args;
    args.CreateVariants({{1, 0}});
    LONG i0 = 0;
    SafeArrayPutElement(args.get(), &i0, &arg);
    VariantClear(&arg);

    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(RunVBFunction(script.ref(), kind.ref(), args.ref(), &result, error.ref()), 1);
    EXPECT_EQ(Utf16(result), "Byte()82093");
    VariantClear(&result);
    ASSERT_EQ(RunVBFunction(script.ref(), echo.ref(), args.ref(), &result, error.ref()), 1);
    ASSERT_EQ(result.vt, VT_ARRAY | VT_UI1);
    LONG lb = -1, ub = -1;
    SafeArrayGetLBound(result.parray, 1, &lb);
    SafeArrayGetUBound(result.parray, 1, &ub);
    EXPECT_EQ(lb, 0);
    EXPECT_EQ(ub, 2);
    ASSERT_EQ(SafeArrayAccessData(result.parray, &data), S_OK);
    EXPECT_EQ(std::memcmp(data, kBytes, 3), 0);
    SafeArrayUnaccessData(result.parray);
    VariantClear(&result);
}

} // namespace
