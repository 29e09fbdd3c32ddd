#include "LogSink.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Failing paths are tried again at most this often, and open files are
// checked this often for having been moved or removed.
constexpr qint64 kIntervalMs = 1000;

int openAppend(const char *path)
{
    // O_NOFOLLOW: a symbolic link planted at the path (dangling or not) is
    // refused, never followed. O_NONBLOCK: a FIFO without a reader fails
    // instead of blocking the host.
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Creates each missing folder of an absolute path 0700, whatever the umask:
// a folder others can write lets them swap the log file for a link.
bool makeFolders(const QByteArray &dir)
{
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

// Why an opened file must not be used, or null: only regular files (lines
// are written whole only there) of this user (another's is not ours to fill
// or to trust).
const char *notOwnRegularFile(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return "cannot be inspected";
    if (!S_ISREG(st.st_mode))
        return "not a regular file; refused";
    if (st.st_uid != ::geteuid())
        return "owned by another user; refused";
    return nullptr;
}

QString errorText(int error)
{
    if (error == ELOOP)
        return QStringLiteral("a symbolic link; refused");
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

qint64 LogSink::nowMs()
{
    // The coarse clock is enough for once-a-second retries and costs no syscall.
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void LogSink::emitNotes(const SinkNotes &notes, const QLoggingCategory &category, const char *prefix)
{
    for (const SinkNote &note : notes) {
        if (note.type == QtWarningMsg && category.isWarningEnabled())
            QMessageLogger().warning(category, "%s%s", prefix, qUtf8Printable(note.text));
        else if (note.type == QtInfoMsg && category.isInfoEnabled())
            QMessageLogger().info(category, "%s%s", prefix, qUtf8Printable(note.text));
    }
}

LogSink::LogSink(const QString &path, int maxQueued, qint64 maxQueuedBytes)
    : m_path(path)
    , m_nativePath(QFile::encodeName(path))
    , m_maxQueued(maxQueued)
    , m_maxQueuedBytes(maxQueuedBytes)
{
}

LogSink::~LogSink()
{
    closeFile();
}

void LogSink::closeFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool LogSink::ensureOpen()
{
    if (m_fd >= 0)
        return true;
    m_refusal = nullptr;
    int fd = openAppend(m_nativePath.constData());
    if (fd < 0 && errno == ENOENT && makeFolders(QFile::encodeName(QFileInfo(m_path).absolutePath())))
        fd = openAppend(m_nativePath.constData());
    if (fd < 0) {
        m_lastError = errno;
        return false;
    }
    if (const char *why = notOwnRegularFile(fd))
        return refuse(fd, why);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return refuse(fd, "cannot be inspected");
    // Whoever cut the last line short (a full disk here, or a process
    // killed mid-write, this one in an earlier run or another), the next
    // line must not be glued to it.
    m_torn = st.st_size > 0 && !endsWithNewline(st.st_size);
    m_id = {st.st_dev, st.st_ino};
    m_sinceCheck = 0;
    m_fd = fd;
    return true;
}

bool LogSink::refuse(int fd, const char *why)
{
    ::close(fd);
    m_refusal = why;
    return false;
}

bool LogSink::endsWithNewline(off_t size) const
{
    // The log descriptor is write-only; a file that cannot be read is taken
    // to be whole.
    int fd;
    do {
        fd = ::open(m_nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return true;
    char last = '\n';
    const bool got = ::pread(fd, &last, 1, size - 1) == 1;
    ::close(fd);
    return !got || last == '\n';
}

bool LogSink::writeLine(const char *line, int size)
{
    // After a cut-short line the next one starts on a line of its own; the
    // newline goes in the same write so the line stays whole.
    QByteArray joined;
    if (m_torn) {
        joined.reserve(size + 1);
        joined.append('\n');
        joined.append(line, size);
        line = joined.constData();
        size = joined.size();
    }
    ssize_t n;
    do {
        n = ::write(m_fd, line, size_t(size));
    } while (n < 0 && errno == EINTR);
    if (n == size) {
        m_torn = false;
        ++m_sinceCheck;
        return true;
    }
    // A short write on a file means no space left. Writing the rest later
    // could land after another writer's line, so the whole line is retried;
    // reopening finds the fragment this leaves.
    m_lastError = n >= 0 ? ENOSPC : errno;
    closeFile();
    return false;
}

bool LogSink::writeOrFail(const char *line, int size, qint64 nowMs, SinkNotes &notes)
{
    if (ensureOpen() && writeLine(line, size)) {
        if (m_failing) {
            m_failing = false;
            m_overflowing = false;
            notes.append({QtInfoMsg, QStringLiteral("%1 is writable again; %2 records for it dropped so far")
                                         .arg(m_path).arg(m_dropped)});
        }
        return true;
    }
    m_nextRetryMs = nowMs + kIntervalMs;
    if (!m_failing) {
        m_failing = true;
        notes.append({QtWarningMsg, QStringLiteral("cannot write %1 (%2); records wait in memory and are retried")
                                        .arg(m_path, failure())});
    }
    return false;
}

bool LogSink::drain(qint64 nowMs, SinkNotes &notes)
{
    while (!m_queue.empty()) {
        const QByteArray &line = m_queue.front();
        if (!writeOrFail(line.constData(), line.size(), nowMs, notes))
            return false;
        m_queuedBytes -= line.size();
        m_queue.pop_front();
    }
    return true;
}

void LogSink::keep(const char *line, int size, SinkNotes &notes)
{
    // Bounded in bytes too: a few long, heavily escaped records would
    // otherwise hold far more memory than the record count suggests.
    if (int(m_queue.size()) >= m_maxQueued || m_queuedBytes + size > m_maxQueuedBytes) {
        ++m_dropped;
        if (!m_overflowing) {
            m_overflowing = true;
            notes.append({QtWarningMsg, QStringLiteral("%1 records (%2 bytes) wait for %3; newer records for it are dropped")
                                            .arg(m_queue.size()).arg(m_queuedBytes).arg(m_path)});
        }
        return;
    }
    m_queue.emplace_back(line, size);
    m_queuedBytes += size;
}

void LogSink::trimQueue()
{
    while (!m_queue.empty() && (int(m_queue.size()) > m_maxQueued || m_queuedBytes > m_maxQueuedBytes)) {
        m_queuedBytes -= m_queue.back().size();
        m_queue.pop_back();
        ++m_dropped;
    }
}

void LogSink::setMaxQueuedBytes(qint64 bytes)
{
    m_maxQueuedBytes = bytes;
    trimQueue();
}

void LogSink::revalidate(qint64 nowMs, SinkNotes &notes)
{
    m_nextCheckMs = nowMs + kIntervalMs;
    struct stat st;
    if (::lstat(m_nativePath.constData(), &st) == 0 && FileId{st.st_dev, st.st_ino} == m_id) {
        m_sinceCheck = 0;
        return;
    }
    // Moved, removed or replaced: the next line opens the path anew. Lines
    // that went into a removed file since the last check are lost.
    if (m_sinceCheck && ::fstat(m_fd, &st) == 0 && st.st_nlink == 0) {
        m_dropped += m_sinceCheck;
        notes.append({QtWarningMsg, QStringLiteral("%1 was removed while open; up to %2 records written to it "
                                                   "since the last check are lost")
                                        .arg(m_path).arg(m_sinceCheck)});
    }
    m_sinceCheck = 0;
    closeFile();
}

bool LogSink::append(const char *line, int size, bool keepLine, qint64 nowMs, SinkNotes &notes)
{
    if (m_fd >= 0 && nowMs >= m_nextCheckMs)
        revalidate(nowMs, notes);
    // Waiting records go first; a failing path is not touched between retries.
    if (m_failing || !m_queue.empty()) {
        if (nowMs < m_nextRetryMs || !drain(nowMs, notes)) {
            if (keepLine)
                keep(line, size, notes);
            return false;
        }
    }
    if (writeOrFail(line, size, nowMs, notes))
        return true;
    if (keepLine)
        keep(line, size, notes);
    return false;
}

bool LogSink::sync()
{
    return m_fd >= 0 && ::fsync(m_fd) == 0;
}

QString LogSink::failure() const
{
    return m_refusal ? QString::fromLatin1(m_refusal) : errorText(m_lastError);
}

bool LogSink::readOwnFile(const QString &path, int maxBytes, QByteArray *data, QString *why)
{
    why->clear();
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno != ENOENT)
            *why = errorText(errno);
        return false;
    }
    if (const char *refusal = notOwnRegularFile(fd)) {
        ::close(fd);
        *why = QString::fromLatin1(refusal);
        return false;
    }
    data->resize(maxBytes);
    qint64 got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(fd, data->data() + got, size_t(maxBytes - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            *why = errorText(errno);
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    data->resize(int(got));
    return why->isEmpty();
}

bool LogSink::replaceOwnFile(const QString &path, const QByteArray &data, QString *why)
{
    // mkstemp: a new file of this user, 0600, never an existing path or link.
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *why = errorText(errno);
        return false;
    }
    bool done = writeAll(fd, data.constData(), data.size()) && ::fsync(fd) == 0;
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
        *why = errorText(error);
    }
    return done;
}

bool LogSink::flush(qint64 nowMs, SinkNotes &notes)
{
    if (m_fd >= 0)
        revalidate(nowMs, notes);
    return drain(nowMs, notes);
}

bool LogSink::fileId(qint64 nowMs, FileId *id, SinkNotes &notes)
{
    if (m_fd >= 0 && nowMs >= m_nextCheckMs)
        revalidate(nowMs, notes);
    if (m_fd < 0 && (!m_failing || nowMs >= m_nextRetryMs))
        ensureOpen();
    *id = m_id;
    return m_fd >= 0;
}

void LogSink::adoptQueue(LogSink &other)
{
    for (auto it = other.m_queue.rbegin(); it != other.m_queue.rend(); ++it)
        m_queue.push_front(std::move(*it));
    m_queuedBytes += other.m_queuedBytes;
    m_dropped += other.m_dropped;
    other.m_queue.clear();
    other.m_queuedBytes = 0;
    other.m_dropped = 0;
    trimQueue();
}
