' ADODB.Stream: the bytes each character set writes, and the text read back from them.

' The bytes of a Byte() array as hex: read through a UTF-16 text stream two bytes at a time
' (after a marker character, so that no byte-order mark is taken from the data).
Function HexOf(bytes)
    Dim s, text, i, u, n, r
    n = LenB(bytes)
    Set s = CreateObject("ADODB.Stream")
    s.Type = 1
    s.Open
    s.Write UnitBytes(65, 2)
    s.Write bytes
    If n Mod 2 = 1 Then s.Write UnitBytes(0, 1)
    s.Position = 0
    s.Type = 2
    s.Charset = "unicode"
    text = Mid(s.ReadText, 2)
    For i = 1 To Len(text)
        u = AscW(Mid(text, i, 1)) And &HFFFF&
        r = r & Right("0" & Hex(u And &HFF), 2)
        If (i * 2) <= n Then r = r & Right("0" & Hex(u \ 256), 2)
    Next
    HexOf = r
End Function

' The first `count` bytes of one UTF-16 character, as a Byte() array.
Function UnitBytes(code, count)
    Dim s
    Set s = CreateObject("ADODB.Stream")
    s.Type = 2
    s.Charset = "unicode"
    s.Open
    s.WriteText ChrW(code)
    s.Position = 0
    s.Type = 1
    s.Position = 2
    UnitBytes = s.Read(count)
End Function

Function SaveAndRead(dir, charset, text)
    Dim s, path, r
    path = dir & "/" & charset & ".txt"
    Set s = CreateObject("ADODB.Stream")
    s.Type = 2
    s.Charset = charset
    s.Open
    s.WriteText text
    r = charset & ": size " & s.Size
    s.SaveToFile path, 2
    s.Close
    s.Type = 1
    s.Open
    s.LoadFromFile path
    r = r & ", bytes " & HexOf(s.Read)
    s.Close
    s.Type = 2
    s.Charset = charset
    s.Open
    s.LoadFromFile path
    r = r & ", text " & s.ReadText(-1)
    s.Close
    SaveAndRead = r
End Function

Function Main(dir, url)
    Dim r, text
    text = "中文 ok" & vbCrLf & "end"
    r = SaveAndRead(dir, "utf-8", text) & vbCrLf
    r = r & SaveAndRead(dir, "gb2312", text) & vbCrLf
    r = r & SaveAndRead(dir, "unicode", text) & vbCrLf
    r = r & SaveAndRead(dir, "us-ascii", "plain" & vbTab & "ascii") & vbCrLf
    Main = r
End Function
