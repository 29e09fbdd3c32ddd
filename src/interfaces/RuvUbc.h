#ifndef RUVUBC_H
#define RUVUBC_H

#include <QtCore/qglobal.h>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <functional>

#if defined(RUVUBC_LIBRARY)
#  define RUVUBC_EXPORT Q_DECL_EXPORT
#else
#  define RUVUBC_EXPORT Q_DECL_IMPORT
#endif

// One behaviour record. The field order is the protocol's key order; the log
// writes the fields under these names, in this order, then attrs.
struct UbcDataProtocol
{
    QString pcode;       // product code (RuvUbc::setProductCode)
    QString fncode;      // function code
    QString fnname;      // function display name
    QString fngroup;     // function group
    QString trigertime;  // ISO 8601 local time with milliseconds and UTC offset
    QString gid;         // salted SHA-256 (hex) of product code and machine id;
                         // stable per machine, empty when the id is unknown
    QString vername;     // application name
    QString ver;         // application version
    QString ver2;        // Qt runtime version
    QString debug;       // "1" when RuvUbc is a debug build (no QT_NO_DEBUG), else "0"
    QString usetype;     // left empty by initUbcDataProtocol
    QString utype;       // left empty by initUbcDataProtocol
    QString mac;         // never filled: no raw MAC address is stored
    QString hardwareid;  // salted digest of the machine id, see gid
    QString ip;          // never filled: no IP address is stored
    QString projectid;
    QString prjfullpath;
    QString prjtext;
    QString prjedocnt;
    QString prjsize;
    QString prjcost;
    QString regionrule;
    QString major;
    QString duration;    // whole seconds, decimal
    QString sessionid;   // one random id per process
    QMap<QString, QString> attrs;
};

class RuvUbcPrivate;

// The behaviour log: takes finished records and appends each as one JSON line
// to the primary log file and to every mirror. Thread-safe.
//
// Each line goes out with one write(2) on an O_APPEND descriptor, so it is in
// the file when logUbcDataProtocol returns and lines of concurrent writers
// never mix. Only a regular file owned by the process's user is written,
// opened without following a symbolic link at the path; a new file is 0600
// and new folders are 0700 whatever the umask. A path that cannot be written,
// or holds a link, FIFO, device or another user's file, gets one warning per
// outage; its records wait in memory (at most MaxQueuedRecords and
// maxQueuedBytes() per path) and are written, oldest first, on a later call
// once the path works (tried at most once a second, or at once by flush(),
// at application quit and at exit; what is still waiting then is counted in
// one warning). A line cut short (disk full) stays in the file as a fragment:
// the next line written there starts with "\n", so the fragment is a line of
// its own that readers skip, and the record itself is written again in full.
// The same holds for a file found ending in a fragment when it is opened (a
// writer killed mid-line, in any process). A file moved, removed or replaced
// while open is noticed within a second (or by flush()) and opened anew at its
// path; records written into a removed file in that second are counted in
// droppedRecords() and warned about. A mirror that is the primary file or an
// earlier mirror (same device and inode, by whatever path) is not written twice.
// The primary file is rotated by size: once it holds maxLogFileBytes() it is
// renamed to the next numbered file beside it (path.1, path.2, ...: a higher
// number is newer) and a new file is started; other processes writing the
// same file rename it under a lock file (path + ".lock") and reopen the path
// within a second. The uploader reads and removes the numbered files.
// Warnings and notes use the logging category "kelubc.ruvubc".
class RUVUBC_EXPORT RuvUbc
{
public:
    static RuvUbc *instance();

    void initUbcDataProtocol(UbcDataProtocol &record);
    void logUbcDataProtocol(UbcDataProtocol &record);
    void setFilterType(int type);
    void setLogFilePath(const QString &path);
    void addLogFilePath(const QString &path);

    // Filter bits: which outputs take a record handed to logUbcDataProtocol,
    // read when the call starts. Each thread has its own filter, initially 15
    // (all), so one thread's setFilterType never affects another's records.
    // KelUbc sets 15 before and 0 after each of its records, and its
    // lock()/unLock() set 0/15, in the thread that calls it. Without
    // FilterRetry a record for a failing path is not kept.
    enum FilterBit {
        FilterPrimary = 1,   // the primary log file
        FilterMirrors = 2,   // the mirror files
        FilterListeners = 4, // in-process listeners
        FilterRetry = 8      // keep records for a failing path and retry them
    };
    int filterType() const;

    // Collection switch, on by default; the host turns it from the person's choice.
    // While off nothing is written, queued or passed to listeners; records that
    // already wait stay in memory and go out once collection is on again.
    void setCollectionEnabled(bool enabled);
    bool isCollectionEnabled() const;

    // In the calling thread, until clearAttributeOverride(): a record handed
    // to logUbcDataProtocol that carries the attribute key gets value in its
    // place. For code that calls KelUbc knowing more than KelUbc does (the
    // host kit's action tracker names where a command was triggered).
    void setAttributeOverride(const QString &key, const QString &value);
    void clearAttributeOverride();

    // Removes the primary file, its numbered files and every mirror, and forgets the records that
    // wait for them. Records logged at the same time, from any thread, land
    // either before the removal or in the new files. True when no file is left.
    bool eraseLogFiles();

    // The code every record's pcode gets from initUbcDataProtocol; the log
    // keeps a copy of its own, so the caller's string may change or go.
    void setProductCode(const QString &code);
    QString productCode() const;
    QString sessionId() const;

    // The primary file; setLogFilePath("") returns to the default,
    // AppLocalDataLocation + "/ubc/records.jsonl". Missing folders are created.
    // Records waiting for the old primary move to the new one.
    QString logFilePath() const;      // primary file, default if none set
    QStringList mirrorPaths() const;  // addLogFilePath ignores duplicates
    static QString defaultLogFilePath();

    // Records waiting for a failing path, and records lost: to the queue
    // bound (the newest are dropped) or written into a file removed while
    // open. Both count one per path.
    int queuedRecords() const;
    quint64 droppedRecords() const;
    static constexpr int MaxQueuedRecords = 10000;
    // The bound of each path's queue in bytes of JSON lines, besides the count.
    static constexpr qint64 DefaultMaxQueuedBytes = qint64(4) << 20;
    void setMaxQueuedBytes(qint64 bytes);
    qint64 maxQueuedBytes() const;
    // The primary file's size at which it is rotated; 0 never rotates.
    static constexpr qint64 DefaultMaxLogFileBytes = qint64(16) << 20;
    void setMaxLogFileBytes(qint64 bytes);
    qint64 maxLogFileBytes() const;
    // Tries the waiting records again now and reopens files that were moved or
    // removed; true when nothing waits any more.
    bool flush();

    // Listeners are called in the logging thread, after the write and outside
    // any lock; they may log, add or remove listeners. addListener returns the
    // id for removeListener, 0 for an empty function.
    using Listener = std::function<void(const UbcDataProtocol &)>;
    int addListener(Listener listener);
    void removeListener(int id);

    // The line that logUbcDataProtocol appends, newline included. "seq"
    // follows sessionid: the record's number within the session, from 1, the
    // same in the primary file and every mirror, so (sessionid, seq) names
    // one record wherever copies of it end up.
    static QByteArray toJsonLine(const UbcDataProtocol &record, quint64 seq = 0);
    static QStringList fieldNames();

private:
    RuvUbc();
    ~RuvUbc();
    Q_DISABLE_COPY(RuvUbc)
    RuvUbcPrivate *d;
};

#endif // RUVUBC_H
