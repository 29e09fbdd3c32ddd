#include "PlatformTime.h"

bool PlatformTime::localTime(time_t secs, struct tm *local, long *offsetSeconds)
{
    if (localtime_s(local, &secs) != 0)
        return false;
    // The local fields read as UTC, less the instant: the offset in force,
    // summer time included.
    struct tm copy = *local;
    const time_t asUtc = _mkgmtime(&copy);
    if (asUtc == time_t(-1))
        return false;
    *offsetSeconds = long(asUtc - secs);
    return true;
}
