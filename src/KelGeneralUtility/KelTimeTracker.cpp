#include "KelTimeTracker.h"

#include <QtCore/QElapsedTimer>

#include <limits>
#include <mutex>
#include <unordered_map>

namespace {

// One tracked key: the time worked before the current run, and the run's
// start on the monotonic clock (invalid while paused).
struct Work
{
    qint64 banked = 0;
    qint64 runStart = -1;
};

} // namespace

class KelTimeTrackerPrivate
{
public:
    qint64 clock() const { return timer.elapsed(); }
    qint64 workingTime(const Work &work) const
    {
        if (work.runStart < 0)
            return work.banked;
        // A host's value near the top of the range saturates rather than
        // wrapping round to a negative time.
        const qint64 run = clock() - work.runStart;
        const qint64 room = std::numeric_limits<qint64>::max() - run;
        return work.banked > room ? std::numeric_limits<qint64>::max() : work.banked + run;
    }

    QElapsedTimer timer;
    // A standard mutex: thread checkers see its ordering, which a Qt build
    // without their instrumentation hides for QMutex.
    mutable std::mutex mutex;
    std::unordered_map<std::string, Work> works;
};

KelTimeTracker::KelTimeTracker()
    : d(new KelTimeTrackerPrivate)
{
    d->timer.start();
}

KelTimeTracker::~KelTimeTracker()
{
    delete d;
}

KelTimeTracker *KelTimeTracker::getInstance()
{
    // Never destroyed: hosts may ask for working time from static destructors.
    static KelTimeTracker *const tracker = new KelTimeTracker;
    return tracker;
}

void KelTimeTracker::startTrackWork(const std::string &key, qint64 workingTime)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    Work &work = d->works[key];
    work.banked = workingTime;
    work.runStart = d->clock();
}

qint64 KelTimeTracker::getWorkingTime(const std::string &key)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    const auto it = d->works.find(key);
    return it == d->works.end() ? 0 : d->workingTime(it->second);
}

void KelTimeTracker::removeTrackWork(const std::string &key)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    d->works.erase(key);
}

void KelTimeTracker::pauseTrackWork(const std::string &key)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    const auto it = d->works.find(key);
    if (it == d->works.end() || it->second.runStart < 0)
        return;
    it->second.banked = d->workingTime(it->second);
    it->second.runStart = -1;
}

void KelTimeTracker::resumeTrackWork(const std::string &key)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    const auto it = d->works.find(key);
    if (it != d->works.end() && it->second.runStart < 0)
        it->second.runStart = d->clock();
}

bool KelTimeTracker::isTracking(const std::string &key) const
{
    std::lock_guard<std::mutex> locker(d->mutex);
    return d->works.count(key) != 0;
}

bool KelTimeTracker::isPaused(const std::string &key) const
{
    std::lock_guard<std::mutex> locker(d->mutex);
    const auto it = d->works.find(key);
    return it != d->works.end() && it->second.runStart < 0;
}
