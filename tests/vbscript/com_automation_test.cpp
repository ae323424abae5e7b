// Scripts and COM on Windows: the system's automation objects driven from scripts
// (Scripting.FileSystemObject, Scripting.Dictionary, WScript.Shell, MSXML2.DOMDocument), their
// errors seen in Err, and objects a script returns driven by a C++ host through IDispatch.
#include "kestrun/automation/vbscript/host.h"
#include "kestrun/automation/vbscript/object_proxy.h"
#include "no_dialogs.h"
#include "vbhost.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrun::vbscript;

std::u16string Text(const Value &v) {
    return v.isString() ? v.s() : u"<not a string>";
}

std::string Narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

class ComAutomation : public ::testing::Test {
protected:
    // The host's calls set up COM for themselves; the test's own thread needs it too for the
    // objects it creates and calls.
    CallApartment apartment_;
    vbtest::NoDesktopDialogs dialogs_;

    // Runs `function` of `script` with `args`; the result's text, or the error message.
    std::string Call(const std::string &script, const std::string &function,
                     std::vector<Value> args = {}) {
        FunctionResult result;
        std::string error;
        if (RunFunction(script, function, std::move(args), result, error) != 1)
            return "error: " + error;
        return Narrow(Text(result.value));
    }
};

// A temporary folder, removed with everything in it.
struct TempFolder {
    TempFolder() {
        path = std::filesystem::temp_directory_path() /
               ("kestrun-com-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

// A system object created from the test, as a script argument.
Value SystemObject(const wchar_t *progId) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    IUnknown *unknown = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IUnknown,
                               reinterpret_cast<void **>(&unknown)),
              S_OK);
    if (!unknown)
        return Value::nothing();
    Value v = ObjectFromInterface(unknown, nullptr);
    unknown->Release();
    return v;
}

TEST_F(ComAutomation, FileSystemObjectFilesFoldersAndForEach) {
    TempFolder dir;
    const std::string script = R"(
Function Files(dir)
  Set fso = CreateObject("Scripting.FileSystemObject")
  Set f = fso.CreateTextFile(fso.BuildPath(dir, "a.txt"), True)
  f.WriteLine "first line"
  f.Write "second"
  f.Close
  fso.CreateTextFile(dir & "\b.log", True).Close
  Set f = fso.OpenTextFile(dir & "\a.txt", 1)
  line1 = f.ReadLine
  rest = f.ReadAll
  f.Close
  names = ""
  For Each file In fso.GetFolder(dir).Files
    If InStr(names, file.Name) = 0 Then names = names & "[" & file.Name & "]"
  Next
  Files = line1 & "|" & rest & "|" & fso.GetFolder(dir).Files.Count & "|" & _
          (InStr(names, "[a.txt]") > 0) & (InStr(names, "[b.log]") > 0) & "|" & _
          fso.FileExists(dir & "\a.txt") & fso.FolderExists(dir & "\none") & "|" & _
          TypeName(fso) & "|" & fso.GetExtensionName("x\y.txt")
End Function
)";
    EXPECT_EQ(Call(script, "Files", {Value::str(dir.path.u16string())}),
              "first line|second|2|TrueTrue|TrueFalse|FileSystemObject|txt");
}

TEST_F(ComAutomation, ErrorsOfObjectsReachErr) {
    const std::string script = R"(
Function Errors()
  Set fso = CreateObject("Scripting.FileSystemObject")
  On Error Resume Next
  Set f = fso.OpenTextFile("C:\kestrun-no-such-folder\x.txt", 1)
  r = Err.Number & "|" & (Len(Err.Description) > 0)
  Err.Clear
  fso.NoSuchMember 1
  r = r & "|" & Err.Number & "|" & Err.Description
  Err.Clear
  Set o = CreateObject("Kestrun.NoSuchClass")
  r = r & "|" & Err.Number & "|" & Err.Description
  Err.Clear
  Set o = GetObject(, "Scripting.Dictionary")
  r = r & "|" & Err.Number
  Errors = r
End Function
)";
    EXPECT_EQ(Call(script, "Errors"),
              "76|True|438|Object doesn't support this property or method: 'nosuchmember'|"
              "429|ActiveX component can't create object: 'Kestrun.NoSuchClass'|429");
}

