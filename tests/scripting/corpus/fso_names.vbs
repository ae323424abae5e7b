' Names, collections and properties: path texts built with BuildPath, a folder listed through
' its collections, attributes, sizes and dates checked for plausibility, Unicode appending and
' reading an empty file. Only names and numbers are printed, never separators or full paths.
Function Main(dir)
    Dim fso, out, p, t, f, folder, item, n, name
    Set fso = CreateObject("Scripting.FileSystemObject")
    p = fso.BuildPath(fso.BuildPath(dir, "sub"), "report.final.txt")
    out = "base " & fso.GetBaseName(p) & " ext " & fso.GetExtensionName(p) & " file " & _
        fso.GetFileName(p) & " parent " & fso.GetFileName(fso.GetParentFolderName(p))
    out = out & vbLf & "noext [" & fso.GetExtensionName(fso.BuildPath(dir, "README")) & "] [" & _
        fso.GetBaseName(fso.BuildPath(dir, "README")) & "]"
    name = fso.GetTempName
    out = out & vbLf & "temp " & Len(name) & " " & Left(name, 3) & " " & Right(name, 4)
    out = out & vbLf & "absolute " & (fso.GetAbsolutePathName(dir) = fso.GetFolder(dir).Path)

    Set folder = fso.CreateFolder(fso.BuildPath(dir, "sub"))
    For n = 1 To 3
        Set t = folder.CreateTextFile(fso.BuildPath(folder.Path, "f" & n & ".dat"), True)
        t.Write String(n * 10, "x")
        t.Close
    Next
    folder.SubFolders.Add "inner"
    out = out & vbLf & "counts " & folder.Files.Count & " " & folder.SubFolders.Count & " " & _
        folder.Size & " " & folder.Files("f2.dat").Size & " " & folder.SubFolders("inner").Name
    n = 0
    For Each item In folder.Files
        n = n + item.Size
        out = out & " " & item.Name
    Next
    out = out & " total " & n

    Set f = folder.Files("f1.dat")
    out = out & vbLf & "attributes file " & (f.Attributes And 48) & " folder " & _
        (folder.Attributes And 48) & " root " & folder.IsRootFolder & " parent " & _
        (f.ParentFolder.Name = "sub") & " " & TypeName(f) & " " & TypeName(folder)
    out = out & vbLf & "dates " & (VarType(f.DateLastModified) = vbDate) & " " & _
        (Abs(DateDiff("n", f.DateLastModified, Now)) < 10) & " " & _
        (f.DateCreated <= f.DateLastModified + 2 / 86400)

    p = fso.BuildPath(dir, "log.txt")
    For n = 1 To 3
        Set t = fso.OpenTextFile(p, 8, True, -1)
        t.WriteLine "entry " & n & " " & ChrW(&H65E5)
        t.Close
    Next
    Set t = fso.OpenTextFile(p, 1, False, -1)
    n = 0
    Do While Not t.AtEndOfStream
        name = t.ReadLine
        n = n + 1
    Loop
    t.Close
    out = out & vbLf & "log " & n & " lines, last " & Left(name, 7) & " " & _
        AscW(Right(name, 1)) & ", size " & fso.GetFile(p).Size

    Set t = fso.CreateTextFile(fso.BuildPath(dir, "empty.txt"))
    t.Close
    Set t = fso.OpenTextFile(fso.BuildPath(dir, "empty.txt"))
    out = out & vbLf & "empty " & t.AtEndOfStream & " " & t.AtEndOfLine
    On Error Resume Next
    name = t.ReadAll
    out = out & " readall " & Err.Number
    Err.Clear
    t.Close
    Main = out
End Function
