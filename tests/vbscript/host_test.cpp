// The host logic over GBK byte strings (no boundary types), and the engine against hostile
// input: random token soup must end in a value or a script error, never a crash or a hang.
#include "kestrun/automation/vbscript/host.h"
#include "kestrun/interop/codepage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrun::vbscript;
using kestrun::interop::Utf8ToAnsi;

TEST(VbsHost, RunScriptReportsLineNumberAndDescriptionInGbk) {
    std::string error = "stale";
    EXPECT_EQ(RunScript("x = 1", error), 1);
    EXPECT_EQ(error, "");
    EXPECT_EQ(RunScript("", error), 0);
    EXPECT_EQ(error, kNoCodeMessage);
    EXPECT_EQ(RunScript("Option Explicit\r\nDim a\r\nb = 2", error), 0);
    EXPECT_EQ(error, Utf8ToAnsi("500-行3发生错误。Variable is undefined: 'b'"));
    EXPECT_EQ(RunScript(Utf8ToAnsi("x = \"中文\"\r\nIf Len(x) = 2 Then Err.Raise 6"), error), 0);
    EXPECT_EQ(error, Utf8ToAnsi("6-行2发生错误。Overflow"));
    ScriptErrorRecord record{-2147221503, u"\u4E2D", 7};
    EXPECT_EQ(ScriptErrorMessage(record), Utf8ToAnsi("-2147221503-行7发生错误。中"));
}

TEST(VbsHost, AscAndChrUseTheAnsiCodePage) {
    FunctionResult result;
    std::string error;
    ASSERT_EQ(RunFunction(Utf8ToAnsi("Function F : F = Asc(\"中\") & \",\" & Chr(-10544) & "
                                     "Chr(65) & \",\" & Asc(\"A\") : End Function"),
                          "F", {}, result, error),
              1)
        << error;
    EXPECT_EQ(result.value.s(), u"-10544,\u4E2DA,65");
}

TEST(VbsHost, RunFunctionKeepsObjectsAliveWithTheirEngine) {
    FunctionResult result;
    std::string error;
    const char *script = "Class P\r\nPublic Name\r\nEnd Class\r\n"
                         "Function Make(n)\r\nSet Make = New P\r\nMake.Name = n\r\nEnd Function";
    ASSERT_EQ(RunFunction(script, "Make", {Value::str(u"kestrun")}, result, error), 1) << error;
    ASSERT_TRUE(result.value.isObject());
    // The engine that ran the call is gone from the caller's view, but the object still works.
    Value name = result.value.o()->get(*result.engine, u"name", {});
    EXPECT_EQ(name.s(), u"kestrun");

    FunctionResult untouched;
    untouched.value = Value::lng(5);
    EXPECT_EQ(RunFunction(script, "Make", {}, untouched, error), 0);
    EXPECT_EQ(error, Utf8ToAnsi("450-行4发生错误。Wrong number of arguments or invalid property "
                                "assignment: 'Make'"));
    EXPECT_EQ(untouched.value.l(), 5);
    EXPECT_EQ(RunFunction(script, "Make", {Value::lng(1)}, untouched, error, false), 1);
    EXPECT_EQ(
        RunFunction("Function F : F = MsgBox(1) : End Function", "F", {}, untouched, error, false),
        0);
    EXPECT_EQ(error, Utf8ToAnsi("70-行1发生错误。Permission denied"));
}

TEST(VbsHost, EnginesOnDifferentCallsShareNothing) {
    FunctionResult a, b;
    std::string error;
    ASSERT_EQ(RunFunction("Dim n\r\nFunction Bump : n = n + 1 : Bump = n : End Function", "Bump",
                          {}, a, error),
              1);
    ASSERT_EQ(RunFunction("Dim n\r\nFunction Bump : n = n + 1 : Bump = n : End Function", "Bump",
                          {}, b, error),
              1);
    EXPECT_EQ(a.value.intValue(), 1);
    EXPECT_EQ(b.value.intValue(), 1);
    EXPECT_NE(a.engine.get(), b.engine.get());
}

TEST(VbsHost, RandomTokenSoupNeverCrashes) {
    // No loop keywords: every program ends (recursion is bounded by the engine).
    const std::vector<std::string> tokens = {
        "x",
        "y",
        "f",
        "(",
        ")",
        ",",
        "=",
        "+",
        "-",
        "*",
        "/",
        "\\",
        "^",
        "&",
        "<",
        ">",
        "<>",
        "Mod",
        "And",
        "Or",
        "Not",
        "1",
        "0",
        "2.5",
        "\"s\"",
        "#1/1/2000#",
        "If",
        "Then",
        "Else",
        "End",
        "Function",
        "Sub",
        "Dim",
        "ReDim",
        "Set",
        "Nothing",
        "New",
        "Class",
        "Me",
        ".",
        ":",
        "\r\n",
        "Call",
        "Exit",
        "Select",
        "Case",
        "Is",
        "Null",
        "Empty",
        "True",
        "Len",
        "Mid",
        "Array",
        "Err",
        "Raise",
        "On",
        "Error",
        "Resume",
        "Next",
        "With",
        "_",
        "'",
        "Eval",
        "Execute",
        "Const",
        "Private",
        "Public",
        "Property",
        "Get",
        "Let",
        "CreateObject",
    };
    std::mt19937 rng(12345);
    std::uniform_int_distribution<size_t> pick(0, tokens.size() - 1), len(1, 40);
    int ran = 0, failed = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string code;
        size_t n = len(rng);
        for (size_t k = 0; k < n; ++k)
            code += tokens[pick(rng)] + " ";
        std::string error;
        (RunScript(code, error) == 1 ? ran : failed)++;
    }
    EXPECT_EQ(ran + failed, 3000);
    EXPECT_GT(failed, 0);
}

} // namespace
