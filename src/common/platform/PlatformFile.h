#ifndef PLATFORMFILE_H
#define PLATFORMFILE_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

// Which file a path or handle names: two agree when device (volume) and
// inode (file index) do.
struct FileId
{
    quint64 dev = 0;
    quint64 ino = 0;
    bool operator==(const FileId &o) const { return dev == o.dev && ino == o.ino; }
};

// One open file, through the system's own calls: a descriptor on POSIX, a
// handle on Windows. Paths are taken in native form (nativePath()), made once
// by the caller. Files and folders it creates are for this user alone
// (0600/0700, or a DACL granting only the current user); a symbolic link or
// junction at the path is refused, never followed.
class PlatformFile
{
public:
    enum Failure { NoFailure, NotFound, Link, NoSpace, OtherFailure };
    // Whether a symbolic link at the path is refused or followed.
    enum Links { RefuseLinks, FollowLinks };

    struct Status
    {
        FileId id;
        qint64 size = 0;
        quint64 links = 0; // 0 once removed (or pending removal)
        bool regular = false;
        bool ownedByUser = false;
    };

    PlatformFile() = default;
    ~PlatformFile() { close(); }
    PlatformFile(const PlatformFile &) = delete;
    PlatformFile &operator=(const PlatformFile &) = delete;

    static QByteArray nativePath(const QString &path);

    // Every write lands at the end, whoever else appends; others may read,
    // write, rename and remove the file meanwhile. A FIFO without a reader
    // fails instead of blocking.
    bool openAppend(const QByteArray &native);
    bool openRead(const QByteArray &native, Links links = RefuseLinks);
    // A lock file beside a log: created for this user alone if missing,
    // opened for reading and writing, never through a link.
    bool openLock(const QByteArray &native);
    bool isOpen() const { return m_handle != Invalid; }
    void close();

    bool status(Status *status);
    // All of data with one system call; false (NoSpace when it was cut
    // short) otherwise.
    bool write(const char *data, qint64 size);
    // Up to size bytes at offset; the count read.
    qint64 readAt(char *data, qint64 size, qint64 offset);
    // What was written reaches the disk.
    bool sync();
    // An exclusive lock on the whole open file, between processes; false at
    // once when another holds it. Released by unlock() or close().
    bool tryLock();
    void unlock();

    // Why the last call failed.
    Failure failure() const { return m_failure; }
    QString errorString() const;

    // The file at the path itself, or where a link there leads; its size
    // too when asked (the same call).
    static bool pathId(const QByteArray &native, FileId *id, Links links = RefuseLinks, qint64 *size = nullptr);
    // Renames a file, open or not, to a name that must not exist yet; the
    // reason on failure.
    static bool renameNew(const QByteArray &from, const QByteArray &to, QString *why);
    // Writes a new file of this user alone beside path, syncs it and renames
    // it over path (a link there is replaced, not followed): path holds the
    // old contents or the new, never a part. The reason on failure.
    static bool replaceContents(const QString &path, const QByteArray &data, QString *why);
    // Creates each missing folder of an absolute path for this user alone.
    static bool makePrivateFolders(const QString &path);
    // A monotonic clock in milliseconds, cheap enough for every line.
    static qint64 monotonicMs();

private:
    bool fail();
#ifdef Q_OS_WIN
    bool openHandle(const QByteArray &native, unsigned long access, unsigned long disposition, bool ownerOnly,
                    Links links);
#endif

    static constexpr qintptr Invalid = -1;
    qintptr m_handle = Invalid;
    int m_error = 0;
    Failure m_failure = NoFailure;
};

#endif // PLATFORMFILE_H
