// The Windows seams of the script host: the local clock and time zone, the stack bounds of a
// thread, the system threads of RunVBFunction_MT and the dialogs, which must never leave a
// script waiting where no window can be shown.
#include "corpus.h"
#include "no_dialogs.h"
#include "vbhost.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

namespace vbtest {
namespace {

using vbhost::Gbk;

double SerialOf(const SYSTEMTIME &t) {
    return makeDate(t.wYear, t.wMonth, t.wDay) +
           (t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0) / 86400.0;
}

double EngineNumber(std::u16string_view expression) {
    Interp in;
    Value v = in.evaluate(expression);
    return toDouble(in, v);
}

TEST(VbsWindowsClock, NowDateTimeAndTimerFollowTheLocalClock) {
    constexpr double kSecond = 1.0 / 86400.0;
    SYSTEMTIME before{}, after{};
    GetLocalTime(&before);
    const double now = EngineNumber(u"CDbl(Now)");
    const double date = EngineNumber(u"CDbl(Date)");
    const double time = EngineNumber(u"CDbl(Time)");
    const double timer = EngineNumber(u"Timer");
    GetLocalTime(&after);
    // Now drops the milliseconds: it lies between the two readings, a second of slack before.
    EXPECT_GE(now, SerialOf(before) - kSecond);
    EXPECT_LE(now, SerialOf(after));
    EXPECT_GE(date, std::floor(SerialOf(before)));
    EXPECT_LE(date, std::floor(SerialOf(after)));
    EXPECT_EQ(date, std::floor(date));
    EXPECT_GE(time, 0.0);
    EXPECT_LT(time, 1.0);
    const double beforeSeconds = (SerialOf(before) - std::floor(SerialOf(before))) * 86400.0;
    const double afterSeconds = (SerialOf(after) - std::floor(SerialOf(after))) * 86400.0;
    if (afterSeconds >= beforeSeconds) { // not across midnight
        EXPECT_GE(timer, beforeSeconds - 0.01);
        EXPECT_LE(timer, afterSeconds + 0.01);
    }
}

TEST(VbsWindowsClock, LocalTimeIsUtcShiftedByTheSystemTimeZone) {
    TIME_ZONE_INFORMATION zone{};
    const DWORD kind = GetTimeZoneInformation(&zone);
    ASSERT_NE(kind, TIME_ZONE_ID_INVALID);
    LONG bias = zone.Bias; // minutes to add to local time for UTC
    if (kind == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (kind == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    const double local = EngineNumber(u"CDbl(Now)");
    const double shiftMinutes = (local - SerialOf(utc)) * 1440.0;
    EXPECT_NEAR(shiftMinutes, -static_cast<double>(bias), 1.0)
        << "time zone bias " << bias << " minutes";
    // Calendar arithmetic stays the engine's own on every platform.
    ExpectCases({
        {"r = DateAdd(\"h\", 24, #2024-03-30 12:00#)", "2024/3/31 12:00:00"},
        {"r = DateDiff(\"d\", #2023-12-31#, #2024-03-01#)", "61"},
        {"r = Weekday(#2024-02-29#) & Day(DateSerial(2024, 2, 30))", "51"},
    });
}

TEST(VbsWindowsStack, SmallThreadsKnowTheirStackAndEndDeepRecursionInError28) {
    struct Probe {
        uintptr_t local = 0, low = 0, systemLow = 0;
        Outcome deep, shallow;
        static DWORD WINAPI Run(LPVOID p) {
            auto &self = *static_cast<Probe *>(p);
            char here = 0;
            self.local = reinterpret_cast<uintptr_t>(&here);
            self.low = threadStackLow();
            using Limits = void(WINAPI *)(PULONG_PTR, PULONG_PTR);
            if (const auto limits =
                    reinterpret_cast<Limits>(reinterpret_cast<void *>(GetProcAddress(
                        GetModuleHandleW(L"kernel32.dll"), "GetCurrentThreadStackLimits")))) {
                ULONG_PTR lowest = 0, highest = 0;
                limits(&lowest, &highest);
                self.systemLow = lowest;
            }
            self.deep = RunCode("Function F(n) : F = F(n + 1) : End Function\nr = F(0)");
            self.shallow =
                RunCode("Function G(n) : If n = 0 Then G = 0 Else G = 1 + G(n - 1)\nEnd Function\n"
                        "r = G(50)");
            return 0;
        }
    };
    constexpr size_t kStack = 768u << 10;
    Probe probe;
    HANDLE thread = CreateThread(nullptr, kStack, Probe::Run, &probe,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u); // the thread ended normally, not by a stack overflow
    ASSERT_NE(probe.low, 0u);
    EXPECT_LT(probe.low, probe.local);
    // The system rounds a reservation up (to 1 MiB under Wine); where it can say so itself, the
    // engine's bound is its lowest address exactly.
    EXPECT_LE(probe.local - probe.low, std::max<uintptr_t>(kStack, 1u << 20));
    if (probe.systemLow != 0) {
        EXPECT_EQ(probe.low, probe.systemLow);
    }
    EXPECT_FALSE(probe.deep.ok);
    EXPECT_EQ(probe.deep.number, 28) << probe.deep.message;
    EXPECT_TRUE(probe.shallow.ok) << probe.shallow.number << " " << probe.shallow.message;
    EXPECT_EQ(probe.shallow.text, "50");
}

// An object a function returns is a system COM object: IUnknown and IDispatch answer, other
// interfaces are refused, its members are found by name (com_automation_test.cpp calls them),
// and references are counted.
TEST(VbsWindowsObjects, ReturnedObjectsAreComObjectsThatKeepTheirEngine) {
    vbhost::String script("Class K : Public V : End Class\r\n"
                          "Function Make() : Set Make = New K : Make.V = 7 : End Function\r\n");
    vbhost::String name("Make"), error;
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(RunVBFunction(script.ref(), name.ref(), nullptr, &result, error.ref()), 1)
        << error.bytes();
    ASSERT_EQ(result.vt, VT_DISPATCH);
    ASSERT_NE(result.pdispVal, nullptr);
    IDispatch *object = result.pdispVal;
    IUnknown *unknown = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
    IDispatch *dispatch = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<void *>(dispatch), static_cast<void *>(unknown));
    void *stream = &stream;
    EXPECT_EQ(object->QueryInterface(IID_IStream, &stream), E_NOINTERFACE);
    EXPECT_EQ(stream, nullptr);
    UINT count = 7;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    OLECHAR member[] = L"V";
    LPOLESTR names[] = {member};
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_GT(id, 0);
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(dispatch->Release(), 1u);
    // A copy holds its own reference; clearing both frees the object.
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &result), S_OK);
    EXPECT_EQ(VariantClear(&result), S_OK);
    EXPECT_EQ(VariantClear(&copy), S_OK);
}

void PutVariant(SAFEARRAY *a, LONG row, LONG col, VARIANT v) {
    LONG idx[2] = {row, col};
    ASSERT_EQ(SafeArrayPutElement(a, idx, &v), S_OK);
    VariantClear(&v);
}

// More rows than one wait of the system covers, in three groups: every row has ended before
// its result is read, and each result lands in its own row.
TEST(VbsWindowsThreads, RowsBeyondOneWaitGroupAllFinishInTheirPlaces) {
    constexpr LONG kRows = 150;
    vbhost::Array calls, args, results;
    calls.CreateStrings({{static_cast<ULONG>(kRows), 0}, {3, 0}});
    args.CreateVariants({{static_cast<ULONG>(kRows), 0}, {2, 0}});
    results.CreateVariants({{static_cast<ULONG>(kRows), 0}});
    for (LONG i = 0; i < kRows; ++i) {
        calls.set({i, 0}, "Function Twice(n)\r\n  Dim k : For k = 1 To 300 : Next\r\n"
                          "  Twice = n * 2\r\nEnd Function\r\n");
        calls.set({i, 1}, i == 70 ? "Missing" : "Twice");
        VARIANT count{}, value{};
        count.vt = VT_I4;
        count.lVal = 1;
        value.vt = VT_I4;
        value.lVal = i;
        PutVariant(args.get(), i, 0, count);
        PutVariant(args.get(), i, 1, value);
    }
    ASSERT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), results.ref()), 1);
    for (LONG i = 0; i < kRows; ++i) {
        VARIANT r;
        VariantInit(&r);
        ASSERT_EQ(SafeArrayGetElement(results.get(), &i, &r), S_OK);
        EXPECT_EQ(r.vt, VT_I4) << i;
        if (i == 70) {
            EXPECT_NE(calls.at({i, 2}).value_or("?"), "OK");
            EXPECT_EQ(r.lVal, 1); // the failed row keeps its argument count
        } else {
            EXPECT_EQ(calls.at({i, 2}).value_or("?"), "OK") << i;
            EXPECT_EQ(r.lVal, i * 2) << i;
        }
        VariantClear(&r);
    }
}

