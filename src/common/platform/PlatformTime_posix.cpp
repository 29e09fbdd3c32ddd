#include "PlatformTime.h"

bool PlatformTime::localTime(time_t secs, struct tm *local, long *offsetSeconds)
{
    if (!localtime_r(&secs, local))
        return false;
    *offsetSeconds = local->tm_gmtoff;
    return true;
}
