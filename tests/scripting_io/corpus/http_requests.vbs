' The XMLHTTP objects against the loopback server: text by the declared charset, status,
' headers, a POST of text and of bytes, and the body's bytes.
Function Fetch(progId, method, url, body)
    Dim x
    Set x = CreateObject(progId)
    x.open method, url, False
    If method = "POST" Then x.setRequestHeader "Content-Type", "text/plain; charset=utf-8"
    If IsEmpty(body) Then x.send Else x.send body
    Set Fetch = x
End Function

Function Main(dir, url)
    Dim x, r, lines, body, s
    Set x = Fetch("MSXML2.XMLHTTP", "GET", url & "/gbk", Empty)
    r = "gbk: " & x.status & " " & x.statusText & " " & x.responseText & vbCrLf
    Set x = Fetch("MSXML2.ServerXMLHTTP", "GET", url & "/utf8", Empty)
    r = r & "utf8: " & x.responseText & " (" & x.getResponseHeader("Content-Type") & ")" & vbCrLf
    Set x = Fetch("WinHttp.WinHttpRequest.5.1", "GET", url & "/status/404", Empty)
    r = r & "missing: " & x.status & " " & x.statusText & " " & x.responseText & vbCrLf
    Set x = Fetch("Microsoft.XMLHTTP", "GET", url & "/hello", Empty)
    r = r & "hello: " & x.responseText & ", note " & x.getResponseHeader("X-Server-Note") & vbCrLf
    Set x = Fetch("MSXML2.XMLHTTP.6.0", "POST", url & "/echo", "名字=值")
    lines = Split(x.responseText, vbLf)
    r = r & "post text: " & lines(0) & " " & lines(1) & vbCrLf
    Set x = Fetch("MSXML2.XMLHTTP", "GET", url & "/zero", Empty)
    body = x.responseBody
    r = r & "zero: " & TypeName(body) & " of " & LenB(body) & vbCrLf
    Set s = CreateObject("ADODB.Stream")
    s.Type = 2
    s.Charset = "us-ascii"
    s.Open
    s.WriteText "sent as bytes"
    s.Position = 0
    s.Type = 1
    body = s.Read
    Set x = Fetch("MSXML2.ServerXMLHTTP.6.0", "POST", url & "/echo", body)
    lines = Split(x.responseText, vbLf)
    r = r & "post bytes: " & lines(0) & " " & lines(1) & vbCrLf
    Main = r
End Function
