#include "PlatformFile.h"

#include <QtCore/QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openNoFollow(const char *path, int flags)
{
    // O_NOFOLLOW: a symbolic link planted at the path (dangling or not) is
    // refused, never followed. O_NONBLOCK: a FIFO without a reader fails
    // instead of blocking the host.
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

QByteArray PlatformFile::nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

bool PlatformFile::fail()
{
    m_error = errno;
    switch (m_error) {
    case ENOENT: m_failure = NotFound; break;
    case ELOOP: m_failure = Link; break;
    case ENOSPC: m_failure = NoSpace; break;
    default: m_failure = OtherFailure; break;
    }
    return false;
}

bool PlatformFile::openAppend(const QByteArray &native)
{
    close();
    const int fd = openNoFollow(native.constData(), O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0)
        return fail();
    m_handle = fd;
    return true;
}

bool PlatformFile::openRead(const QByteArray &native, Links links)
{
    close();
    int fd;
    if (links == FollowLinks) {
        do {
            fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
    } else {
        fd = openNoFollow(native.constData(), O_RDONLY);
    }
    if (fd < 0)
        return fail();
    m_handle = fd;
    return true;
}

bool PlatformFile::openLock(const QByteArray &native)
{
    close();
    const int fd = openNoFollow(native.constData(), O_RDWR | O_CREAT);
    if (fd < 0)
        return fail();
    m_handle = fd;
    return true;
}

bool PlatformFile::tryLock()
{
    int done;
    do {
        done = ::flock(int(m_handle), LOCK_EX | LOCK_NB);
    } while (done != 0 && errno == EINTR);
    return done == 0 || fail();
}

void PlatformFile::unlock()
{
    ::flock(int(m_handle), LOCK_UN);
}

void PlatformFile::close()
{
    if (m_handle != Invalid) {
        ::close(int(m_handle));
        m_handle = Invalid;
    }
}

bool PlatformFile::status(Status *status)
{
    struct stat st;
    if (::fstat(int(m_handle), &st) != 0)
        return fail();
    status->id = {quint64(st.st_dev), quint64(st.st_ino)};
    status->size = st.st_size;
    status->links = st.st_nlink;
    status->regular = S_ISREG(st.st_mode);
    status->ownedByUser = st.st_uid == ::geteuid();
    return true;
}

bool PlatformFile::write(const char *data, qint64 size)
{
    ssize_t n;
    do {
        n = ::write(int(m_handle), data, size_t(size));
    } while (n < 0 && errno == EINTR);
    if (n == size)
        return true;
    // A short write on a file means no space left.
    if (n >= 0)
        errno = ENOSPC;
    return fail();
}

qint64 PlatformFile::readAt(char *data, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(int(m_handle), data + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail();
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool PlatformFile::sync()
{
    return ::fsync(int(m_handle)) == 0 || fail();
}

QString PlatformFile::errorString() const
{
    return QString::fromLocal8Bit(std::strerror(m_error));
}

bool PlatformFile::pathId(const QByteArray &native, FileId *id, Links links, qint64 *size)
{
    struct stat st;
    if ((links == FollowLinks ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st)) != 0)
        return false;
    *id = {quint64(st.st_dev), quint64(st.st_ino)};
    if (size)
        *size = st.st_size;
    return true;
}

bool PlatformFile::renameNew(const QByteArray &from, const QByteArray &to, QString *why)
{
    int done = -1;
#ifdef RENAME_NOREPLACE
    done = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (done != 0 && errno != EINVAL && errno != ENOSYS) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
#endif
    if (done != 0) {
        // No such call here, or not on this file system: the caller's lock
        // keeps other writers from the name meanwhile.
        struct stat st;
        if (::lstat(to.constData(), &st) == 0)
            errno = EEXIST;
        else
            done = ::rename(from.constData(), to.constData());
    }
    if (done != 0)
        *why = QString::fromLocal8Bit(std::strerror(errno));
    return done == 0;
}

bool PlatformFile::replaceContents(const QString &path, const QByteArray &data, QString *why)
{
    // mkstemp: a new file of this user, 0600, never an existing path or link.
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const char *p = data.constData();
    qint64 left = data.size();
    bool done = true;
    while (done && left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            done = false;
            break;
        }
        p += n;
        left -= n;
    }
    done = done && ::fsync(fd) == 0;
    int error = done ? 0 : errno;
    if (::close(fd) != 0 && done) {
        error = errno;
        done = false;
    }
    if (done && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        error = errno;
        done = false;
    }
    if (!done) {
        ::unlink(temporary.constData());
        *why = QString::fromLocal8Bit(std::strerror(error));
    }
    return done;
}

bool PlatformFile::makePrivateFolders(const QString &path)
{
    // 0700 whatever the umask: a folder others can write lets them swap the
    // log file for a link.
    const QByteArray dir = QFile::encodeName(path);
    for (int slash = dir.indexOf('/', 1); ; slash = dir.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? dir : dir.left(slash);
        if (::mkdir(part.constData(), 0700) == 0)
            ::chmod(part.constData(), 0700);
        else if (errno != EEXIST)
            return false;
        if (slash < 0)
            return true;
    }
}

qint64 PlatformFile::monotonicMs()
{
    // The coarse clock is enough for once-a-second retries and costs no syscall.
    struct timespec ts;
#ifdef CLOCK_MONOTONIC_COARSE
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
#else
    clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
