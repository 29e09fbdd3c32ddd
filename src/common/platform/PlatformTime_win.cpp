#include "PlatformTime.h"

#include <qt_windows.h>

bool PlatformTime::localTime(time_t secs, struct tm *local, long *offsetSeconds)
{
    // Windows's own time zone, as Qt uses it (the C runtime would follow a
    // TZ variable instead). For the current time the bias in force is right.
    constexpr qint64 kEpochDelta = 11644473600LL; // 1601-01-01 to 1970-01-01, in seconds
    ULARGE_INTEGER utcTicks;
    utcTicks.QuadPart = quint64(qint64(secs) + kEpochDelta) * 10000000ULL;
    FILETIME utc, there;
    utc.dwLowDateTime = utcTicks.LowPart;
    utc.dwHighDateTime = utcTicks.HighPart;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &there) || !FileTimeToSystemTime(&there, &st))
        return false;
    ULARGE_INTEGER localTicks;
    localTicks.LowPart = there.dwLowDateTime;
    localTicks.HighPart = there.dwHighDateTime;
    *local = {};
    local->tm_year = st.wYear - 1900;
    local->tm_mon = st.wMonth - 1;
    local->tm_mday = st.wDay;
    local->tm_hour = st.wHour;
    local->tm_min = st.wMinute;
    local->tm_sec = st.wSecond;
    local->tm_wday = st.wDayOfWeek;
    *offsetSeconds = long((qint64(localTicks.QuadPart) - qint64(utcTicks.QuadPart)) / 10000000);
    return true;
}
