' Text files: ANSI and Unicode round trips, appending, line endings, reading by characters and
' the errors of reading past the end and of the wrong mode. Returns one line per check.
Function Main(dir)
    Dim fso, out, p, t, s, n
    Set fso = CreateObject("Scripting.FileSystemObject")
    p = fso.BuildPath(dir, "ansi.txt")
    s = "abc " & ChrW(&H4E2D) & ChrW(&H6587)

    Set t = fso.CreateTextFile(p, True)
    t.WriteLine s
    t.Write "second"
    t.Close
    out = "ansi size " & fso.GetFile(p).Size
    Set t = fso.OpenTextFile(p, 1)
    out = out & vbLf & "ansi read " & (t.ReadLine = s) & " " & t.ReadLine & " " & t.AtEndOfStream
    t.Close

    Set t = fso.OpenTextFile(p, 8)
    t.WriteBlankLines 2
    t.Write "end"
    t.Close
    Set t = fso.OpenTextFile(p, 1)
    n = 0
    Do Until t.AtEndOfStream
        t.SkipLine
        n = n + 1
    Loop
    out = out & vbLf & "lines after append " & n & " line " & t.Line
    t.Close

    p = fso.BuildPath(dir, "unicode.txt")
    Set t = fso.CreateTextFile(p, True, True)
    t.Write s
    t.Close
    out = out & vbLf & "unicode size " & fso.GetFile(p).Size
    Set t = fso.OpenTextFile(p, 1, False, -1)
    out = out & vbLf & "unicode read " & (t.ReadAll = s)
    t.Close

    Set t = fso.OpenTextFile(p, 1, False, -1)
    out = out & vbLf & "chars " & t.Read(2) & " col " & t.Column
    t.Skip 2
    out = out & " then " & AscW(t.Read(1)) & " eol " & t.AtEndOfLine
    t.Close

    p = fso.BuildPath(dir, "mixed.txt")
    Set t = fso.CreateTextFile(p, True)
    t.Write "one" & vbCrLf & "two" & vbLf & "three" & vbCrLf
    t.Close
    Set t = fso.OpenTextFile(p)
    out = out & vbLf & "mixed " & t.ReadLine & "," & t.ReadLine & "," & t.ReadLine & " " & t.AtEndOfStream
    On Error Resume Next
    s = t.ReadLine
    out = out & vbLf & "past end " & Err.Number & " " & Err.Description
    Err.Clear
    t.Write "x"
    out = out & vbLf & "write on reader " & Err.Number & " " & Err.Description
    Err.Clear
    t.Close
    Set t = fso.OpenTextFile(fso.BuildPath(dir, "none.txt"), 1, False)
    out = out & vbLf & "missing " & Err.Number & " " & Err.Description
    Err.Clear
    Set t = fso.CreateTextFile(p, False)
    out = out & vbLf & "exists " & Err.Number & " " & Err.Description
    Err.Clear
    Main = out
End Function
