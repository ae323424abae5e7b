// The exports of the families that Kestrun.dll does not carry yet (HTTP requests, the script
// host, PDF operations, the shell dialogs and the clipboard). Each answers without touching
// anything: a String result or error text says that the function is not part of this build, a Long
// result reports failure.
#include "kestrun.h"
#include "kestrun/interop/frame.h"

#include <string>

using namespace kestrun::interop;

namespace {

std::string Missing(const char *name) {
    return std::string(name) + " is not part of this build of Kestrun.dll";
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL XMLHTTP_Get(BSTR *, BSTR *, BSTR *responseHeaders, int32_t,
                                             int32_t) {
    return GuardString([&] {
        WriteOutString(responseHeaders, "");
        return StringResult(Missing("XMLHTTP_Get"));
    });
}

KESTRUN_EXPORT BSTR KESTRUN_CALL XMLHTTP_Post(BSTR *, BSTR *, BSTR *, BSTR *responseHeaders,
                                              int32_t, int32_t) {
    return GuardString([&] {
        WriteOutString(responseHeaders, "");
        return StringResult(Missing("XMLHTTP_Post"));
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL Net_MT(SAFEARRAY **) {
    return 0;
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ShowOpenFile(intptr_t, BSTR *, BSTR *, BSTR *, BSTR *, int32_t *) {
    return StringResult("");
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ShowSaveFile(intptr_t, BSTR *, BSTR *, BSTR *, BSTR *) {
    return StringResult("");
}

KESTRUN_EXPORT BSTR KESTRUN_CALL ShowBrowserFolder(intptr_t, BSTR *, BSTR *) {
    return StringResult("");
}

KESTRUN_EXPORT int32_t KESTRUN_CALL Win_CopyFileToClipBoard(const char *) {
    return 0;
}

KESTRUN_EXPORT int32_t KESTRUN_CALL RunVBScript(BSTR *, BSTR *errorText) {
    return Guard(0, [&] {
        WriteOutString(errorText, Missing("RunVBScript"));
        return 0;
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL RunVBFunction(BSTR *, BSTR *, SAFEARRAY **, VARIANT *,
                                                  BSTR *errorText) {
    return Guard(0, [&] {
        WriteOutString(errorText, Missing("RunVBFunction"));
        return 0;
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL RunVBFunction_MT(SAFEARRAY **, SAFEARRAY **, SAFEARRAY **) {
    return 0;
}

KESTRUN_EXPORT int32_t KESTRUN_CALL GetAnnotationFromPDF(BSTR *, SAFEARRAY **, BSTR *errorText) {
    return Guard(0, [&] {
        WriteOutString(errorText, Missing("GetAnnotationFromPDF"));
        return 0;
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL CombinePDF(SAFEARRAY **, BSTR *, BSTR *errorText) {
    return Guard(0, [&] {
        WriteOutString(errorText, Missing("CombinePDF"));
        return 0;
    });
}
