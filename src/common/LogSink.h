#ifndef LOGSINK_H
#define LOGSINK_H

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QVector>

#include "platform/PlatformFile.h"

#include <deque>

// Messages a sink wants to log; emitted by the caller once its lock is free,
// so a message handler that logs records cannot deadlock.
struct SinkNote
{
    QtMsgType type;
    QString text;
};
using SinkNotes = QVector<SinkNote>;

class QLoggingCategory;

// One log file: an append-only handle kept open, and the lines waiting while
// the file cannot be written. Only a regular file owned by this process's user
// is written: a symbolic link at the path, a FIFO, a device or another user's
// file counts as a failing path. Folders it creates are 0700, the file 0600.
// Not thread-safe; the owner locks.
class LogSink
{
public:
    static constexpr qint64 DefaultMaxQueuedBytes = qint64(4) << 20;

    LogSink(const QString &path, int maxQueued, qint64 maxQueuedBytes = DefaultMaxQueuedBytes);
    ~LogSink();

    QString path() const { return m_path; }
    int queued() const { return int(m_queue.size()); }
    // Lines lost: to the queue bound, or written into a file that was removed
    // before the once-a-second check noticed.
    quint64 dropped() const { return m_dropped; }
    void setMaxQueuedBytes(qint64 bytes);
    // Rotation: once the file holds at least bytes, it is renamed to the
    // next numbered file (RotatedLogs) and a new one started at the path; 0
    // never. The size is known from this sink's own writes and the path's
    // once-a-second check, so appending costs no extra call. Writers in
    // other processes serialize the rename on a lock file beside the log
    // (path + ".lock"); a writer that finds the path naming another file
    // than its own reopens it.
    void setMaxFileBytes(qint64 bytes) { m_maxFileBytes = bytes; }

    // Appends one line (newline included; several lines go as one) with one
    // write. When the file fails and keep is set, the line waits for a later
    // call. True when it was written now.
    bool append(const char *line, int size, bool keep, qint64 nowMs, SinkNotes &notes)
    {
        // Most lines: the file open and checked within the interval, nothing
        // waiting, failing or cut short. One write, inline.
        if (Q_LIKELY(nowMs < m_nextCheckMs && m_file.isOpen() && !m_failing && !m_torn && m_queue.empty())) {
            if (Q_UNLIKELY(!m_file.write(line, size)))
                return writeFailed(line, size, keep, nowMs, notes);
            counted(size);
            rotateIfDue(nowMs, notes);
            return true;
        }
        return appendChecked(line, size, keep, nowMs, notes);
    }
    // Flushes the open file to the disk; false when none is open or it fails.
    bool sync();
    // Why the file was last refused or failed, for a warning.
    QString failure() const;
    // Checks the path, then writes what waits, whatever the retry gap; true
    // when nothing waits.
    bool flush(qint64 nowMs, SinkNotes &notes);
    // Takes over another sink's waiting lines, ahead of its own.
    void adoptQueue(LogSink &other);
    // The file the path names now (opened if it may be tried); false when
    // there is none open.
    bool fileId(qint64 nowMs, FileId *id, SinkNotes &notes);

    // Small files that live beside a log (an upload cursor) under the same
    // rules. readOwnFile reads at most maxBytes of a regular file of this
    // user, never through a symbolic link. replaceOwnFile writes a new 0600
    // file beside the path, syncs it and renames it over the path (a link
    // there is replaced, not followed): the path holds either the old
    // contents or the new, never a part. Both give the reason on failure;
    // readOwnFile an empty one when there is no file.
    static bool readOwnFile(const QString &path, int maxBytes, QByteArray *data, QString *why);
    static bool replaceOwnFile(const QString &path, const QByteArray &data, QString *why);

    // A monotonic clock in milliseconds, cheap enough for every line.
    static qint64 nowMs() { return PlatformFile::monotonicMs(); }
    // Logs the notes in the category, each text after the prefix.
    static void emitNotes(const SinkNotes &notes, const QLoggingCategory &category, const char *prefix);

private:
    bool ensureOpen() { return m_file.isOpen() || open(); }
    // append() when a line is not the usual one: checks the path when due,
    // drains what waits, reopens, and says what changed.
    bool appendChecked(const char *line, int size, bool keep, qint64 nowMs, SinkNotes &notes);
    // A line of size bytes written.
    void counted(int size)
    {
        ++m_sinceCheck;
        m_size += size;
    }
    void rotateIfDue(qint64 nowMs, SinkNotes &notes)
    {
        if (m_maxFileBytes > 0 && m_size >= m_maxFileBytes && nowMs >= m_nextRotateMs)
            rotate(nowMs, notes);
    }
    // The open file refused a line: closed, and the line kept if asked.
    Q_DECL_COLD_FUNCTION bool writeFailed(const char *line, int size, bool keep, qint64 nowMs, SinkNotes &notes);
    Q_DECL_COLD_FUNCTION void lineFailed();
    bool open();
    bool refuse(const char *why);
    bool endsWithNewline(qint64 size) const;
    // Inlined where they are called: every line off append()'s usual path
    // goes through both.
    Q_ALWAYS_INLINE bool writeLine(const char *line, int size);
    bool writeAfterTorn(const char *line, int size);
    Q_ALWAYS_INLINE bool writeOrFail(const char *line, int size, qint64 nowMs, SinkNotes &notes);
    // The first line written after a failure, and a failed write (retried in
    // a second): each says so once.
    Q_DECL_COLD_FUNCTION void recovered(SinkNotes &notes);
    Q_DECL_COLD_FUNCTION void failed(qint64 nowMs, SinkNotes &notes);
    bool drain(qint64 nowMs, SinkNotes &notes);
    void keep(const char *line, int size, SinkNotes &notes);
    void trimQueue();
    void revalidate(qint64 nowMs, SinkNotes &notes);
    void closeFile();
    void rotate(qint64 nowMs, SinkNotes &notes);

    const QString m_path;
    const QByteArray m_nativePath;
    const int m_maxQueued;
    qint64 m_maxQueuedBytes;
    PlatformFile m_file;
    FileId m_id;
    std::deque<QByteArray> m_queue;
    qint64 m_queuedBytes = 0;
    quint64 m_dropped = 0;
    quint64 m_sinceCheck = 0; // lines written since the path was last seen to hold the file
    qint64 m_maxFileBytes = 0;
    qint64 m_size = 0;         // of the open file, at least
    qint64 m_nextRotateMs = 0; // after a failed rotation
    bool m_rotateFailing = false; // warned; until a rotation succeeds
    QString m_lastError;
    const char *m_refusal = nullptr; // why an opened file was not taken, if it was not
    qint64 m_nextRetryMs = 0;
    qint64 m_nextCheckMs = 0;
    bool m_failing = false;     // warned; until a line is written again
    bool m_overflowing = false; // warned about dropping; until recovery
    bool m_torn = false;        // a partial line ends the file
};

#endif // LOGSINK_H
