// ADODB.Stream through scripts: bytes on disk in each character set, positions, copies, the
// save options and the errors scripts see.
#include "script_runner.h"

#include "kestrun/automation/vbscript/variant.h"

#include <gtest/gtest.h>

namespace {

using scripttest::Call;
using scripttest::ReadFile;
using scripttest::Scratch;
using scripttest::Text;
using scripttest::WriteFile;

const char *kSaveText = R"(
Function Save(path, charset, text)
    Dim s : Set s = CreateObject("ADODB.Stream")
    s.Type = 2
    If charset <> "" Then s.Charset = charset
    s.Open
    s.WriteText text
    Save = s.Size & "," & s.Position
    s.SaveToFile path, 2
    s.Close
End Function
Function Load(path, charset)
    Dim s : Set s = CreateObject("ADODB.Stream")
    s.Type = 2
    If charset <> "" Then s.Charset = charset
    s.Open
    s.LoadFromFile path
    Load = s.ReadText & "|" & s.EOS & "|" & s.Charset
End Function
)";

TEST(AdoStream, TextInEachCharsetIsWrittenAndReadBackExactly) {
    Scratch dir;
    const std::string text = "中文 ab\r\n€";
    struct Case {
        const char *charset;
        std::string bytes;
    } cases[] = {
        {"utf-8", "\xEF\xBB\xBF" + std::string("\xE4\xB8\xAD\xE6\x96\x87 ab\r\n\xE2\x82\xAC")},
        {"gb2312", "\xD6\xD0\xCE\xC4 ab\r\n\x80"},
        {"GBK", "\xD6\xD0\xCE\xC4 ab\r\n\x80"},
        {"unicode", std::string("\xFF\xFE\x2D\x4E\x87\x65 \0a\0b\0\r\0\n\0\xAC\x20", 18)},
        {"", std::string("\xFF\xFE\x2D\x4E\x87\x65 \0a\0b\0\r\0\n\0\xAC\x20", 18)},
        {"iso-8859-1", "?? ab\r\n?"},
        {"windows-1252", "?? ab\r\n\x80"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.charset);
        const std::string path = dir / "t.txt";
        const std::string size = std::to_string(c.bytes.size());
        EXPECT_EQ(Call(kSaveText, "Save", {Text(path), Text(c.charset), Text(text)}),
                  size + "," + size);
        EXPECT_EQ(ReadFile(path), c.bytes);
        const std::string expected = std::string(c.charset).starts_with("iso")   ? "?? ab\r\n?"
                                     : std::string(c.charset).starts_with("win") ? "?? ab\r\n€"
                                                                                 : text;
        EXPECT_EQ(Call(kSaveText, "Load", {Text(path), Text(c.charset)}),
                  expected + "|True|" + (*c.charset ? c.charset : "Unicode"));
    }
    // A UTF-8 file without a mark reads the same; one with the mark loses it.
    WriteFile(dir / "plain.txt", "\xE4\xB8\xAD");
    EXPECT_EQ(Call(kSaveText, "Load", {Text(dir / "plain.txt"), Text("utf-8")}), "中|True|utf-8");
}

TEST(AdoStream, BinaryPositionsCopiesAndByteArrays) {
    Scratch dir;
    WriteFile(dir / "in.bin", std::string("\x00\x01\xFE\xFFxyz", 7));
    const char *script = R"(
Function Main(dir)
    Dim s, t, b, r
    Set s = CreateObject("ADODB.Stream")
    s.Type = 1
    s.Open
    s.LoadFromFile dir & "/in.bin"
    r = s.Size & "," & s.Position
    b = s.Read(3)
    r = r & "|" & TypeName(b) & "," & VarType(b) & "," & LenB(b) & "," & UBound(b) & "," & b(2)
    r = r & "|" & s.Position & "," & s.EOS
    s.Position = 5
    s.SetEOS
    r = r & "|" & s.Size & "," & s.EOS & "," & IsNull(s.Read)
    s.Position = 1
    s.Write b
    r = r & "|" & s.Size & "," & s.Position
    Set t = CreateObject("ADODB.Stream")
    t.Type = 1
    t.Open
    s.Position = 0
    s.CopyTo t, 2
    s.CopyTo t
    r = r & "|" & t.Size & "," & s.EOS
    t.SaveToFile dir & "/out.bin"
    s.Position = 0 : s.CopyTo s
    r = r & "|" & s.Size
    Main = r
End Function
)";
    EXPECT_EQ(Call(script, "Main", {Text(dir.path())}),
              "7,0|Byte(),8209,3,2,254|3,False|5,True,True|5,4|5,True|10");
    EXPECT_EQ(ReadFile(dir / "out.bin"), std::string("\x00\x00\x01\xFE\x78", 5));
}

TEST(AdoStream, LinesCharactersAndSeparators) {
    const char *script = R"(
Function Main()
    Dim s, r
    Set s = CreateObject("ADODB.Stream")
    s.Charset = "utf-8"
    s.Open
    s.LineSeparator = 10
    s.WriteText "一行", 1
    s.WriteText "two", 1
    s.WriteText "三"
    r = s.Size
    s.Position = 0
    r = r & "|" & s.ReadText(-2) & "|" & s.Position
    s.SkipLine
    r = r & "|" & s.ReadText(1) & "|" & s.EOS
    s.Position = 0
    s.LineSeparator = -1
    r = r & "|" & s.ReadText(2) & "|" & s.Position & "|" & Len(s.ReadText(-2)) & "|" & IsNull(s.ReadText)
    Main = r
End Function
)";
    EXPECT_EQ(Call(script, "Main"), "17|一行|10|三|True|一行|9|6|True");
}

