Attribute VB_Name = "KestrunSample"
' A short tour of Kestrun.dll from Visual Basic 6 (with Kestrun.bas in the project) or from
' 64-bit VBA (with Kestrun64.bas instead). Kestrun.dll sits beside the program or on the PATH.
Option Explicit

Public Sub KestrunTour()
    Dim encoded As String, digest As String, message As String, hexText As String
    encoded = Base64Encode_GB("ÄãºÃ£¬ÊÀ½ç")
    Debug.Print "Base64: "; encoded; " -> "; Base64Decode_GB(encoded)
    digest = MD532_UTF8("abc")
    Debug.Print "MD5 of abc as UTF-8: "; digest
    hexText = "Kestrun"
    Debug.Print "Hex: "; StrToHex_GB(hexText, 1)

    ' A regular-expression search fills a string array with the matches.
    Dim text As String, pattern As String, found() As String, count As Integer
    text = "a1 b22 c333"
    pattern = "\d+"
    count = Regex_Search(text, pattern, found, 10)
    Debug.Print "Matches: "; count

    ' SQLite: the connection handle is a Long (LongPtr in 64-bit VBA).
#If VBA7 Then
    Dim db As LongPtr
#Else
    Dim db As Long
#End If
    Dim path As String, sql As String
    path = Environ$("TEMP") & "\kestrun-sample.db"
    If SQLite_Open(db, path, message) = 1 Then
        sql = "CREATE TABLE IF NOT EXISTS notes(body TEXT)"
        If SQLite_Execute(db, sql, message) <> 1 Then Debug.Print message
        SQLite_Close db
    Else
        Debug.Print message
    End If
End Sub
