#ifndef LOGSINK_H
#define LOGSINK_H

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QVector>

#include <deque>
#include <sys/types.h>

// Messages a sink wants to log; emitted by the caller once its lock is free,
// so a message handler that logs records cannot deadlock.
struct SinkNote
{
    QtMsgType type;
    QString text;
};
using SinkNotes = QVector<SinkNote>;

// One log file: an O_APPEND descriptor kept open, and the records waiting
// while the file cannot be written. Not thread-safe; the owner locks.
class LogSink
{
public:
    LogSink(const QString &path, int maxQueued);
    ~LogSink();

    QString path() const { return m_path; }
    int queued() const { return int(m_queue.size()); }
    quint64 dropped() const { return m_dropped; }

    // Appends one line (newline included) with one write(2). When the file
    // fails and keep is set, the line waits for a later call.
    void append(const char *line, int size, bool keep, qint64 nowMs, SinkNotes &notes);
    // Checks the path, then writes what waits; true when nothing waits.
    bool flush(qint64 nowMs, SinkNotes &notes);
    // Takes over another sink's waiting records, ahead of its own.
    void adoptQueue(LogSink &other);

private:
    bool ensureOpen();
    bool endsWithNewline(off_t size) const;
    bool writeLine(const char *line, int size);
    bool writeOrFail(const char *line, int size, qint64 nowMs, SinkNotes &notes);
    bool drain(qint64 nowMs, SinkNotes &notes);
    void keep(const char *line, int size, SinkNotes &notes);
    void revalidate(qint64 nowMs);
    void closeFile();

    const QString m_path;
    const QByteArray m_nativePath;
    const int m_maxQueued;
    int m_fd = -1;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    std::deque<QByteArray> m_queue;
    quint64 m_dropped = 0;
    int m_lastError = 0;
    qint64 m_nextRetryMs = 0;
    qint64 m_nextCheckMs = 0;
    bool m_failing = false;     // warned; until a line is written again
    bool m_overflowing = false; // warned about dropping; until recovery
    bool m_torn = false;        // a partial line ends the file
};

#endif // LOGSINK_H
