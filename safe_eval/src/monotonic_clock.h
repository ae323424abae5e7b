// The one platform service the machine uses: the monotonic clock. Kept inline because the machine
// reads it before every instruction.
#pragma once

#include <cstdint>
#include <ctime>

namespace safe_eval {

// An instant of the monotonic clock as whole seconds and nanoseconds (0..999999999).
struct MonoInstant {
    std::int64_t sec = 0;
    std::int64_t nsec = 0;

    friend bool operator<(const MonoInstant &a, const MonoInstant &b) {
        return a.sec < b.sec || (a.sec == b.sec && a.nsec < b.nsec);
    }
};

inline MonoInstant monotonic_now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return MonoInstant{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int64_t>(ts.tv_nsec)};
}

// The instant `ms` milliseconds after `start`: whole seconds and the remainder as nanoseconds,
// carrying into the seconds when the nanoseconds reach one second.
inline MonoInstant add_milliseconds(MonoInstant start, std::uint32_t ms) {
    MonoInstant out{start.sec + static_cast<std::int64_t>(ms / 1000),
                    start.nsec + static_cast<std::int64_t>(ms % 1000) * 1000000};
    if (out.nsec >= 1000000000) {
        out.nsec -= 1000000000;
        out.sec += 1;
    }
    return out;
}

} // namespace safe_eval
