// The XMLHTTP family through scripts against a loopback server: text by the response's charset,
// bytes both ways, headers, status, and the errors of failed and misused requests.
#include "loopback_server.h"
#include "script_runner.h"

#include <gtest/gtest.h>

namespace {

using scripttest::Call;
using scripttest::ReadFile;
using scripttest::Scratch;
using scripttest::Text;

TEST(XmlHttp, TextStatusAndHeadersOfEachProgId) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    const char *script = R"(
Function Main(progId, base)
    Dim x, r
    Set x = CreateObject(progId)
    r = TypeName(x)
    x.open "GET", base & "/gbk", False
    x.send
    r = r & "|" & x.status & " " & x.statusText & "|" & x.responseText & "|" & _
        x.getResponseHeader("content-type") & "|" & InStr(x.getAllResponseHeaders, "Content-Type: text/html; charset=GBK" & vbCrLf)
    x.open "GET", base & "/status/404", False
    x.send
    r = r & "|" & x.status & " " & x.statusText & "|" & x.responseText
    Main = r
End Function
)";
    const std::string base = server.Url("");
    for (const char *progId :
         {"MSXML2.XMLHTTP", "Msxml2.XMLHTTP.3.0", "Microsoft.XMLHTTP", "MSXML2.XMLHTTP.6.0",
          "MSXML2.ServerXMLHTTP", "MSXML2.ServerXMLHTTP.6.0", "WinHttp.WinHttpRequest.5.1"}) {
        SCOPED_TRACE(progId);
        const std::string type = std::string(progId).starts_with("WinHttp") ? "IWinHttpRequest"
                                 : std::string(progId).find("Server") != std::string::npos
                                     ? "IServerXMLHTTPRequest2"
                                     : "IXMLHTTPRequest";
        const std::string result = Call(script, "Main", {Text(progId), Text(base)});
        EXPECT_TRUE(result.starts_with(type + "|200 OK|你好，世界|text/html; charset=GBK|"))
            << result;
        EXPECT_TRUE(result.ends_with("|404 Not Found|no such page")) << result;
        EXPECT_EQ(result.find("|0|"), std::string::npos) << result; // the header line was found
    }
}

TEST(XmlHttp, BytesBothWaysAndRequestHeaders) {
    Scratch dir;
    httptest::LoopbackServer server(httptest::StandardRoutes);
    const char *script = R"(
Function Main(base, dir)
    Dim x, s, body, r
    Set x = CreateObject("MSXML2.XMLHTTP")
    x.open "GET", base & "/zero", False
    r = x.readyState
    x.send
    body = x.responseBody
    r = r & "|" & x.readyState & "|" & TypeName(body) & "|" & LenB(body) & "|" & AscB(MidB(x.responseText, 1, 1))
    Set s = CreateObject("ADODB.Stream")
    s.Type = 1 : s.Open : s.Write body : s.SaveToFile dir & "/zero.bin" : s.Close
    ' A POST of bytes: the text as GB2312 bytes, sent as they are.
    s.Type = 2 : s.Charset = "gb2312" : s.Open : s.WriteText "中" & Chr(0) & "x"
    s.Position = 0 : s.Type = 1
    body = s.Read
    x.open "POST", base & "/echo", False
    x.setRequestHeader "Content-Type", "application/octet-stream"
    x.setRequestHeader "X-Note", "bytes"
    x.send body
    r = r & "|" & x.status
    x.open "POST", base & "/echo", False, "user", "pa:ss"
    x.send "文本"
    r = r & "|" & Split(x.responseText, vbLf)(1)
    Main = r
End Function
)";
    EXPECT_EQ(Call(script, "Main", {Text(server.Url("")), Text(dir.path())}),
              "1|4|Byte()|5|97|200|body=文本");
    EXPECT_EQ(ReadFile(dir / "zero.bin"), std::string("ab\0cd", 5));
    const std::vector<httptest::Request> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].body, std::string("\xD6\xD0\0x", 4));
    EXPECT_EQ(requests[1].Header("X-Note"), "bytes");
    EXPECT_EQ(requests[1].Header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(requests[2].body, "\xE6\x96\x87\xE6\x9C\xAC");
    EXPECT_EQ(requests[2].Header("Authorization"), "Basic dXNlcjpwYTpzcw==");
}

TEST(XmlHttp, FailuresAndMisuseRaiseErrors) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    const std::string refused = "http://127.0.0.1:" + std::to_string(httptest::UnusedPort()) + "/";
    const char *script = R"vbs(
Function Try(progId, what, url)
    Dim x : Set x = CreateObject(progId)
    On Error Resume Next
    Select Case what
    Case "async" : x.open "GET", url, True
    Case "send" : x.send
    Case "status" : x.open "GET", url, False : n = x.status
    Case "fetch" : x.open "GET", url, False : x.send
    Case "header" : x.open "GET", url, False : x.send : n = x.getResponseHeader("X-Missing") & "."
    Case "timeout" : x.setTimeouts 1000, 1000, 1000, 1000 : x.open "GET", url, False : x.send
    End Select
    Try = Hex(Err.Number) & " " & Err.Source & " " & n
    If Err.Number <> 0 And Err.Description = "" Then Try = Try & " (no description)"
End Function
)vbs";
    auto run = [&](const char *progId, const char *what, const std::string &url) {
        return Call(script, "Try", {Text(progId), Text(what), Text(url)});
    };
    EXPECT_EQ(run("MSXML2.XMLHTTP", "async", server.Url("/hello")), "80004001 msxml3.dll ");
    EXPECT_EQ(run("MSXML2.XMLHTTP", "send", ""), "8000FFFF msxml3.dll ");
    EXPECT_EQ(run("WinHttp.WinHttpRequest.5.1", "send", ""), "80072EF3 WinHttp.WinHttpRequest ");
    EXPECT_EQ(run("MSXML2.XMLHTTP.6.0", "status", server.Url("/hello")), "8000000A msxml6.dll ");
    EXPECT_EQ(run("MSXML2.XMLHTTP", "fetch", refused), "800C0005 msxml3.dll ");
    EXPECT_EQ(run("MSXML2.ServerXMLHTTP", "fetch", refused), "80072EFD msxml3.dll ");
    EXPECT_EQ(run("WinHttp.WinHttpRequest.5.1", "fetch", refused),
              "80072EFD WinHttp.WinHttpRequest ");
    EXPECT_EQ(run("MSXML2.XMLHTTP", "header", server.Url("/hello")), "0  .");
    EXPECT_EQ(run("WinHttp.WinHttpRequest.5.1", "header", server.Url("/hello")),
              "80072F76 WinHttp.WinHttpRequest ");
    EXPECT_EQ(run("WinHttp.WinHttpRequest.5.1", "timeout", server.Url("/silent")),
              "80072EE2 WinHttp.WinHttpRequest ");
}

} // namespace
