/*
 * kestrun.h - the exports of libkestrun.so (Kestrun.dll on Windows) for C and C++ hosts.
 *
 * Strings: every text crosses the boundary as code page 936 (GBK) bytes.
 *   - in-string  (const char *): zero-terminated bytes; may be NULL.
 *   - ref-string (BSTR *): a variable holding a BSTR whose data are GBK bytes (make it with
 *     SysAllocStringByteLen); the library reads it up to its first zero byte and never frees it.
 *   - out-string (BSTR *): the library frees what the variable holds (SysFreeString) and stores a
 *     new BSTR that the host then owns and frees.
 *   - String results: a new BSTR over GBK bytes that the host frees with SysFreeString; a few
 *     exports document a NULL result.
 *   - string-array / variant-array (SAFEARRAY **): written arrays replace (and destroy) what the
 *     variable held; the host destroys the final array with SafeArrayDestroy.
 * Numbers: long = int32_t, integer = int16_t, flag = int32_t of which only the low 8 bits are
 * read. Handles that carry pointers (the SQLite connection, window handles) are intptr_t.
 * No export throws or keeps state between calls (but the SQLite connection the host holds).
 */
#ifndef KESTRUN_H
#define KESTRUN_H

#include <oleauto.h>
#include <stdint.h>

/* The calling convention of every export: __stdcall on 32-bit Windows (the callee removes its
 * arguments, as Visual Basic's Declare expects), the platform's own everywhere else. */
#ifndef KESTRUN_CALL
#if defined(_WIN32) && !defined(_WIN64)
#define KESTRUN_CALL __stdcall
#else
#define KESTRUN_CALL
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Text codecs */
BSTR KESTRUN_CALL Base64Encode_GB(const char *text);
BSTR KESTRUN_CALL Base64Decode_GB(const char *base64);
BSTR KESTRUN_CALL Base64Encode_UTF8(const char *text);
BSTR KESTRUN_CALL Base64Decode_UTF8(const char *base64);
BSTR KESTRUN_CALL UrlEncode_GB(const char *text);
BSTR KESTRUN_CALL UrlDecode_GB(const char *encoded);
BSTR KESTRUN_CALL UrlEncode_UTF8(const char *text);
BSTR KESTRUN_CALL UrlDecode_UTF8(const char *encoded);
BSTR KESTRUN_CALL UnicodeEncode(const char *text);
BSTR KESTRUN_CALL UnicodeDecode(const char *escaped);
BSTR KESTRUN_CALL HTMLEncode(const char *text);
BSTR KESTRUN_CALL HTMLDecode(const char *text);
BSTR KESTRUN_CALL NoHTML(const char *markup, int16_t options);
BSTR KESTRUN_CALL StrToHex_GB(BSTR *text, int32_t upperCase);
BSTR KESTRUN_CALL StrToHex_UTF8(BSTR *text, int32_t upperCase);
BSTR KESTRUN_CALL HexToStr_GB(BSTR *hex);
BSTR KESTRUN_CALL HexToStr_UTF8(BSTR *hex);

/* Digests and ciphers */
BSTR KESTRUN_CALL MD516_GB(const char *text);
BSTR KESTRUN_CALL MD532_GB(const char *text);
BSTR KESTRUN_CALL MD516_UTF8(const char *text);
BSTR KESTRUN_CALL MD532_UTF8(const char *text);
BSTR KESTRUN_CALL AESEncrypt_GB(const char *text, const char *key, const char *iv, int32_t mode,
                                int32_t padding, int32_t encoding);
BSTR KESTRUN_CALL AESEncrypt_UTF8(const char *text, const char *key, const char *iv, int32_t mode,
                                  int32_t padding, int32_t encoding);
BSTR KESTRUN_CALL AESDecrypt_GB(const char *cipherText, const char *key, const char *iv,
                                int32_t mode, int32_t padding, int32_t encoding);
BSTR KESTRUN_CALL AESDecrypt_UTF8(const char *cipherText, const char *key, const char *iv,
                                  int32_t mode, int32_t padding, int32_t encoding);
BSTR KESTRUN_CALL AESEncryptTxtFile_GB(const char *sourcePath, const char *targetPath,
                                       const char *key, const char *iv, int32_t mode);
BSTR KESTRUN_CALL AESDecryptTxtFile_GB(const char *sourcePath, const char *targetPath,
                                       const char *key, const char *iv, int32_t mode);

