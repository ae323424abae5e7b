// Reading the arguments of a member call on a standard object, and raising the errors such
// objects report (with Err.Source set to the object's name).
#pragma once

#include "vbscript/interp.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::scripting {

using vbscript::Args;
using vbscript::Interp;
using vbscript::Value;

// True when argument `i` was passed and not left out (`f(1, , 3)`).
bool HasArg(Args args, size_t i);
// Raises 450 (wrong number of arguments) unless min <= args.size() <= max.
void CheckArgCount(Args args, size_t min, size_t max);
std::u16string ArgText(Interp &in, Args args, size_t i, std::u16string_view fallback = {});
int32_t ArgLong(Interp &in, Args args, size_t i, int32_t fallback = 0);
bool ArgBool(Interp &in, Args args, size_t i, bool fallback = false);

// Raises error `number` with the language's description for it and `source` as Err.Source.
[[noreturn]] void RaiseFrom(std::u16string_view source, int32_t number);
// The same with a description of the object's own.
[[noreturn]] void RaiseFrom(std::u16string_view source, int32_t number, std::u16string description);

} // namespace kestrun::scripting
