// The local time from the system's own clock and time zone settings.
#include "interp.h"

#include <windows.h>

namespace kestrun::vbscript {

LocalTime localNow() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    LocalTime out;
    out.year = st.wYear;
    out.month = st.wMonth;
    out.day = st.wDay;
    out.hour = st.wHour;
    out.minute = st.wMinute;
    out.second = st.wSecond;
    out.millisecond = st.wMilliseconds;
    return out;
}

} // namespace kestrun::vbscript
