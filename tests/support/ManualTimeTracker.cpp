#include "TestSupport.h"

#include <KelTimeTracker.h>

namespace {
QStringList g_calls;
qint64 g_time = 0;
QString keyText(const std::string &key) { return QString::fromStdString(key); }
} // namespace

namespace ManualTracker {
Q_DECL_EXPORT QStringList &calls() { return g_calls; }
Q_DECL_EXPORT void setWorkingTime(qint64 ms) { g_time = ms; }
Q_DECL_EXPORT void reset()
{
    g_calls.clear();
    g_time = 0;
}
} // namespace ManualTracker

KelTimeTracker::KelTimeTracker() : d(nullptr) {}
KelTimeTracker::~KelTimeTracker() = default;

KelTimeTracker *KelTimeTracker::getInstance()
{
    static KelTimeTracker tracker;
    return &tracker;
}

void KelTimeTracker::startTrackWork(const std::string &key, qint64 workingTime)
{
    g_calls << QStringLiteral("start:%1:%2").arg(keyText(key)).arg(workingTime);
}

qint64 KelTimeTracker::getWorkingTime(const std::string &key)
{
    g_calls << QStringLiteral("get:") + keyText(key);
    return g_time;
}

void KelTimeTracker::removeTrackWork(const std::string &key)
{
    g_calls << QStringLiteral("remove:") + keyText(key);
}
