// The local time from the C library's time zone rules (TZ, /etc/localtime).
#include "interp.h"

#include <chrono>
#include <ctime>

namespace kestrun::vbscript {

LocalTime localNow() {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    LocalTime out;
    if (!localtime_r(&t, &tm))
        return out;
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    out.millisecond = static_cast<int>((ms.count() % 1000 + 1000) % 1000);
    return out;
}

} // namespace kestrun::vbscript
