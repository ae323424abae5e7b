' Folders and files: a small tree made, listed, copied with wildcards, moved, renamed and
' deleted, with the errors of missing and existing names. Names only, never full paths, so
' that the text is the same with either separator.
Function Main(dir)
    Dim fso, out, root, f, t, names
    Set fso = CreateObject("Scripting.FileSystemObject")
    root = fso.BuildPath(dir, "tree")
    fso.CreateFolder root
    fso.CreateFolder fso.BuildPath(root, "docs")
    fso.CreateFolder fso.BuildPath(root, "logs")
    fso.CreateTextFile(fso.BuildPath(root, "a.txt")).Write "aaaa"
    fso.CreateTextFile(fso.BuildPath(root, "b.txt")).Write "bb"
    fso.CreateTextFile(fso.BuildPath(root, "c.log")).Write "c"

    Set f = fso.GetFolder(root)
    out = "files " & f.Files.Count & " folders " & f.SubFolders.Count & " size " & f.Size
    names = ""
    For Each t In f.Files
        names = names & t.Name & "=" & t.Size & "/" & (t.Attributes And 16) & " "
    Next
    out = out & vbLf & "list " & names
    names = ""
    For Each t In f.SubFolders
        names = names & t.Name & "/" & (t.Attributes And 16) & " "
    Next
    out = out & vbLf & "subfolders " & names

    fso.CopyFile fso.BuildPath(root, "*.txt"), fso.BuildPath(root, "docs")
    out = out & vbLf & "copied " & fso.GetFolder(fso.BuildPath(root, "docs")).Files.Count
    fso.MoveFile fso.BuildPath(root, "*.log"), fso.BuildPath(root, "logs")
    out = out & vbLf & "moved " & fso.FileExists(fso.BuildPath(root, "c.log")) & " " & _
        fso.FileExists(fso.BuildPath(fso.BuildPath(root, "logs"), "c.log"))
    fso.CopyFolder fso.BuildPath(root, "docs"), fso.BuildPath(root, "backup")
    out = out & vbLf & "backup " & fso.GetFolder(fso.BuildPath(root, "backup")).Files.Count

    Set t = fso.GetFile(fso.BuildPath(root, "b.txt"))
    t.Name = "renamed.txt"
    out = out & vbLf & "renamed " & t.Name & " " & fso.FileExists(fso.BuildPath(root, "b.txt"))
    out = out & vbLf & "parts " & fso.GetBaseName(t.Path) & " " & fso.GetExtensionName(t.Path) & _
        " " & fso.GetFileName(t.Path) & " " & fso.GetFileName(fso.GetParentFolderName(t.Path)) & _
        " " & t.ParentFolder.Name

    On Error Resume Next
    fso.CopyFile fso.BuildPath(root, "a.txt"), fso.BuildPath(fso.BuildPath(root, "docs"), "a.txt"), False
    out = out & vbLf & "copy onto existing " & Err.Number & " " & Err.Description
    Err.Clear
    fso.DeleteFile fso.BuildPath(root, "nothing.txt")
    out = out & vbLf & "delete missing " & Err.Number & " " & Err.Description
    Err.Clear
    fso.GetFolder fso.BuildPath(root, "nothing")
    out = out & vbLf & "missing folder " & Err.Number & " " & Err.Description
    Err.Clear
    fso.CreateFolder fso.BuildPath(root, "docs")
    out = out & vbLf & "folder exists " & Err.Number & " " & Err.Description
    Err.Clear
    fso.MoveFile fso.BuildPath(root, "a.txt"), fso.BuildPath(root, "renamed.txt")
    out = out & vbLf & "move onto existing " & Err.Number
    Err.Clear
    On Error GoTo 0

    fso.DeleteFile fso.BuildPath(fso.BuildPath(root, "docs"), "*.txt")
    out = out & vbLf & "after delete " & fso.GetFolder(fso.BuildPath(root, "docs")).Files.Count
    fso.DeleteFolder fso.BuildPath(root, "backup")
    fso.GetFolder(fso.BuildPath(root, "logs")).Delete
    out = out & vbLf & "left " & fso.GetFolder(root).SubFolders.Count & " " & _
        fso.GetFolder(root).Files.Count
    fso.DeleteFolder root
    out = out & vbLf & "gone " & fso.FolderExists(root)
    Main = out
End Function
