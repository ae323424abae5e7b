// A batch of HTTP requests run at the same time, one thread per request.
#pragma once

#include "kestrun/automation/http/request_object.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace kestrun::http {

// 未填写网址！
inline constexpr char kNoUrlMessage[] = "\xCE\xB4\xCC\xEE\xD0\xB4\xCD\xF8\xD6\xB7\xA3\xA1";
// 请求类型不支持！
inline constexpr char kUnsupportedMethodMessage[] =
    "\xC7\xEB\xC7\xF3\xC0\xE0\xD0\xCD\xB2\xBB\xD6\xA7\xB3\xD6\xA3\xA1";
// 线程创建失败！ (a row whose thread could not be started)
inline constexpr char kThreadFailedMessage[] =
    "\xCF\xDF\xB3\xCC\xB4\xB4\xBD\xA8\xCA\xA7\xB0\xDC\xA3\xA1";

// One request of the batch. The row's thread is the only one that touches it while it runs.
struct RequestSlot {
    int32_t index = 0;
    std::string url;
    std::string method;
    std::string requestHeaders;
    std::string body;
    int32_t asText = 0;
    std::string responseHeaders;
    std::string result;
};

// A decimal number as the C library's atoi reads it: leading blanks, an optional sign, digits up
// to the first non-digit; no digits give 0. Values beyond 32 bits saturate.
int32_t ReadDecimal(std::string_view text);

// Runs the slot's request (GET or POST, any case) with the request object of kind 0 and stores
// the outcome in the slot.
void RequestThread(RequestSlot &slot, const RequestObjectFactory &factory);

// Starts a thread running `work`; throws std::system_error when no thread can be started.
using ThreadStarter = std::function<std::jthread(std::function<void()> work)>;
ThreadStarter OperatingSystemThreads();

// Reads row i with `readRow` and starts its thread at once, for i from 0 to count - 1; waits for
// every thread; then hands each row's result to `writeResult` in row order. A row whose thread
// cannot be started gets kThreadFailedMessage.
void RunRequestBatch(size_t count, const std::function<RequestSlot(size_t)> &readRow,
                     const std::function<void(size_t, const std::string &)> &writeResult,
                     const RequestObjectFactory &factory,
                     const ThreadStarter &startThread = OperatingSystemThreads());

} // namespace kestrun::http
