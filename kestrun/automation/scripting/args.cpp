#include "kestrun/automation/scripting/args.h"

#include "vbscript/ops.h"

namespace kestrun::scripting {

using vbscript::ScriptError;

bool HasArg(Args args, size_t i) {
    return i < args.size() && !vbscript::isMissing(*args[i]);
}

void CheckArgCount(Args args, size_t min, size_t max) {
    if (args.size() < min || args.size() > max)
        vbscript::raise(vbscript::err::WrongArgs);
}

std::u16string ArgText(Interp &in, Args args, size_t i, std::u16string_view fallback) {
    return HasArg(args, i) ? vbscript::toStr(in, *args[i]) : std::u16string(fallback);
}

int32_t ArgLong(Interp &in, Args args, size_t i, int32_t fallback) {
    return HasArg(args, i) ? vbscript::toLong(in, *args[i]) : fallback;
}

bool ArgBool(Interp &in, Args args, size_t i, bool fallback) {
    return HasArg(args, i) ? vbscript::toBool(in, *args[i]) : fallback;
}

void RaiseFrom(std::u16string_view source, int32_t number) {
    RaiseFrom(source, number, vbscript::errorDescription(number));
}

void RaiseFrom(std::u16string_view source, int32_t number, std::u16string description) {
    ScriptError e(number, std::move(description));
    e.source = std::u16string(source);
    throw e;
}

} // namespace kestrun::scripting
