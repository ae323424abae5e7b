// The script host's logic over GBK byte strings: run statements, or load code and call one of
// its functions. Failures come back as 0 and a message; nothing throws except std::bad_alloc.
#pragma once

#include "kestrun/automation/vbscript/control.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::vbscript {

// "没有要执行的代码！" (no code to run) in GBK.
inline constexpr char kNoCodeMessage[] =
    "\xC3\xBB\xD3\xD0\xD2\xAA\xD6\xB4\xD0\xD0\xB5\xC4\xB4\xFA\xC2\xEB\xA3\xA1";

// "<number>-行<line>发生错误。<description>" in GBK ("error in line ... :").
std::string ScriptErrorMessage(const ScriptErrorRecord &record);

// Executes `script` (GBK statements). 1 on success; 0 with `errorText` set otherwise.
int32_t RunScript(std::string_view script, std::string &errorText);

// A function's return value with the engine that owns any objects it refers to. The value is
// declared after the engine so that it is released first.
struct FunctionResult {
    std::shared_ptr<Interp> engine;
    Value value;
};

// Loads `script` and calls `functionName` with `args`. On success stores the return value in
// `result` and returns 1; otherwise returns 0 with `errorText` set and `result` untouched.
int32_t RunFunction(std::string_view script, std::string_view functionName, std::vector<Value> args,
                    FunctionResult &result, std::string &errorText, bool allowUI = true);

} // namespace kestrun::vbscript
