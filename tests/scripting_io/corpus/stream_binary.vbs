' ADODB.Stream: lines, positions, truncation, copies between streams and the errors of misuse.
Function Attempt(s, what, path)
    Dim x
    On Error Resume Next
    Select Case what
    Case "negative position" : s.Position = -1
    Case "read from a text stream" : x = s.Read(1)
    Case "save over an existing file" : s.SaveToFile path, 1
    End Select
    Attempt = what & ": " & Err.Number & " " & Err.Source
End Function

Function Main(dir, url)
    Dim s, t, r, line
    Set s = CreateObject("ADODB.Stream")
    s.Type = 2
    s.Charset = "utf-8"
    s.Open
    s.WriteText "first", 1
    s.WriteText "第二", 1
    s.WriteText "third"
    r = "size " & s.Size & vbCrLf
    s.Position = 0
    Do Until s.EOS
        line = s.ReadText(-2)
        r = r & "line [" & line & "]" & vbCrLf
    Loop
    s.Position = 0
    r = r & "two characters: " & s.ReadText(2) & vbCrLf
    s.SkipLine
    r = r & "after SkipLine: " & s.ReadText(2) & vbCrLf
    s.Position = 10
    s.SetEOS
    s.Position = 0
    r = r & "cut at 10: [" & Replace(s.ReadText, vbCrLf, "|") & "], size " & s.Size & vbCrLf
    s.Position = 12
    r = r & "position 12 grows it to " & s.Size & vbCrLf

    Set t = CreateObject("ADODB.Stream")
    t.Type = 2
    t.Charset = "utf-8"
    t.Open
    s.Position = 3
    s.CopyTo t, 3
    t.Position = 0
    r = r & "copied 3 characters: [" & t.ReadText & "]" & vbCrLf

    t.SaveToFile dir & "/copy.txt", 2
    r = r & Attempt(s, "negative position", "") & vbCrLf
    r = r & Attempt(s, "read from a text stream", "") & vbCrLf
    r = r & Attempt(t, "save over an existing file", dir & "/copy.txt") & vbCrLf
    t.LoadFromFile dir & "/copy.txt"
    r = r & "file unchanged: [" & t.ReadText & "]" & vbCrLf
    Main = r
End Function
