#ifndef KELTIMETRACKER_H
#define KELTIMETRACKER_H

#include <QtCore/qglobal.h>

#include <string>

#if defined(KELGENERALUTILITY_LIBRARY)
#  define KELGENERALUTILITY_EXPORT Q_DECL_EXPORT
#else
#  define KELGENERALUTILITY_EXPORT Q_DECL_IMPORT
#endif

class KelTimeTrackerPrivate;

// Working time per key, in milliseconds, on a monotonic clock. Thread-safe.
class KELGENERALUTILITY_EXPORT KelTimeTracker
{
public:
    static KelTimeTracker *getInstance();

    // (Re)starts tracking key with workingTime milliseconds already worked.
    void startTrackWork(const std::string &key, qint64 workingTime);
    // Time worked on key so far; 0 for a key that is not tracked.
    qint64 getWorkingTime(const std::string &key);
    // Forgets key.
    void removeTrackWork(const std::string &key);

    // Pausing is for the host (for instance while the user is idle); the
    // working time stands still until resumeTrackWork.
    void pauseTrackWork(const std::string &key);
    void resumeTrackWork(const std::string &key);
    bool isTracking(const std::string &key) const;
    bool isPaused(const std::string &key) const;

private:
    KelTimeTracker();
    ~KelTimeTracker();
    Q_DISABLE_COPY(KelTimeTracker)
    KelTimeTrackerPrivate *d;
};

#endif // KELTIMETRACKER_H