TEST_F(ComAutomation, ShellAndXml) {
    SetEnvironmentVariableW(L"KESTRUN_COM_TEST", L"value 42");
    const std::string script = R"(
Function Shell()
  Set sh = CreateObject("WScript.Shell")
  ' Wine's WScript.Shell keeps the terminating zero of the expanded text; Windows does not.
  Shell = Replace(sh.ExpandEnvironmentStrings("<%KESTRUN_COM_TEST%>"), Chr(0), "") & "|" & _
          sh.Run("cmd /c exit 3", 0, True)
End Function
Function Xml()
  Set doc = CreateObject("MSXML2.DOMDocument")
  doc.async = False
  ok = doc.loadXML("<root><item id='1'>one</item><item id='2'>two</item></root>")
  s = ok & "|" & doc.selectSingleNode("/root/item[@id='2']").text
  For Each node In doc.documentElement.childNodes
    s = s & "|" & node.getAttribute("id") & "=" & node.text
  Next
  Xml = s
End Function
)";
    EXPECT_EQ(Call(script, "Shell"), "<value 42>|3");
    EXPECT_EQ(Call(script, "Xml"), "True|two|1=one|2=two");
}

// GetObject with a path binds the object its moniker names: here the system's management
// service, queried for the running process.
TEST_F(ComAutomation, GetObjectBindsMonikers) {
    const std::string script = R"(
Function Query()
  Set wmi = GetObject("winmgmts:\\.\root\cimv2")
  n = 0
  For Each p In wmi.ExecQuery("SELECT * FROM Win32_Process WHERE Name = 'vbscript_com_test.exe'")
    n = n + 1
    name = p.Name
  Next
  Query = n & "|" & LCase(name)
End Function
)";
    EXPECT_EQ(Call(script, "Query"), "1|vbscript_com_test.exe");
}

// A system Dictionary given to the script: members with arguments, the default member, Let with
// arguments, For Each over its keys, and script objects stored in it coming back as themselves.
TEST_F(ComAutomation, SystemDictionaryAsArgument) {
    const std::string script = R"(
Class Box : Public V : End Class
Function UseDict(d)
  d.Add "a", 1
  d.Add "b", 2
  d.Item("a") = 10
  d("b") = d("b") + 5
  keys = ""
  For Each k In d
    keys = keys & k
  Next
  Set box = New Box
  box.V = 3
  Set d("box") = box
  same = d("box") Is box
  d("box").V = 4
  UseDict = keys & "|" & d.Count & "|" & d("a") & "|" & d.Item("b") & "|" & d.Exists("b") & _
            "|" & same & "|" & box.V & "|" & TypeName(d)
End Function
)";
    Value dict = SystemObject(L"Scripting.Dictionary");
    ASSERT_TRUE(dict.o());
    EXPECT_EQ(Call(script, "UseDict", {dict}), "ab|3|10|7|True|True|4|Dictionary");
}

// ---- a C++ host calling a returned script object through IDispatch

const char kCounterScript[] = R"(
Class Counter
  Public Total
  Private bag
  Private Sub Class_Initialize
    Total = 0
    Set bag = CreateObject("Scripting.Dictionary")
    bag.Add "x", 1
    bag.Add "y", 2
  End Sub
  Public Default Function Item(key)
    Item = bag(key)
  End Function
  Public Function Add(a, b)
    Add = a + b
    Total = Total + 1
  End Function
  Public Sub Bump(ByRef n)
    n = n + 1
  End Sub
  Public Sub Fail
    Err.Raise vbObjectError + 7, "Counter", "it failed"
  End Sub
  Public Property Get Bag2
    Set Bag2 = bag
  End Property
End Class
Function Make()
  Set Make = New Counter
End Function
Function Twice(o)
  n = 5
  o.Bump n
  Twice = o.Add(n, 1) & "|" & o.Total & "|" & o("y")
  On Error Resume Next
  o.Fail
  Twice = Twice & "|" & Hex(Err.Number) & "|" & Err.Source & "|" & Err.Description
End Function
)";

DISPID IdOf(IDispatch *d, const wchar_t *name) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
    return id;
}