// Runs `body` on its own thread; a dialog that waits for a user would block it, so the test
// gives it a minute and ends the process with a failure instead of hanging.
template <class Body> auto WithinAMinute(Body body) -> decltype(body()) {
    auto pending = std::async(std::launch::async, body);
    if (pending.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        ADD_FAILURE() << "a dialog kept the script waiting";
        std::_Exit(1);
    }
    return pending.get();
}

TEST(VbsWindowsDialogs, MessageAndInputBoxesNeverLeaveAScriptWaiting) {
    NoDesktopDialogs guard;
    const std::string answer = WithinAMinute([] {
        vbhost::String script("Function Ask()\r\n"
                              "  Ask = MsgBox(\"continue?\", vbYesNo + vbQuestion, \"kestrun\") & "
                              "\"|\" & InputBox(\"name?\", \"kestrun\", \"default\")\r\n"
                              "End Function\r\n");
        vbhost::String name("Ask"), error;
        vbhost::Array none;
        none.CreateVariants({{0, 0}});
        VARIANT result;
        VariantInit(&result);
        std::string text = "call failed";
        if (RunVBFunction(script.ref(), name.ref(), none.ref(), &result, error.ref()) == 1 &&
            result.vt == VT_BSTR) {
            char buffer[256] = {};
            WideCharToMultiByte(CP_UTF8, 0, result.bstrVal, -1, buffer, sizeof buffer - 1, nullptr,
                                nullptr);
            text = buffer;
        }
        VariantClear(&result);
        return text + error.bytes();
    });
    // Shown and confirmed with Enter, or not shown at all: the same answers.
    EXPECT_EQ(answer, "6|default");
}

