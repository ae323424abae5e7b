// More of the corpus: class details, scoping, currency and dates, the desktop dialog seam.
#include "corpus.h"
#include "no_dialogs.h"

#include <cmath>

namespace vbtest {
namespace {

TEST(VbsScoping, GlobalsLocalsAndByRefTargets) {
    ExpectCases({
        {"Public p : Private q\np = 1 : q = 2\nr = p + q", "3"},
        {"Dim g\nSub SetG(v) : g = v : End Sub\nSetG \"x\"\nr = g", "x"},
        {"Sub Twice(ByRef v) : v = v * 2 : End Sub\nx = 3\nTwice x\nTwice (x)\nr = x", "6"},
        {"Class C\nPublic F\nSub Bump : Inc F : End Sub\nEnd Class\n"
         "Sub Inc(v) : v = v + 1 : End Sub\nSet o = New C\no.F = 1\no.Bump\nr = o.F",
         "2"},
        {"Function Outer()\nOuter = Inner(2)\nEnd Function\nFunction Inner(n)\nInner = n * k\n"
         "End Function\nk = 21\nr = Outer()",
         "42"},
        {"Const A = 2, B = 3\nConst C = 7\nr = A * B + C", "13"},
        {"Function F\nConst K = 5\nF = K * 2\nEnd Function\nr = F", "10"},
    });
}

TEST(VbsClasses, PropertiesWithArgumentsPrivateHelpersAndExitProperty) {
    ExpectCases({
        {R"vb(Class Grid
    Private cells(2, 2)
    Public Property Get Cell(i, j) : Cell = cells(i, j) : End Property
    Public Property Let Cell(i, j, v)
        If v = "" Then Exit Property
        cells(i, j) = Normalize(v)
    End Property
    Private Function Normalize(v) : Normalize = UCase(v) : End Function
End Class
Set g = New Grid
g.Cell(1, 2) = "ab"
g.Cell(0, 0) = ""
r = g.Cell(1, 2) & "|" & IsEmpty(g.Cell(0, 0)))vb",
         "AB|True"},
        {R"vb(Class Person
    Public First, Last
    Public Function Full() : Full = Me.First & " " & Last : End Function
    Public Function Same(other) : Same = (other.First = First) : End Function
End Class
Set a = New Person : a.First = "Ann" : a.Last = "Lee"
Set b = New Person : b.First = "Ann"
With a
    r = .Full() & "|" & .Same(b)
End With)vb",
         "Ann Lee|True"},
        {R"vb(Class Outer
    Public Inner
    Private Sub Class_Initialize : Set Inner = CreateObject("Scripting.Dictionary") : End Sub
End Class
Set o = New Outer
o.Inner("k") = 5
With o
    With .Inner
        .Add "j", 6
        r = .Count & o.Inner("k") & .Item("j")
    End With
End With)vb",
         "256"},
    });
    ExpectErrors({
        {"Class C\nPrivate Sub Hidden : End Sub\nEnd Class\nSet o = New C\no.Hidden", 438, 5},
        {"Class C\nPublic Property Get V : V = 1 : End Property\nEnd Class\nSet o = New C\no.V = 2",
         438, 5},
        {"Class C\nEnd Class\nClass C\nEnd Class", 1041, 4},
        {"Class C\nPublic Default Function A : End Function\nPublic Default Function B : End "
         "Function\nEnd Class",
         1052, 3},
        {"Property Get X : End Property", 1048, 1},
    });
}

TEST(VbsValues, CurrencyDatesAndMixedKinds) {
    ExpectCases({
        {"r = CCur(1.1) * 3", "3.3"},
        {"r = TypeName(CCur(1) + 1) & TypeName(CCur(1) + 1.5)", "CurrencyDouble"},
        {"r = #2024-01-31# + 1", "2024/2/1"},
        {"r = TypeName(#2024-01-31# + 1)", "Date"},
        {"r = (#2024-01-01# < #2024-01-02#) & (CDate(\"2024-01-02\") = #2024-01-02#)", "TrueTrue"},
        {"r = CDbl(#1900-01-01#)", "2"},
        {"r = TypeName(CSng(1.5) + 1) & TypeName(CSng(1.5) + 100000)", "SingleDouble"},
        {"r = 5 + True & \"|\" & TypeName(True + True)", "4|Integer"},
        {"r = CLng(2.5) & CLng(-3.5) & CByte(255.4)", "2-4255"},
        {"r = Int(\"3.7\") & Fix(\"-3.7\")", "3-3"},
    });
    ExpectErrors({{"x = CByte(256)", 6, 1}, {"x = #2024-01-01# + 10000000", 6, 1}});
}

// Dates a caller passes in may lie outside the years 100 to 9999, or be no number at all: taking
// them apart is an overflow (error 6), never undefined arithmetic.
TEST(VbsValues, CallersDatesOutOfRangeOverflow) {
    Interp in;
    in.addCode(u"Function Part(d, what)\n"
               u"Select Case what\n"
               u"Case 0 : Part = Month(d)\nCase 1 : Part = Year(d)\nCase 2 : Part = Hour(d)\n"
               u"Case 3 : Part = Weekday(d)\nCase 4 : Part = CStr(d)\nEnd Select\n"
               u"End Function");
    for (double serial : {1.2304e224, -1e300, 2958466.0, -657435.0, std::nan("")}) {
        for (int what = 0; what < 5; ++what) {
            try {
                in.run(u"Part", {Value::date(serial), Value::lng(what)});
                ADD_FAILURE() << serial << " part " << what << " gave a result";
            } catch (const ScriptError &e) {
                EXPECT_EQ(e.number, err::Overflow) << serial << " part " << what;
            }
        }
    }
    EXPECT_EQ(in.run(u"Part", {Value::date(2958465.5), Value::lng(1)}).intValue(), 9999);
    EXPECT_EQ(in.run(u"Part", {Value::date(-657434.0), Value::lng(1)}).intValue(), 100);
}

TEST(VbsStatements, SelectCaseKinds) {
    ExpectCases({
        {"x = \"b\"\nSelect Case x\nCase \"a\" To \"c\"\nr = 1\nCase Else\nr = 2\nEnd Select", "1"},
        {"x = 3\nSelect Case x\nCase \"3\"\nr = \"text\"\nCase 3\nr = \"num\"\nEnd Select", "text"},
        {"x = 5\nSelect Case True\nCase x < 3 : r = \"a\"\nCase x < 10 : r = \"b\"\nEnd Select",
         "b"},
        {"x = Null\nSelect Case x\nCase 1\nr = 1\nCase Else\nr = \"else\"\nEnd Select", "else"},
        {"For i = 1 To 5\nSelect Case i\nCase 2, 4\nr = r & \"e\"\nCase Else\nr = r & i\nEnd "
         "Select\nNext",
         "1e3e5"},
    });
}

TEST(VbsDialogs, DesktopDialogsWithoutDisplayAnswerLikeEnter) {
    NoDesktopDialogs guard;
    auto dialogs = makeDesktopDialogs();
    EXPECT_EQ(dialogs->messageBox(u"q", 0, u"t"), 1); // OK
    EXPECT_EQ(dialogs->messageBox(u"q", 4, u"t"), 6); // Yes
    EXPECT_EQ(dialogs->messageBox(u"q", 5, u"t"), 4); // Retry
    EXPECT_EQ(dialogs->messageBox(u"q", 2, u"t"), 3); // Abort
    std::u16string text = u"default";
    EXPECT_TRUE(dialogs->inputBox(u"p", u"t", text));
    EXPECT_EQ(text, u"default");
}

} // namespace
} // namespace vbtest