TEST(AdoStream, ErrorsCarryAdoNumbersAndTheObjectsSource) {
    Scratch dir;
    WriteFile(dir / "keep.txt", "old");
    const char *script = R"(
Function Try(dir, what)
    Dim s : Set s = CreateObject("ADODB.Stream")
    On Error Resume Next
    Select Case what
    Case "charset" : s.Charset = "klingon"
    Case "closed" : x = s.Size
    Case "position" : s.Open : s.WriteText "ab" : s.Position = -1
    Case "grow" : s.Open : s.WriteText "ab" : s.Position = 9 : x = s.Size & "," & s.Position
    Case "textwrite" : s.Open : s.WriteText "ab" : s.Write Empty
    Case "readtext" : s.Type = 1 : s.Open : x = s.ReadText
    Case "read" : s.Open : x = s.Read
    Case "write" : s.Type = 1 : s.Open : s.Write "text"
    Case "type" : s.Open : s.WriteText "ab" : s.Type = 1
    Case "load" : s.Open : s.LoadFromFile dir & "/missing.txt"
    Case "loaddir" : s.Open : s.LoadFromFile dir
    Case "exists" : s.Open : s.WriteText "new" : s.SaveToFile dir & "/keep.txt"
    Case "nodir" : s.Open : s.SaveToFile dir & "/no/such.txt", 2
    Case "twice" : s.Open : s.Open
    Case "progid" : Set s = CreateObject("ADODB.NoSuchThing")
    End Select
    Try = Err.Number & " " & Err.Source & ": " & Err.Description & x
End Function
)";
    auto run = [&](const char *what) {
        return Call(script, "Try", {Text(dir.path()), Text(what)});
    };
    const std::string wrong = "3001 ADODB.Stream: Arguments are of the wrong type, are out of "
                              "acceptable range, or are in conflict with one another.";
    EXPECT_EQ(run("charset"), wrong);
    EXPECT_EQ(run("position"), wrong);
    EXPECT_EQ(run("write"), wrong);
    EXPECT_EQ(run("textwrite"), "3219 ADODB.Stream: Operation is not allowed in this context.");
    EXPECT_EQ(run("grow"), "0 : 9,9");
    EXPECT_EQ(run("type"), wrong);
    EXPECT_EQ(run("closed"),
              "3704 ADODB.Stream: Operation is not allowed when the object is closed.");
    EXPECT_EQ(run("readtext"), "3219 ADODB.Stream: Operation is not allowed in this context.");
    EXPECT_EQ(run("read"), "3219 ADODB.Stream: Operation is not allowed in this context.");
    EXPECT_EQ(run("load"), "3002 ADODB.Stream: File could not be opened.");
    EXPECT_EQ(run("loaddir"), "3002 ADODB.Stream: File could not be opened.");
    EXPECT_EQ(run("exists"), "3004 ADODB.Stream: Write to file failed.");
    EXPECT_EQ(ReadFile(dir / "keep.txt"), "old");
    EXPECT_EQ(run("nodir"), "3004 ADODB.Stream: Write to file failed.");
    EXPECT_EQ(run("twice"), "3705 ADODB.Stream: Operation is not allowed when the object is open.");
    EXPECT_EQ(run("progid").substr(0, 4), "429 ");
}

} // namespace

namespace {

TEST(AdoStream, ByteArraysCrossTheHostAsArraysOfBytes) {
    using namespace kestrun::vbscript;
    FunctionResult result;
    std::string error;
    const char *script = "Function F\r\nDim s : Set s = CreateObject(\"ADODB.Stream\")\r\n"
                         "s.Open : s.Charset = \"utf-8\" : s.WriteText \"A\"\r\n"
                         "s.Position = 0 : s.Type = 1 : F = s.Read\r\nEnd Function\r\n"
                         "Function G(b)\r\nG = TypeName(b) & LenB(b)\r\nEnd Function";
    ASSERT_EQ(RunFunction(script, "F", {}, result, error), 1) << error;
    VARIANT v;
    ToVariant(result.engine, result.value, v);
    ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
    ASSERT_EQ(SafeArrayGetDim(v.parray), 1u);
    LONG lb = -1, ub = -1;
    SafeArrayGetLBound(v.parray, 1, &lb);
    SafeArrayGetUBound(v.parray, 1, &ub);
    EXPECT_EQ(lb, 0);
    EXPECT_EQ(ub, 3);
    void *data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(v.parray, &data), S_OK);
    EXPECT_EQ(std::string(static_cast<const char *>(data), 4), "\xEF\xBB\xBF"
                                                               "A");
    SafeArrayUnaccessData(v.parray);
    // Back in: a Byte() array again, which a stream's Write accepts.
    Value back = FromVariant(v);
    VariantClear(&v);
    ASSERT_EQ(RunFunction(script, "G", {back}, result, error), 1) << error;
    EXPECT_EQ(result.value.s(), u"Byte()4");
    // An element a script replaced with another kind makes it an array of variants again.
    back.mutableArray()->data[0] = Value::lng(300);
    ToVariant(result.engine, back, v);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_VARIANT);
    VariantClear(&v);
}

} // namespace