// Invokes with arguments in call order (reversed into DISPPARAMS here).
HRESULT Invoke(IDispatch *d, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT *result,
               EXCEPINFO *excep = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<UINT>(reversed.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        // The assigned value is the last argument given, first in rgvarg.
        params.rgdispidNamedArgs = &put;
        params.cNamedArgs = 1;
    }
    if (result)
        VariantInit(result);
    EXCEPINFO local{};
    HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                           excep ? excep : &local, nullptr);
    for (auto &a : args)
        VariantClear(&a);
    SysFreeString(local.bstrSource);
    SysFreeString(local.bstrDescription);
    SysFreeString(local.bstrHelpFile);
    return hr;
}

VARIANT Long(int32_t n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}
VARIANT Str(const wchar_t *s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
}
int32_t AsLong(VARIANT &v) {
    VARIANT l;
    VariantInit(&l);
    int32_t n = VariantChangeType(&l, &v, 0, VT_I4) == S_OK ? l.lVal : -999999;
    VariantClear(&v);
    return n;
}
std::wstring AsText(BSTR b) {
    return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
}

TEST_F(ComAutomation, HostCallsReturnedObjectThroughIDispatch) {
    vbhost::String script(kCounterScript), make("Make"), error;
    VARIANT counterVar;
    VariantInit(&counterVar);
    ASSERT_EQ(RunVBFunction(script.ref(), make.ref(), nullptr, &counterVar, error.ref()), 1)
        << error.bytes();
    ASSERT_EQ(counterVar.vt, VT_DISPATCH);
    // The call is over; the reference keeps the object and its engine alive.
    IDispatch *counter = counterVar.pdispVal;

    VARIANT r;
    const DISPID add = IdOf(counter, L"Add"), total = IdOf(counter, L"TOTAL");
    EXPECT_EQ(IdOf(counter, L"add"), add); // names are case-insensitive, numbers stable
    LPOLESTR unknown[1] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID none = 0;
    EXPECT_EQ(counter->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &none),
              DISP_E_UNKNOWNNAME);

    EXPECT_EQ(Invoke(counter, add, DISPATCH_METHOD, {Long(2), Long(3)}, &r), S_OK);
    EXPECT_EQ(AsLong(r), 5);
    EXPECT_EQ(Invoke(counter, total, DISPATCH_PROPERTYGET, {}, &r), S_OK);
    EXPECT_EQ(AsLong(r), 1);
    EXPECT_EQ(Invoke(counter, total, DISPATCH_PROPERTYPUT, {Long(40)}, nullptr), S_OK);
    EXPECT_EQ(Invoke(counter, total, DISPATCH_PROPERTYGET, {}, &r), S_OK);
    EXPECT_EQ(AsLong(r), 40);
    // The default member, with an argument.
    EXPECT_EQ(
        Invoke(counter, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Str(L"y")}, &r),
        S_OK);
    EXPECT_EQ(AsLong(r), 2);
    // ByRef: the host's variable changes.
    LONG n = 9;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = &n;
    EXPECT_EQ(Invoke(counter, IdOf(counter, L"Bump"), DISPATCH_METHOD, {ref}, nullptr), S_OK);
    EXPECT_EQ(n, 10);

    // A script error: DISP_E_EXCEPTION with the error's HRESULT, source and description.
    EXCEPINFO excep{};
    EXPECT_EQ(Invoke(counter, IdOf(counter, L"Fail"), DISPATCH_METHOD, {}, nullptr, &excep),
              DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<uint32_t>(excep.scode), 0x80040007u);
    EXPECT_EQ(AsText(excep.bstrSource), L"Counter");
    EXPECT_EQ(AsText(excep.bstrDescription), L"it failed");
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);

    // For Each over a returned Dictionary: DISPID_NEWENUM gives an IEnumVARIANT of its keys.
    EXPECT_EQ(Invoke(counter, IdOf(counter, L"Bag2"), DISPATCH_PROPERTYGET, {}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_DISPATCH);
    IDispatch *bag = r.pdispVal;
    VARIANT e;
    ASSERT_EQ(Invoke(bag, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &e), S_OK);
    ASSERT_TRUE(e.vt == VT_UNKNOWN || e.vt == VT_DISPATCH);
    IEnumVARIANT *items = nullptr;
    ASSERT_EQ(e.punkVal->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void **>(&items)), S_OK);
    VariantClear(&e);
    std::wstring keys;
    VARIANT item;
    ULONG got = 0;
    while (items->Next(1, &item, &got) == S_OK && got == 1) {
        keys += item.vt == VT_BSTR ? AsText(item.bstrVal) : L"?";
        VariantClear(&item);
    }
    items->Release();
    EXPECT_EQ(keys, L"xy");

    // Another thread is refused instead of racing the engine.
    HRESULT fromThread = S_OK;
    std::thread([&] {
        VARIANT out;
        fromThread = Invoke(counter, add, DISPATCH_METHOD, {Long(1), Long(1)}, &out);
    }).join();
    EXPECT_EQ(fromThread, RPC_E_WRONG_THREAD);

    // Handed to another script, the object is called through IDispatch there: ByRef arguments,
    // the default member, and its error with number, source and description in Err.
    vbhost::String twice("Twice");
    vbhost::Array args;
    args.CreateVariants({{1, 0}});
    LONG i0 = 0;
    SafeArrayPutElement(args.get(), &i0, &counterVar);
    VARIANT text;
    VariantInit(&text);
    ASSERT_EQ(RunVBFunction(script.ref(), twice.ref(), args.ref(), &text, error.ref()), 1)
        << error.bytes();
    ASSERT_EQ(text.vt, VT_BSTR);
    EXPECT_EQ(AsText(text.bstrVal), L"7|41|2|80040007|Counter|it failed");
    VariantClear(&text);

    // A callback: this script hands one of its objects to another engine's object, which
    // calls it back while the first script is still running.
    vbhost::String callerScript(
        "Class Caller\r\n"
        "  Function CallBack(cb) : CallBack = cb.Add(20, 22) : End Function\r\n"
        "End Class\r\n"
        "Function MakeCaller() : Set MakeCaller = New Caller : End Function\r\n"),
        makeCaller("MakeCaller"), useCaller("UseCaller");
    VARIANT callerVar;
    VariantInit(&callerVar);
    ASSERT_EQ(RunVBFunction(callerScript.ref(), makeCaller.ref(), nullptr, &callerVar, error.ref()),
              1)
        << error.bytes();
    vbhost::String userScript(std::string(kCounterScript) +
                              "Function UseCaller(c)\r\n"
                              "  Set k = New Counter\r\n"
                              "  UseCaller = c.CallBack(k) & \"|\" & k.Total\r\n"
                              "End Function\r\n");
    SafeArrayPutElement(args.get(), &i0, &callerVar);
    VariantClear(&callerVar);
    ASSERT_EQ(RunVBFunction(userScript.ref(), useCaller.ref(), args.ref(), &text, error.ref()), 1)
        << error.bytes();
    ASSERT_EQ(text.vt, VT_BSTR);
    EXPECT_EQ(AsText(text.bstrVal), L"42|1");
    VariantClear(&text);

    bag->Release();
    VariantClear(&counterVar); // the last reference: the engine goes away
}

TEST_F(ComAutomation, ParallelRunnerResultsBelongToTheCaller) {
    vbhost::Array calls, args, results;
    calls.CreateStrings({{2, 0}, {3, 0}});
    args.CreateVariants({{2, 0}, {1, 0}});
    results.CreateVariants({{2, 0}});
    for (long row = 0; row < 2; ++row) {
        calls.set({row, 0}, kCounterScript);
        calls.set({row, 1}, "Make");
    }
    ASSERT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), results.ref()), 1);
    for (long row = 0; row < 2; ++row) {
        EXPECT_EQ(calls.at({row, 2}).value_or(""), "OK");
        VARIANT obj;
        VariantInit(&obj);
        LONG i = row;
        ASSERT_EQ(SafeArrayGetElement(results.get(), &i, &obj), S_OK);
        ASSERT_EQ(obj.vt, VT_DISPATCH);
        VARIANT r;
        EXPECT_EQ(Invoke(obj.pdispVal, IdOf(obj.pdispVal, L"Add"), DISPATCH_METHOD,
                         {Long(row), Long(1)}, &r),
                  S_OK);
        EXPECT_EQ(AsLong(r), row + 1);
        VariantClear(&obj);
    }
}

} // namespace
