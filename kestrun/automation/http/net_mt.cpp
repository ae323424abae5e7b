#include "kestrun/automation/http/net_mt.h"

#include "kestrun/automation/http/xmlhttp.h"
#include "kestrun/interop/errors.h"

#include <limits>
#include <vector>

namespace kestrun::http {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'a' && x <= 'z') {
            x = static_cast<char>(x - 'a' + 'A');
        }
        if (x != b[i]) {
            return false;
        }
    }
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

int32_t ReadDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) {
        return static_cast<int32_t>(-value);
    }
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

void RequestThread(RequestSlot &slot, const RequestObjectFactory &factory) {
    try {
        if (slot.url.empty()) {
            slot.result = kNoUrlMessage;
        } else if (EqualsIgnoringCase(slot.method, "GET")) {
            auto outcome = PerformXmlHttp(Verb::Get, slot.url, slot.requestHeaders, {}, slot.asText,
                                          0, factory);
            slot.result = std::move(outcome.result);
            slot.responseHeaders = std::move(outcome.responseHeaders);
        } else if (EqualsIgnoringCase(slot.method, "POST")) {
            auto outcome = PerformXmlHttp(Verb::Post, slot.url, slot.requestHeaders, slot.body,
                                          slot.asText, 0, factory);
            slot.result = std::move(outcome.result);
            slot.responseHeaders = std::move(outcome.responseHeaders);
        } else {
            slot.result = kUnsupportedMethodMessage;
        }
    } catch (...) {
        interop::ExceptionMessage(slot.result);
    }
}

ThreadStarter OperatingSystemThreads() {
    return [](std::function<void()> work) { return std::jthread(std::move(work)); };
}

void RunRequestBatch(size_t count, const std::function<RequestSlot(size_t)> &readRow,
                     const std::function<void(size_t, const std::string &)> &writeResult,
                     const RequestObjectFactory &factory, const ThreadStarter &startThread) {
    // All slots exist before the first thread starts and stay in place until the last has been
    // joined; the threads are declared after the slots, so even an exception while rows are
    // still being read joins every started thread before a slot goes away.
    std::vector<RequestSlot> slots(count);
    std::vector<std::jthread> threads(count);
    for (size_t i = 0; i < count; ++i) {
        slots[i] = readRow(i);
        slots[i].index = static_cast<int32_t>(i);
        slots[i].responseHeaders.clear();
        slots[i].result.clear();
        try {
            threads[i] =
                startThread([&slot = slots[i], &factory] { RequestThread(slot, factory); });
        } catch (const std::system_error &) {
            slots[i].result = kThreadFailedMessage;
        }
    }
    // Joined one by one: however many rows there are, every thread has ended before any
    // result is read.
    for (std::jthread &thread : threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    for (size_t i = 0; i < count; ++i) {
        writeResult(i, slots[i].result);
    }
}

} // namespace kestrun::http
