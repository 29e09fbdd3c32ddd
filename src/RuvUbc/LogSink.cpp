#include "LogSink.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Failing paths are tried again at most this often, and open files are
// checked this often for having been moved or removed.
constexpr qint64 kIntervalMs = 1000;

int openAppend(const char *path)
{
    // O_NONBLOCK: a FIFO without a reader fails instead of blocking the host.
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

LogSink::LogSink(const QString &path, int maxQueued)
    : m_path(path)
    , m_nativePath(QFile::encodeName(path))
    , m_maxQueued(maxQueued)
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
    int fd = openAppend(m_nativePath.constData());
    if (fd < 0 && errno == ENOENT && QDir().mkpath(QFileInfo(m_path).absolutePath()))
        fd = openAppend(m_nativePath.constData());
    if (fd < 0) {
        m_lastError = errno;
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        // Whoever cut the last line short (a full disk here, or a process
        // killed mid-write, this one in an earlier run or another), the next
        // line must not be glued to it.
        m_torn = S_ISREG(st.st_mode) && st.st_size > 0 && !endsWithNewline(st.st_size);
        m_dev = st.st_dev;
        m_ino = st.st_ino;
    }
    m_fd = fd;
    return true;
}

bool LogSink::endsWithNewline(off_t size) const
{
    // The log descriptor is write-only; a file that cannot be read is taken
    // to be whole.
    int fd;
    do {
        fd = ::open(m_nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
            notes.append({QtInfoMsg, QStringLiteral("RuvUbc: %1 is writable again; %2 records for it dropped so far")
                                         .arg(m_path).arg(m_dropped)});
        }
        return true;
    }
    m_nextRetryMs = nowMs + kIntervalMs;
    if (!m_failing) {
        m_failing = true;
        notes.append({QtWarningMsg, QStringLiteral("RuvUbc: cannot write %1 (%2); records wait in memory and are retried")
                                        .arg(m_path, QString::fromLocal8Bit(std::strerror(m_lastError)))});
    }
    return false;
}

bool LogSink::drain(qint64 nowMs, SinkNotes &notes)
{
    while (!m_queue.empty()) {
        const QByteArray &line = m_queue.front();
        if (!writeOrFail(line.constData(), line.size(), nowMs, notes))
            return false;
        m_queue.pop_front();
    }
    return true;
}

void LogSink::keep(const char *line, int size, SinkNotes &notes)
{
    if (int(m_queue.size()) >= m_maxQueued) {
        ++m_dropped;
        if (!m_overflowing) {
            m_overflowing = true;
            notes.append({QtWarningMsg, QStringLiteral("RuvUbc: %1 records wait for %2; newer records for it are dropped")
                                            .arg(m_maxQueued).arg(m_path)});
        }
        return;
    }
    m_queue.emplace_back(line, size);
}

void LogSink::revalidate(qint64 nowMs)
{
    m_nextCheckMs = nowMs + kIntervalMs;
    struct stat st;
    if (::stat(m_nativePath.constData(), &st) != 0 || st.st_dev != m_dev || st.st_ino != m_ino)
        closeFile();
}

void LogSink::append(const char *line, int size, bool keepLine, qint64 nowMs, SinkNotes &notes)
{
    if (m_fd >= 0 && nowMs >= m_nextCheckMs)
        revalidate(nowMs);
    // Waiting records go first; a failing path is not touched between retries.
    if (m_failing || !m_queue.empty()) {
        if (nowMs < m_nextRetryMs || !drain(nowMs, notes)) {
            if (keepLine)
                keep(line, size, notes);
            return;
        }
    }
    if (!writeOrFail(line, size, nowMs, notes) && keepLine)
        keep(line, size, notes);
}

bool LogSink::flush(qint64 nowMs, SinkNotes &notes)
{
    if (m_fd >= 0)
        revalidate(nowMs);
    return drain(nowMs, notes);
}

void LogSink::adoptQueue(LogSink &other)
{
    for (auto it = other.m_queue.rbegin(); it != other.m_queue.rend(); ++it)
        m_queue.push_front(std::move(*it));
    m_dropped += other.m_dropped;
    other.m_queue.clear();
    other.m_dropped = 0;
    while (int(m_queue.size()) > m_maxQueued) {
        m_queue.pop_back();
        ++m_dropped;
    }
}
