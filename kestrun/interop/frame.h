// Everything an export shim needs: boundary types, conversions, helpers, failure reporting.
//
// An export reads its arguments with InString / RefString / GetArrayString, calls a plain C++
// function over byte strings, and hands the outcome back with StringResult / WriteOutString /
// ReplaceOutArray + PutArrayString. No exception may leave an export: wrap the body in
// GuardString or Guard.
#pragma once

#include "kestrun.h"
#include "kestrun/interop/boundary.h"
#include "kestrun/interop/codepage.h"
#include "kestrun/interop/errors.h"
#include "kestrun/interop/result_buffer.h"
#include "kestrun/interop/strings.h"

// Exports: C linkage, unmangled; visible through the version script on Linux and through the
// module definition file on Windows (which also strips the __stdcall decoration of KESTRUN_CALL,
// defined in kestrun.h).
#ifdef _WIN32
#define KESTRUN_EXPORT extern "C"
#else
#define KESTRUN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace kestrun::interop {

// Runs `body` (returning BSTR); an escaping exception becomes its ExceptionMessage text.
template <class Body> BSTR GuardString(Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        std::string text;
        ExceptionMessage(text);
        return StringResult(text);
    }
}

// Runs `body`; an escaping exception gives `onFailure`.
template <class Result, class Body> Result Guard(Result onFailure, Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return onFailure;
    }
}

} // namespace kestrun::interop
