#include "InterruptCleanup.h"

#include <QFile>

#include <climits>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

const int Signals[] = {SIGINT, SIGTERM, SIGHUP};
const int SignalCount = int(sizeof Signals / sizeof Signals[0]);
const int MaxPaths = 2;

char paths[MaxPaths][PATH_MAX];
volatile sig_atomic_t pathCount = 0;
struct sigaction previous[SignalCount];
bool installed[SignalCount];
sigset_t previousMask;

void removeAndDie(int sig)
{
    // unlink() and raise() are async-signal-safe; SA_RESETHAND has restored
    // the default action, which takes the signal once the handler returns.
    for (int i = 0; i < pathCount; ++i)
        unlink(paths[i]);
    raise(sig);
}

sigset_t signalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : Signals)
        sigaddset(&set, sig);
    return set;
}

} // namespace

InterruptCleanup::InterruptCleanup()
{
    const sigset_t set = signalSet();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = removeAndDie;
    action.sa_flags = SA_RESETHAND;
    action.sa_mask = set;
    for (int i = 0; i < SignalCount; ++i) {
        installed[i] = sigaction(Signals[i], nullptr, &previous[i]) == 0 && previous[i].sa_handler != SIG_IGN
                       && sigaction(Signals[i], &action, nullptr) == 0;
    }
}

InterruptCleanup::~InterruptCleanup()
{
    for (int i = 0; i < SignalCount; ++i) {
        if (installed[i])
            sigaction(Signals[i], &previous[i], nullptr);
    }
    pathCount = 0;
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

void InterruptCleanup::arm(const QStringList &names)
{
    int count = 0;
    for (const QString &name : names) {
        const QByteArray encoded = QFile::encodeName(name);
        if (count == MaxPaths || encoded.size() >= PATH_MAX)
            break;
        std::memcpy(paths[count], encoded.constData(), size_t(encoded.size()) + 1);
        ++count;
    }
    pathCount = count;
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}
