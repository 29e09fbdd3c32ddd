#ifndef RUVUBCPRIVATE_H
#define RUVUBCPRIVATE_H

#include <RuvUbc.h>

#include "LogSink.h"
#include "SharedTextCache.h"

#include <QtCore/QLoggingCategory>
#include <QtCore/QMutex>

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcRuvUbc)

class RuvUbcPrivate
{
public:
    struct ThreadState;

    RuvUbcPrivate();

    void initRecord(UbcDataProtocol &record) const;
    void log(const UbcDataProtocol &record, ThreadState &state);

    void setPrimaryPath(const QString &path);
    void addMirrorPath(const QString &path);
    QString primaryPath() const;
    QStringList mirrorPaths() const;

    int queued() const;
    quint64 dropped() const;
    bool flush();
    void setMaxQueuedBytes(qint64 bytes);
    qint64 maxQueuedBytes() const;
    void setMaxFileBytes(qint64 bytes);
    qint64 maxFileBytes() const;
    // One more try of every queue that waits, whatever the retry gap, then
    // one warning counting what still cannot be written;
    // at application quit and at the library's teardown.
    void flushAtExit();

    void setProductCode(const QString &code);
    QString productCode() const;

    int addListener(RuvUbc::Listener listener);
    void removeListener(int id);

    static QString absolutePath(const QString &path);

    struct AttributeOverride
    {
        bool active = false;
        QString key;
        QString value;
    };
    // Each thread's own: one thread's set/log/reset never swallows another's
    // records. One lookup per record finds all of it.
    struct ThreadState
    {
        int filter = RuvUbc::FilterPrimary | RuvUbc::FilterMirrors | RuvUbc::FilterListeners | RuvUbc::FilterRetry;
        AttributeOverride over;
        // Records' lines are built here, outside the lock; it only grows.
        QByteArray line;
        SharedTextCache texts;
    };
    static ThreadState &threadState();
#ifndef Q_OS_WIN
    Q_DECL_COLD_FUNCTION static ThreadState &makeThreadState();
#endif
    bool eraseFiles();
    // Read without a lock on every record.
    std::atomic<bool> enabled{true};
    const QString sessionId;

private:
    LogSink *primarySink();
    std::unique_ptr<LogSink> makeSink(const QString &path) const;
    std::unique_ptr<LogSink> makePrimarySink(const QString &path) const;
    // The primary file's path as set, or the default; m_mutex held.
    QString configuredPrimaryPath() const;
    // The primary, if made, then the mirrors; m_mutex held.
    template <typename Visit>
    void forEachSink(Visit visit) const;
    static void emitNotes(const SinkNotes &notes);
    // Gives the thread's line its seq and appends it to the files the filter
    // selects, each file once.
    Q_ALWAYS_INLINE void writeToFiles(ThreadState &state, int size, int seqAt, int filterBits, SinkNotes &notes);
    // The mirrors' part, m_mutex held; primary: the primary if written to.
    void writeToMirrors(const char *line, int size, bool keep, qint64 now, LogSink *primary, SinkNotes &notes);

    // Context fields: all fixed per process but the product code and its digest.
    const QByteArray m_machineId;
    const QString m_qtVersion;
    // "1" for a debug build, else "0": one string that every record shares.
    const QString m_debugFlag;
    mutable QMutex m_contextMutex;
    QString m_productCode;
    QString m_machineDigest;

    // The files. The primary is made on first use, so a default path follows
    // the application name the host sets after startup.
    // A basic mutex, so that its uncontended lock and unlock are inline on
    // every record (QMutexLocker calls out to QMutex's).
    mutable QBasicMutex m_mutex;
    // The "seq" of the next record written to the files; one per record, not per file.
    quint64 m_nextSeq = 1;
    QString m_primaryPath; // empty: the default
    std::unique_ptr<LogSink> m_primary;
    std::vector<std::unique_ptr<LogSink>> m_mirrors;
    qint64 m_maxQueuedBytes = RuvUbc::DefaultMaxQueuedBytes;
    qint64 m_maxFileBytes = RuvUbc::DefaultMaxLogFileBytes; // the primary's only
    int m_reportedAtExit = 0; // records the exit warning counted

    // Copied on change, so a call can run the list without holding the lock.
    using ListenerList = std::vector<std::pair<int, RuvUbc::Listener>>;
    mutable QMutex m_listenerMutex;
    std::shared_ptr<const ListenerList> m_listeners;
    // The list's size, read without the lock: most processes have none, and
    // a record then costs no lock for them.
    std::atomic<int> m_listenerCount{0};
    int m_nextListenerId = 1;
};

#endif // RUVUBCPRIVATE_H
