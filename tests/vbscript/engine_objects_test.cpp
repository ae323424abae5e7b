// Script corpus for classes, objects, Dictionary and RegExp; and the engine's host interface.
#include "corpus.h"

namespace vbtest {
namespace {

constexpr const char *kCounter = R"vb(
Class Counter
    Private count_
    Public Name
    Private Sub Class_Initialize()
        count_ = 10
    End Sub
    Public Property Get Count
        Count = count_
    End Property
    Public Property Let Count(v)
        If v < 0 Then Err.Raise 5
        count_ = v
    End Property
    Public Function Bump(by)
        count_ = count_ + by
        Set Bump = Me
    End Function
    Public Default Function Describe()
        Describe = Name & "=" & count_
    End Function
End Class
)vb";

TEST(VbsClasses, FieldsPropertiesMethodsAndMe) {
    std::string c = kCounter;
    ExpectCases({
        {(c + "Set o = New Counter\nr = o.Count").c_str(), "10"},
        {(c + "Set o = New Counter\no.Count = 3\no.Name = \"n\"\nr = o.Describe()").c_str(), "n=3"},
        {(c + "Set o = New Counter\no.Bump(1).Bump 2\nr = o.Count").c_str(), "13"},
        {(c + "Set o = New Counter\no.Name = \"d\"\nr = o").c_str(), "d=10"},
        {(c + "Set o = New Counter\nSet p = o\np.Count = 1\nr = o.Count & (o Is p)").c_str(),
         "1True"},
        {(c + "Set o = New Counter\nr = TypeName(o) & IsObject(o)").c_str(), "CounterTrue"},
        {(c + "Set o = New Counter\nSet o = Nothing\nr = o Is Nothing").c_str(), "True"},
        {(c + "Set o = New Counter\nWith o\n.Name = \"w\"\n.Count = 4\nr = .Describe\nEnd With")
             .c_str(),
         "w=4"},
        {(c + "Set o = New Counter\nOn Error Resume Next\no.Count = -1\nr = Err.Number & o.Count")
             .c_str(),
         "510"},
    });
    ExpectErrors({
        {(c + "Set o = New Counter\nx = o.count_").c_str(), 438, 24},
        {(c + "Set o = New Counter\nx = o.Missing").c_str(), 438, 24},
        {(c + "Set o = New Counter\no.Count = -1").c_str(), 5, 12},
        {"Set o = New Nope", 506, 1},
        {"Dim o\nx = o.Name", 424, 2},
    });
}

TEST(VbsClasses, InitializeTerminateAndPropertySet) {
    ExpectCases({
        {R"vb(
Dim log
Class T
    Private Sub Class_Initialize : log = log & "i" : End Sub
    Private Sub Class_Terminate : log = log & "t" : End Sub
End Class
Sub Use()
    Dim x
    Set x = New T
End Sub
Use
Set y = New T
Set y = Nothing
r = log)vb",
         "itit"},
        {R"vb(
Class Box
    Private item_
    Public Property Set Item(o) : Set item_ = o : End Property
    Public Property Get Item : Set Item = item_ : End Property
End Class
Class Leaf
    Public V
End Class
Set b = New Box
Set l = New Leaf
l.V = 42
Set b.Item = l
r = b.Item.V)vb",
         "42"},
        {R"vb(
Class Node
    Public NextNode, Value
End Class
Set a = New Node : Set b = New Node
Set a.NextNode = b : Set b.NextNode = a
a.Value = 1 : b.Value = 2
r = a.NextNode.NextNode.Value)vb",
         "1"},
        {R"vb(
Class A
    Public Items(2)
    Public Sub Fill : Items(1) = "x" : End Sub
End Class
Set o = New A
o.Fill
o.Items(2) = "y"
r = o.Items(1) & o.Items(2) & UBound(o.Items))vb",
         "xy2"},
    });
}

TEST(VbsObjects, DictionaryBehaviour) {
    ExpectCases({
        {R"vb(Set d = CreateObject("Scripting.Dictionary")
d.Add "a", 1
d.Add "b", 2
d("c") = 3
d.Item("a") = 10
r = d.Count & d("a") & d.Exists("b") & d.Exists("z") & Join(d.Keys, ","))vb",
         "310TrueFalsea,b,c"},
        {R"vb(Set d = CreateObject("Scripting.Dictionary")
d.Add 1, "one" : d.Add "1", "text one"
r = d(1) & "|" & d("1"))vb",
         "one|text one"},
        {R"vb(Set d = CreateObject("Scripting.Dictionary")
d.Add "x", 1 : d.Add "y", 2 : d.Add "z", 3
d.Remove "y"
For Each k In d
  r = r & k & d(k)
Next
r = r & Join(d.Items, ""))vb",
         "x1z313"},
        {R"vb(Set d = CreateObject("Scripting.Dictionary")
d.CompareMode = vbTextCompare
d.Add "Key", 1
r = d.Exists("KEY") & d("key"))vb",
         "True1"},
        {R"vb(Set d = CreateObject("Scripting.Dictionary")
x = d("missing")
r = d.Count & IsEmpty(x))vb",
         "1True"},
        {R"vb(Set d = CreateObject("Scripting.Dictionary")
d.Add "a", 1
d.Key("a") = "b"
d.RemoveAll
r = d.Count)vb",
         "0"},
    });
    ExpectErrors({
        {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.Add \"a\", 1\nd.Add \"a\", 2", 457, 3},
        {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.Remove \"nope\"", 32811, 2},
    });
}

