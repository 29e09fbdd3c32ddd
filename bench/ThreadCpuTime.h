#ifndef THREADCPUTIME_H
#define THREADCPUTIME_H

#include <QtCore/qglobal.h>

#include <ctime>

namespace BenchHost {

// This thread's CPU time: time spent descheduled on a busy machine is not in it.
inline qint64 threadCpuNs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

} // namespace BenchHost

#endif // THREADCPUTIME_H
