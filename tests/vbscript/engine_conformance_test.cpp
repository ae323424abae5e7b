// Behaviour of the language's own engine in the corners scripts run into: where procedures may
// be written, how statements end, operator quirks, resuming after errors, Err.Raise, the checks
// built-ins make on their arguments, literal types, arrays passed by reference.
#include "corpus.h"

namespace vbtest {
namespace {

TEST(VbsConformance, ProceduresInBlocksRedefinitionAndStatementEnds) {
    ExpectCases({
        // Hoisted out of blocks that never run; the last definition of a name wins.
        {"If False Then\nFunction F(x) : F = x * 2 : End Function\nEnd If\nr = F(4)", "8"},
        {"Dim r\nFor i = 1 To 0\nSub S : r = \"s\" : End Sub\nNext\nS", "s"},
        {"Function F : F = 1 : End Function\nFunction F : F = 2 : End Function\nr = F", "2"},
        {"r = G\nSub X : End Sub\nFunction G : G = \"first\" : End Function\n"
         "Function G : G = \"last\" : End Function",
         "last"},
        // `End ...` right after a statement on the same line.
        {"Function F(a)\nF = a + 1 End Function\nr = F(1)", "2"},
        {"Dim r\nSub S(a)\nr = a End Sub\nS 5", "5"},
        {"Class C\nPublic V\nSub Class_Initialize : V = 3 End Sub\nEnd Class\n"
         "Set o = New C : r = o.V",
         "3"},
        {"x = 1\nIf x = 1 Then\nr = \"one\" End If", "one"},
        {"Select Case 2\nCase 2\nr = \"two\" End Select", "two"},
        // Constants are known in their scope even when their statement never runs.
        {"If False Then Const C = \"str\"\nr = C & \"|\" & TypeName(C)", "str|String"},
        {"Function F\nIf False Then Const K = 7\nF = K\nEnd Function\nr = F", "7"},
        {"Option Explicit\nDim r\nr = K\nConst K = 3", "3"},
        // `Stop` is accepted (there is no debugger), also under Option Explicit.
        {"Option Explicit\nDim r\nr = 1\nStop\nr = r + 1", "2"},
    });
    ExpectErrors({
        {"Sub A\nSub B\nEnd Sub\nEnd Sub", 1002, 2},
        {"x = 1 y = 2", 1025, 1},
    });
}

TEST(VbsConformance, CalleesOperatorsAndNames) {
    ExpectCases({
        // Parentheses around a callee.
        {"Function F(x) : F = x + 1 : End Function\nr = (F)(1)", "2"},
        {"Dim r\nSub S(x) : r = x : End Sub\nCall (((S))) (7)", "7"},
        {"a = Array(5, 6)\nr = ((a))(1)", "6"},
        // Keywords as member names, `Rem` after a dot included.
        {"Class C\nPublic property, [step]\nEnd Class\n"
         "Set o = New C : o.Property = \"p\" : o.step = 1 : r = o.property & o.Step",
         "p1"},
        {"On Error Resume Next\nx = Err.rem\nr = Err.Number", "438"},
        {"Dim property : property = 4 : r = property", "4"},
        // `><` is `<>`; `&h` not followed by a hex digit is the `&` operator.
        {"r = (1 >< 2) & (1 >< 1)", "TrueFalse"},
        {"hi = \"!\" : r = \"x\" &hi", "x!"},
        {"r = \"a\" &ho", "a"},
        // The sign binds tighter than `^`.
        {"r = -3 ^ 2", "9"},
        {"r = 2 ^ -1", "0.5"},
        {"r = -(3 ^ 2)", "-9"},
        {"r = 10 - 3 ^ 2", "1"},
        // `Me` outside a class is the script.
        {"Function Twice(x) : Twice = 2 * x : End Function\ng = 5\n"
         "r = Me.Twice(Me.g) & IsObject(Me)",
         "10True"},
    });
}

TEST(VbsConformance, ResumeNextGoesIntoTheBodyOfAFailingHeader) {
    ExpectCases({
        {"On Error Resume Next\nx = 0 : If 1 / 0 Then x = 1\nr = x & \"|\" & Err.Number", "1|11"},
        {"On Error Resume Next\nIf False Then\nr = \"a\"\nElseIf 1 / 0 Then\nr = \"b\"\nElse\n"
         "r = \"c\"\nEnd If",
         "b"},
        {"On Error Resume Next\nSelect Case 1 / 0\nCase 5\nr = \"first\"\nCase Else\n"
         "r = \"else\"\nEnd Select",
         "first"},
        {"On Error Resume Next\nSelect Case 3\nCase 1\nr = 1\nCase 1 / 0\nr = \"second\"\n"
         "Case 3\nr = 3\nEnd Select",
         "second"},
        {"On Error Resume Next\nn = 0\nFor i = 1 To 1 / 0 : n = n + 1 : Next\nr = n & Err.Number",
         "111"},
        {"On Error Resume Next\nn = 0\nFor Each v In Empty : n = n + 1 : Next\n"
         "r = n & \"|\" & Err.Number",
         "1|451"},
        {"On Error Resume Next\nn = 0\nFor Each v In Nothing : n = n + 1 : Next\nr = n", "1"},
        // Without On Error the failure still stops the script; a good header is unchanged.
        {"On Error Resume Next\nn = 0\nFor i = 1 To 3 : n = n + i : Next\nIf n = 6 Then r = \"ok\"",
         "ok"},
    });
    ExpectErrors({{"x = 0\nIf 1 / 0 Then x = 1", 11, 2}, {"For Each v In Empty : Next", 451, 1}});
}

TEST(VbsConformance, ErrRaiseNumbersAndWhatItKeeps) {
    ExpectCases({
        {"On Error Resume Next\nErr.Raise &H8007000E&\nr = Err.Number & \"|\" & Err.Description",
         "7|Out of memory"},
        {"On Error Resume Next\nErr.Raise &H800A0035&\nr = Err.Number", "53"},
        {"On Error Resume Next\nErr.Raise vbObjectError + 1\nr = Hex(Err.Number)", "80040001"},
        {"On Error Resume Next\nErr.Raise 0\nr = Err.Number", "5"},
        {"On Error Resume Next\nErr.Raise 65536\nr = Err.Number", "5"},
        {"On Error Resume Next\nErr.Raise 65535\nr = Err.Number", "65535"},
        {"On Error Resume Next\nErr.Raise 1000, \"src\", \"desc\", \"help.chm\", 42\n"
         "r = Err.Source & \"|\" & Err.Description & \"|\" & Err.HelpFile & \"|\" & "
         "Err.HelpContext",
         "src|desc|help.chm|42"},
        // A later Raise with only a number keeps what the script set.
        {"On Error Resume Next\nErr.Raise 1000, \"src\", \"desc\"\nErr.Raise 1001\n"
         "r = Err.Number & \"|\" & Err.Source & \"|\" & Err.Description",
         "1001|src|desc"},
        {"On Error Resume Next\nErr.Description = \"mine\"\nErr.Raise 9\nr = Err.Description",
         "mine"},
        // ...but not what an earlier run-time error set, nor anything after Err.Clear.
        {"On Error Resume Next\nx = 1 / 0\nErr.Raise 9\nr = Err.Description",
         "Subscript out of range"},
        {"On Error Resume Next\nErr.Raise 1000, \"src\", \"desc\"\nErr.Clear\nErr.Raise 5\n"
         "r = Err.Description",
         "Invalid procedure call or argument"},
    });
    // Numeric conversions used as statements.
    ExpectErrors({
        {"Call CInt(1)", 458, 1},
        {"CLng 1", 458, 1},
        {"Call CByte(1)", 458, 1},
        {"Call CDate(1)", 458, 1},
        {"Call CDbl(1)", 458, 1},
        {"Call CSng(1)", 458, 1},
        {"Call CCur(1)", 458, 1},
    });
    ExpectCases({{"Call CStr(1) : Call CBool(1) : r = CInt(\"2\")", "2"}});
}

} // namespace
} // namespace vbtest