TEST(VbsObjects, RegExpTestExecuteReplace) {
    ExpectCases({
        {R"vb(Set re = New RegExp
re.Pattern = "\d+"
r = re.Test("abc 123") & re.Test("abc"))vb",
         "TrueFalse"},
        {R"vb(Set re = New RegExp
re.Pattern = "(\w)(\d)"
re.Global = True
Set ms = re.Execute("a1 b2 c3")
r = ms.Count
For Each m In ms
  r = r & "|" & m.Value & m.FirstIndex & m.Length & m.SubMatches(0) & m.SubMatches(1)
Next)vb",
         "3|a102a1|b232b2|c362c3"},
        {R"vb(Set re = CreateObject("VBScript.RegExp")
re.Pattern = "o"
re.Global = True
r = re.Replace("foo boo", "0") & " " & re.Execute("foo")(1).FirstIndex)vb",
         "f00 b00 2"},
        {R"vb(Set re = New RegExp
re.Pattern = "(\w+)@(\w+)"
r = re.Replace("me@host you@there", "$2 at $1 [$&] $$"))vb",
         "host at me [me@host] $ you@there"},
        {R"vb(Set re = New RegExp
re.Pattern = "HELLO"
re.IgnoreCase = True
r = re.Test("say hello"))vb",
         "True"},
        {R"vb(Set re = New RegExp
re.Pattern = "^b"
re.Multiline = True
r = re.Test("a" & vbLf & "b"))vb",
         "True"},
        {R"vb(Set re = New RegExp
re.Pattern = "中(.)"
r = re.Execute("文中国")(0).SubMatches(0) & re.Execute("文中国")(0).FirstIndex)vb",
         "国1"},
        {R"vb(Set re = New RegExp
re.Pattern = "x*"
re.Global = True
r = re.Replace("abc", "-"))vb",
         "-a-b-c-"},
    });
    ExpectErrors({{"Set re = New RegExp\nre.Pattern = \"(\"\nx = re.Test(\"a\")", 5020, 3}});
}

TEST(VbsEngine, RunCallsAFunctionWithArgumentsAndKeepsState) {
    Interp in;
    in.addCode(u"Dim calls\nFunction Add(a, b)\ncalls = calls + 1\nAdd = a + b\nEnd Function");
    Value r = in.run(u"add", {Value::lng(2), Value::dbl(0.5)});
    EXPECT_EQ(r.type(), VType::Double);
    EXPECT_EQ(r.d(), 2.5);
    in.executeStatement(u"x = Add(1, 1) + calls");
    EXPECT_EQ(in.evaluate(u"x").intValue(), 4);
    try {
        in.run(u"Missing", {});
        FAIL() << "expected an error";
    } catch (const ScriptError &e) {
        EXPECT_EQ(e.number, 35);
    }
    try {
        in.run(u"Add", {Value::lng(1)});
        FAIL() << "expected an error";
    } catch (const ScriptError &e) {
        EXPECT_EQ(e.number, 450);
    }
    // On Error Resume Next lasts for the block that said it.
    in.addCode(u"On Error Resume Next\nq = 1 / 0");
    EXPECT_THROW(in.addCode(u"q = 1 / 0"), ScriptError);
    // A second block's lines count from 1 again.
    try {
        in.addCode(u"y = 1\n\nz = 1 / 0");
        FAIL() << "expected an error";
    } catch (const ScriptError &e) {
        EXPECT_EQ(e.number, 11);
        EXPECT_EQ(e.line, 3);
    }
}

TEST(VbsEngine, HostileInputFailsCleanly) {
    // Deep nesting and runaway recursion end in errors, not crashes.
    std::string deep = "x = " + std::string(2000, '(') + "1" + std::string(2000, ')');
    Outcome o = RunCode(deep);
    EXPECT_FALSE(o.ok);
    ExpectErrors({{"Sub S\nS\nEnd Sub\nS", 28, 2}});
    // A script that is only a comment, or only blank lines, does nothing.
    EXPECT_TRUE(RunCode("' nothing\n\n").ok);
    // Huge ReDim is refused with an error.
    EXPECT_EQ(RunCode("ReDim a(2000000000)").number, 7);
}

} // namespace
} // namespace vbtest
