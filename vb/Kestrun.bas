Attribute VB_Name = "Kestrun"
' Declarations of Kestrun.dll, made by tools/make-vb-modules.sh from the export list.
' For Visual Basic 6 and 32-bit VBA: the 32-bit Kestrun.dll.
' Strings cross as ANSI (code page 936) text; results are new strings.
Option Explicit

Public Declare Function Base64Encode_GB Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function Base64Decode_GB Lib "Kestrun.dll" (ByVal base64 As String) As String
Public Declare Function Base64Encode_UTF8 Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function Base64Decode_UTF8 Lib "Kestrun.dll" (ByVal base64 As String) As String
Public Declare Function UrlEncode_GB Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function UrlDecode_GB Lib "Kestrun.dll" (ByVal encoded As String) As String
Public Declare Function UrlEncode_UTF8 Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function UrlDecode_UTF8 Lib "Kestrun.dll" (ByVal encoded As String) As String
Public Declare Function UnicodeEncode Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function UnicodeDecode Lib "Kestrun.dll" (ByVal escaped As String) As String
Public Declare Function HTMLEncode Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function HTMLDecode Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function NoHTML Lib "Kestrun.dll" (ByVal markup As String, ByVal options As Integer) As String
Public Declare Function StrToHex_GB Lib "Kestrun.dll" (ByRef text As String, ByVal upperCase As Long) As String
Public Declare Function StrToHex_UTF8 Lib "Kestrun.dll" (ByRef text As String, ByVal upperCase As Long) As String
Public Declare Function HexToStr_GB Lib "Kestrun.dll" (ByRef hex As String) As String
Public Declare Function HexToStr_UTF8 Lib "Kestrun.dll" (ByRef hex As String) As String
Public Declare Function MD516_GB Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function MD532_GB Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function MD516_UTF8 Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function MD532_UTF8 Lib "Kestrun.dll" (ByVal text As String) As String
Public Declare Function AESEncrypt_GB Lib "Kestrun.dll" (ByVal text As String, ByVal key As String, ByVal iv As String, ByVal mode As Long, ByVal padding As Long, ByVal encoding As Long) As String
Public Declare Function AESEncrypt_UTF8 Lib "Kestrun.dll" (ByVal text As String, ByVal key As String, ByVal iv As String, ByVal mode As Long, ByVal padding As Long, ByVal encoding As Long) As String
Public Declare Function AESDecrypt_GB Lib "Kestrun.dll" (ByVal cipherText As String, ByVal key As String, ByVal iv As String, ByVal mode As Long, ByVal padding As Long, ByVal encoding As Long) As String
Public Declare Function AESDecrypt_UTF8 Lib "Kestrun.dll" (ByVal cipherText As String, ByVal key As String, ByVal iv As String, ByVal mode As Long, ByVal padding As Long, ByVal encoding As Long) As String
Public Declare Function AESEncryptTxtFile_GB Lib "Kestrun.dll" (ByVal sourcePath As String, ByVal targetPath As String, ByVal key As String, ByVal iv As String, ByVal mode As Long) As String
Public Declare Function AESDecryptTxtFile_GB Lib "Kestrun.dll" (ByVal sourcePath As String, ByVal targetPath As String, ByVal key As String, ByVal iv As String, ByVal mode As Long) As String
Public Declare Function MakeQRCode Lib "Kestrun.dll" (ByRef text As String, ByRef fileName As String, ByVal size As Long, ByVal level As Long, ByVal quality As Long) As String
Public Declare Function ScanQRImage Lib "Kestrun.dll" (ByRef fileName As String, ByVal hybrid As Boolean, ByRef errorText As String, ByVal utf8 As Long) As String
Public Declare Function ImageToJPG Lib "Kestrun.dll" (ByRef sourceFile As String, ByRef targetFile As String, ByVal quality As Long) As String
Public Declare Function ImageToBMP Lib "Kestrun.dll" (ByRef sourceFile As String, ByRef targetFile As String) As String
Public Declare Sub SetFormIcon Lib "Kestrun.dll" (ByRef window As Long, ByRef iconFile As String, ByRef skinFolder As String)
Public Declare Sub LoadPNG Lib "Kestrun.dll" (ByRef window As Long, ByRef imageFile As String, ByVal left As Long, ByVal top As Long, ByVal width As Long, ByVal height As Long, ByRef skinFolder As String)
Public Declare Function SQLite_Open Lib "Kestrun.dll" (ByRef connection As Long, ByRef databasePath As String, ByRef message As String) As Long
Public Declare Function SQLite_Execute Lib "Kestrun.dll" (ByRef connection As Long, ByRef sql As String, ByRef message As String) As Long
Public Declare Function SQLite_Close Lib "Kestrun.dll" (ByRef connection As Long) As Long
Public Declare Function SQLite_ReadData Lib "Kestrun.dll" (ByRef connection As Long, ByRef sql As String, ByRef result() As String, ByRef message As String) As Long
Public Declare Function ReadINIValue Lib "Kestrun.dll" (ByRef section As String, ByRef key As String, ByRef defaultValue As String, ByRef file As String) As String
Public Declare Function WriteINIValue Lib "Kestrun.dll" (ByRef section As String, ByRef key As String, ByRef value As String, ByRef file As String) As Long
Public Declare Function Regex_Search Lib "Kestrun.dll" (ByRef text As String, ByRef pattern As String, ByRef matches() As String, ByVal limit As Integer) As Integer
Public Declare Function Regex_Replace Lib "Kestrun.dll" (ByRef text As String, ByRef pattern As String, ByRef replacement As String) As String
Public Declare Function ExplodeData Lib "Kestrun.dll" (ByRef text As String, ByRef startMarker As String, ByRef endMarker As String) As String
Public Declare Function StrCompare Lib "Kestrun.dll" (ByRef first As String, ByRef second As String) As Double
Public Declare Function Permutation Lib "Kestrun.dll" (ByRef items As String, ByRef separator As String, ByRef count As Long) As String
Public Declare Function Combination Lib "Kestrun.dll" (ByRef items As String, ByRef separator As String, ByRef count As Long) As String
Public Declare Function XMLHTTP_Get Lib "Kestrun.dll" (ByRef url As String, ByRef requestHeaders As String, ByRef responseHeaders As String, ByVal asText As Long, ByVal objectKind As Long) As String
Public Declare Function XMLHTTP_Post Lib "Kestrun.dll" (ByRef url As String, ByRef body As String, ByRef requestHeaders As String, ByRef responseHeaders As String, ByVal asText As Long, ByVal objectKind As Long) As String
Public Declare Function Net_MT Lib "Kestrun.dll" (ByRef requests() As String) As Long
Public Declare Function RunVBScript Lib "Kestrun.dll" (ByRef script As String, ByRef errorText As String) As Long
Public Declare Function RunVBFunction Lib "Kestrun.dll" (ByRef script As String, ByRef functionName As String, ByRef arguments() As Variant, ByRef result As Variant, ByRef errorText As String) As Long
Public Declare Function RunVBFunction_MT Lib "Kestrun.dll" (ByRef calls() As String, ByRef arguments() As Variant, ByRef results() As Variant) As Long
Public Declare Function GetAnnotationFromPDF Lib "Kestrun.dll" (ByRef pdfFile As String, ByRef annotations() As String, ByRef errorText As String) As Long
Public Declare Function CombinePDF Lib "Kestrun.dll" (ByRef pdfFiles() As String, ByRef outputFile As String, ByRef errorText As String) As Long
Public Declare Function ShowOpenFile Lib "Kestrun.dll" (ByVal ownerWindow As Long, ByRef filter As String, ByRef initialFolder As String, ByRef fileTitle As String, ByRef separator As String, ByRef multiSelect As Long) As String
Public Declare Function ShowSaveFile Lib "Kestrun.dll" (ByVal ownerWindow As Long, ByRef filter As String, ByRef initialFolder As String, ByRef fileTitle As String, ByRef defaultExtension As String) As String
Public Declare Function ShowBrowserFolder Lib "Kestrun.dll" (ByVal ownerWindow As Long, ByRef initialFolder As String, ByRef title As String) As String
Public Declare Function Win_CopyFileToClipBoard Lib "Kestrun.dll" (ByVal filePath As String) As Long