/* Barcodes and images */
BSTR KESTRUN_CALL MakeQRCode(BSTR *text, BSTR *fileName, int32_t size, int32_t level,
                             int32_t quality);
BSTR KESTRUN_CALL ScanQRImage(BSTR *fileName, int32_t hybrid, BSTR *errorText, int32_t utf8);
BSTR KESTRUN_CALL ImageToJPG(BSTR *sourceFile, BSTR *targetFile, int32_t quality);
BSTR KESTRUN_CALL ImageToBMP(BSTR *sourceFile, BSTR *targetFile);
void KESTRUN_CALL SetFormIcon(intptr_t *window, BSTR *iconFile, BSTR *skinFolder);
void KESTRUN_CALL LoadPNG(intptr_t *window, BSTR *imageFile, int32_t left, int32_t top,
                          int32_t width, int32_t height, BSTR *skinFolder);

/* Data stores */
int32_t KESTRUN_CALL SQLite_Open(intptr_t *connection, BSTR *databasePath, BSTR *message);
int32_t KESTRUN_CALL SQLite_Execute(intptr_t *connection, BSTR *sql, BSTR *message);
int32_t KESTRUN_CALL SQLite_Close(intptr_t *connection);
int32_t KESTRUN_CALL SQLite_ReadData(intptr_t *connection, BSTR *sql, SAFEARRAY **result,
                                     BSTR *message);
BSTR KESTRUN_CALL ReadINIValue(BSTR *section, BSTR *key, BSTR *defaultValue, BSTR *file);
int32_t KESTRUN_CALL WriteINIValue(BSTR *section, BSTR *key, BSTR *value, BSTR *file);

/* Text utilities */
int16_t KESTRUN_CALL Regex_Search(BSTR *text, BSTR *pattern, SAFEARRAY **matches, int16_t limit);
BSTR KESTRUN_CALL Regex_Replace(BSTR *text, BSTR *pattern, BSTR *replacement);
BSTR KESTRUN_CALL ExplodeData(BSTR *text, BSTR *startMarker, BSTR *endMarker);
double KESTRUN_CALL StrCompare(BSTR *first, BSTR *second);
BSTR KESTRUN_CALL Permutation(BSTR *items, BSTR *separator, int32_t *count);
BSTR KESTRUN_CALL Combination(BSTR *items, BSTR *separator, int32_t *count);

/* Automation */
BSTR KESTRUN_CALL XMLHTTP_Get(BSTR *url, BSTR *requestHeaders, BSTR *responseHeaders,
                              int32_t asText, int32_t objectKind);
BSTR KESTRUN_CALL XMLHTTP_Post(BSTR *url, BSTR *body, BSTR *requestHeaders, BSTR *responseHeaders,
                               int32_t asText, int32_t objectKind);
int32_t KESTRUN_CALL Net_MT(SAFEARRAY **requests);
int32_t KESTRUN_CALL RunVBScript(BSTR *script, BSTR *errorText);
int32_t KESTRUN_CALL RunVBFunction(BSTR *script, BSTR *functionName, SAFEARRAY **arguments,
                                   VARIANT *result, BSTR *errorText);
int32_t KESTRUN_CALL RunVBFunction_MT(SAFEARRAY **calls, SAFEARRAY **arguments,
                                      SAFEARRAY **results);
int32_t KESTRUN_CALL GetAnnotationFromPDF(BSTR *pdfFile, SAFEARRAY **annotations, BSTR *errorText);
int32_t KESTRUN_CALL CombinePDF(SAFEARRAY **pdfFiles, BSTR *outputFile, BSTR *errorText);

/* Shell */
BSTR KESTRUN_CALL ShowOpenFile(intptr_t ownerWindow, BSTR *filter, BSTR *initialFolder,
                               BSTR *fileTitle, BSTR *separator, int32_t *multiSelect);
BSTR KESTRUN_CALL ShowSaveFile(intptr_t ownerWindow, BSTR *filter, BSTR *initialFolder,
                               BSTR *fileTitle, BSTR *defaultExtension);
BSTR KESTRUN_CALL ShowBrowserFolder(intptr_t ownerWindow, BSTR *initialFolder, BSTR *title);
int32_t KESTRUN_CALL Win_CopyFileToClipBoard(const char *filePath);

#ifdef __cplusplus
}
#endif

#endif
