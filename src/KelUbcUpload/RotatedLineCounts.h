#ifndef ROTATEDLINECOUNTS_H
#define ROTATEDLINECOUNTS_H

#include <RotatedLogs.h>

#include <QtCore/QHash>
#include <QtCore/QPair>

class LogFollower;

// The lines in the log's numbered files: those waiting to be read, and
// those lost when a file is removed unsent. A file is counted again only
// when its size changed.
class RotatedLineCounts
{
public:
    explicit RotatedLineCounts(const QString &logPath) : m_logPath(logPath) {}

    // Lines of the numbered files that log has neither open nor done with.
    // Files gone since are forgotten.
    quint64 waiting(const LogFollower &log);
    quint64 lines(const RotatedLogs::File &file);
    void forget(const QString &path) { m_counts.remove(path); }

private:
    const QString m_logPath;
    QHash<QString, QPair<qint64, quint64>> m_counts; // size and lines, as last counted
};

#endif // ROTATEDLINECOUNTS_H