// Where a window can be shown, MsgBox really shows one (owned by the caller's window) and
// returns the button the user pressed; InputBox returns the typed text.
TEST(VbsWindowsDialogs, DialogsShowAndReturnTheUsersChoice) {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    if (!probe)
        GTEST_SKIP() << "no window can be shown here (Wine without a display)";
    DestroyWindow(probe);
    std::atomic<bool> sawMessage{false}, sawInput{false}, stop{false};
    std::thread user([&] {
        while (!stop) {
            if (HWND box = FindWindowW(L"#32770", L"kestrun-ask")) {
                sawMessage = true;
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
            }
            if (HWND box = FindWindowW(L"#32770", L"kestrun-input")) {
                sawInput = true;
                SetDlgItemTextW(box, 100, L"typed");
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
            Sleep(20);
        }
    });
    const Outcome o = WithinAMinute([] {
        Interp in;
        in.allowUI = true;
        in.addCode(u"r = MsgBox(\"q\", vbYesNo, \"kestrun-ask\") & InputBox(\"p\", "
                   u"\"kestrun-input\", \"d\")");
        Outcome out;
        out.ok = true;
        out.text = u16ToUtf8(in.evaluate(u"r").s());
        return out;
    });
    stop = true;
    user.join();
    EXPECT_TRUE(sawMessage);
    EXPECT_TRUE(sawInput);
    EXPECT_EQ(o.text, "7typed");
}

} // namespace
} // namespace vbtest
