#include "ThreadPriority.h"

#include <QtCore/QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif
#ifdef Q_OS_LINUX
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

void ThreadPriority::lowerCurrentThread()
{
#ifdef Q_OS_LINUX
    // QThread::LowPriority means nothing to Linux's default scheduler; a
    // higher nice value for this thread alone does.
    const auto tid = id_t(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, qMin(nice + 10, 19));
#elif defined(Q_OS_WIN)
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
#endif
}
