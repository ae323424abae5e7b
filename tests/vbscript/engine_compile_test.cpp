// The compiled forms of locals, fields, arithmetic, array elements, calls and For counters give
// the same results, types and errors as the general rules, including at the edges where a fast
// path has to hand over.
#include "corpus.h"

namespace vbtest {
namespace {

TEST(VbsCompiled, IntegerArithmeticPromotesAsTheLanguageDoes) {
    ExpectCases({
        // Integer -> Long -> Double on locals and constants.
        {"Function F : Dim a, b : a = 32767 : b = a + 1 : F = TypeName(a) & TypeName(b) & b\n"
         "End Function\nr = F()",
         "IntegerLong32768"},
        {"Function F : Dim a : a = 2147483647 : a = a + 1 : F = TypeName(a) & a : End Function\n"
         "r = F()",
         "Double2147483648"},
        {"Function F : Dim a : a = -32768 : F = TypeName(a - 1) & TypeName(a * 2) & (a - 1)\n"
         "End Function\nr = F()",
         "LongLong-32769"},
        {"Function F : Dim a, b : a = 7 : b = 2 : F = TypeName(a / b) & (a / b) : End Function\n"
         "r = F()",
         "Double3.5"},
        {"Function F : Dim a : a = 1.5 : F = TypeName(a * 2) & (2 * a) & (a < 2) & (3 > a)\n"
         "End Function\nr = F()",
         "Double3TrueTrue"},
        // Byte and Boolean operands take the general path.
        {"Function F : Dim a : a = CByte(200) : F = TypeName(a + CByte(50)) & (a + True)\n"
         "End Function\nr = F()",
         "Byte199"},
        {"Function F : Dim s : s = \"5\" : F = (s + 1) & TypeName(s + 1) : End Function\nr = F()",
         "6Double"},
        // A literal compared with a text converts; a folded constant does not count as one.
        {"Function F(x) : F = (x = \"1\") & (x = (\"1\" & \"\")) : End Function\nr = F(1)",
         "TrueFalse"},
        {"r = 2 * 3 + 1 & \"|\" & -(2 ^ 3) & \"|\" & TypeName(1 + 1)", "7|-8|Integer"},
    });
    ExpectErrors({
        {"Function F : Dim a : a = 0 : F = 1 / a : End Function\nx = 1\nr = F()", 11, 1},
        {"Function F\n F = 1 / 0\nEnd Function\nx = 1\nr = F()", 11, 2},
        {"Sub S\n Dim a\n a = \"x\"\n a = a * 2\nEnd Sub\nS", 13, 4},
        {"Function F\n Dim a : a = Null : F = a + 1 : F = F * 2\nEnd Function\nr = F() + \"\"\n"
         "r = r & x(1)",
         13, 5},
    });
}

TEST(VbsCompiled, ForCountersChangeTypeAndObeyTheBody) {
    ExpectCases({
        {"Function F : Dim i, n : For i = 32765 To 32770 : n = n + 1 : Next\n"
         "F = n & TypeName(i) & i : End Function\nr = F()",
         "6Long32771"},
        {"Function F : Dim i, n : For i = 1 To 10 : n = n + 1 : i = i + 1 : Next\n"
         "F = n & \",\" & i : End Function\nr = F()",
         "5,11"},
        {"Function F : Dim i, s : For i = 10 To 1 Step -3 : s = s & i : Next : F = s & \",\" & i\n"
         "End Function\nr = F()",
         "10741,-2"},
        {"Function F : Dim i : For i = 1 To 3 : i = \"x\" & i : Exit For : Next : F = i\n"
         "End Function\nr = F()",
         "x1"},
    });
}

TEST(VbsCompiled, InPlaceUpdatesAndCopiesHandOverAtTheirEdges) {
    ExpectCases({
        // A sum that leaves Long goes on as a Double; Double operands of every kind.
        {"Function F : Dim s, i : s = 0 : For i = 1 To 70000 : s = s + i : Next\n"
         "F = TypeName(s) & s : End Function\nr = F()",
         "Double2450035000"},
        {"Function F : Dim s, k : s = 0.5 : k = 3 : s = s * k : s = s - 2 : s = s + 0.25\n"
         "F = TypeName(s) & s : End Function\nr = F()",
         "Double-0.25"},
        // Texts, Null and Empty leave the in-place update to the general rules.
        {"Function F : Dim s, t, n : s = 1.5 : t = \"2\" : s = s + t : n = Null : t = 1.5\n"
         "t = t + n : F = s & IsNull(t) : End Function\nr = F()",
         "3.5True"},
        {"Function F : Dim s, e : s = 2.5 : s = s - e : F = TypeName(s) & s : End Function\n"
         "r = F()",
         "Double2.5"},
        // Copies: texts stay apart, objects give their default value, arrays stop being fixed.
        {"Function F : Dim a, b, c : a = \"x\" : b = a : a = a & \"y\" : c = 5 : F = a & b & c\n"
         "End Function\nr = F()",
         "xyx5"},
        {"Class C : Public Default Property Get V : V = 7 : End Property : End Class\n"
         "Function F : Dim o, v : Set o = New C : v = o : F = v & TypeName(v) : End Function\n"
         "r = F()",
         "7Integer"},
        {"Function F : Dim a(1), b : a(0) = 1 : b = a : b(0) = 2 : ReDim Preserve b(3)\n"
         "F = a(0) & b(0) & UBound(b) : End Function\nr = F()",
         "123"},
        // A loop body of one statement still resumes after its errors.
        {"Function F : On Error Resume Next : Dim i, x : For i = 1 To 3 : x = 1 / 0 : Next\n"
         "F = i & Err.Number : End Function\nr = F()",
         "411"},
    });
    ExpectErrors({
        {"Sub S\n Dim a\n a = 1E308\n a = a * 10\nEnd Sub\nS", 6, 4},
        {"a = 1E308\nb = 2\nr = a * b", 6, 3},
        {"a = -1E308\nr = a - 1E308", 6, 2},
        {"a = 1E308\nr = a + a", 6, 2},
        {"Sub S\n Dim a, i\n a = -1E308\n For i = 1 To 2\n a = a - 1E308\n Next\nEnd Sub\nS", 6, 5},
        {"Class C : End Class\nSub S\n Dim o, v\n Set o = New C\n v = o\nEnd Sub\nS", 438, 5},
    });
}

TEST(VbsCompiled, ArrayElementsKeepCopySemanticsAndErrors) {
    ExpectCases({
        {"Function F : Dim a(2), b : a(0) = 1 : b = a : a(0) = 5 : b(1) = 7\n"
         "F = a(0) & b(0) & a(1) & b(1) : End Function\nr = F()",
         "517"},
        {"Sub Inc(x) : x = x + 1 : End Sub\n"
         "Function F : Dim a(1), v : v = 1 : Inc v : Inc (v) : Inc a(1) : Inc a(1)\n"
         "F = v & a(1) : End Function\nr = F()",
         "22"},
        {"Function F : Dim a : a = Array(1, 2) : a(1) = \"x\" : F = a(0) & a(1) & a(0.6)\n"
         "End Function\nr = F()",
         "1xx"},
    });
    ExpectErrors({
        {"Function F\n Dim a(2), i\n i = 3\n F = a(i)\nEnd Function\nr = F()", 9, 4},
        {"Function F\n Dim a(2), i\n i = -1\n a(i) = 1\nEnd Function\nr = F()", 9, 4},
        {"Function F\n Dim a\n a = 1\n F = a(0)\nEnd Function\nr = F()", 13, 4},
    });
}

TEST(VbsCompiled, CallsResolveOnceAndFallBackWhenTheTargetChanges) {
    ExpectCases({
        // Recursion through the function's own name, and ByRef parameters of a procedure.
        {"Function Fib(n) : If n < 2 Then Fib = n Else Fib = Fib(n - 1) + Fib(n - 2)\n"
         "End Function\nr = Fib(15)",
         "610"},
        {"Function Dec(n) : n = n - 1 : Dec = n : End Function\n"
         "Function F : Dim k : k = 5 : F = Dec(k) & k & Dec((k)) & k : End Function\nr = F()",
         "4434"},
        // One call site sees two classes, a dictionary, and a private member.
        {"Class A : Public Function Name : Name = \"A\" : End Function : End Class\n"
         "Class B : Public Property Get Name : Name = \"B\" : End Property : End Class\n"
         "Function N(o) : N = o.Name() : End Function\n"
         "Function F : Dim i, s, o : For i = 1 To 4\n"
         "If i Mod 2 = 0 Then Set o = New A Else Set o = New B\n"
         "s = s & N(o) : Next : F = s : End Function\nr = F()",
         "BABA"},
        {"Class C : Private total : Sub Add(x) : total = total + x : End Sub\n"
         "Function Value : Value = total : End Function : End Class\n"
         "Function F : Dim c, i : Set c = New C : For i = 1 To 100 : c.Add i : Next\n"
         "F = c.Value : End Function\nr = F()",
         "5050"},
        {"Function Get1(o) : Get1 = o.Item(\"k\") : End Function\n"
         "Set d = CreateObject(\"Scripting.Dictionary\") : d.Add \"k\", 3\nr = Get1(d)",
         "3"},
        // Built-ins called by name, and a name that becomes a procedure later.
        {"Function F : Dim t : t = \"abc\" : F = Len(t) & Mid(t, 2, 1) & Sqr(16) : End Function\n"
         "r = F()",
         "3b4"},
        {"Function F : F = Later(2) : End Function\n"
         "ExecuteGlobal \"Function Later(x) : Later = x * 10 : End Function\"\nr = F()",
         "20"},
    });
    ExpectErrors({
        {"Function G(a, b) : G = a : End Function\nFunction F\n F = G(1)\nEnd Function\nr = F()",
         450, 3},
        {"Class C : Private Function P : P = 1 : End Function : End Class\n"
         "Function F(o)\n F = o.P()\nEnd Function\nr = F(New C)",
         438, 3},
        {"Class C : Public v : End Class\nFunction F(o)\n F = o.Missing(1)\nEnd Function\n"
         "r = F(New C)",
         438, 3},
        {"Function F(o)\n F = o.Name()\nEnd Function\nr = F(1)", 424, 2},
    });
}

TEST(VbsCompiled, ResumeNextGoesOnAfterACompiledStatementFails) {
    ExpectCases({
        {"Function F : On Error Resume Next : Dim a, b, c : a = 0 : b = 1 / a : c = Err.Number\n"
         "Err.Clear : b = Array(1)(5) : F = c & \",\" & Err.Number & \",\" & IsEmpty(b)\n"
         "End Function\nr = F()",
         "11,9,True"},
        {"Function F : On Error Resume Next : Dim a(1), i : i = 9 : a(i) = 1 : F = Err.Number\n"
         "End Function\nr = F()",
         "9"},
    });
}

} // namespace
} // namespace vbtest
