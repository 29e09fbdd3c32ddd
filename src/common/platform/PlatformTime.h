#ifndef PLATFORMTIME_H
#define PLATFORMTIME_H

#include <QtCore/qglobal.h>

#include <ctime>

// The broken-down local time of secs and its offset from UTC in seconds,
// through the system's own time-zone rules.
class PlatformTime
{
public:
    static bool localTime(time_t secs, struct tm *local, long *offsetSeconds);
};

#endif // PLATFORMTIME_H
