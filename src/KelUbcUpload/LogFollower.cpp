#include "LogFollower.h"

#include "LogCursor.h"
#include "UploadLogging.h"

#include <LogSink.h>

#include <QtCore/QFile>

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kScanChunk = 1 << 20;

} // namespace

LogFollower::LogFollower(const QString &path) : m_path(path), m_cursorPath(path + QStringLiteral(".cursor"))
{
}

LogFollower::~LogFollower()
{
    close();
}

qint64 LogFollower::read(char *buffer, qint64 size, qint64 offset) const
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(m_fd, buffer + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

QByteArray LogFollower::read(qint64 start, qint64 end) const
{
    QByteArray bytes(int(end - start), Qt::Uninitialized);
    bytes.resize(int(read(bytes.data(), bytes.size(), start)));
    return bytes;
}

void LogFollower::open()
{
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        close();
        return;
    }
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_replaced = false;
    QByteArray text;
    QString why;
    LogCursor cursor;
    qint64 offset = 0;
    // Whatever the cursor holds, the worst outcome is reading the log again.
    if (!LogSink::readOwnFile(m_cursorPath, 256, &text, &why)) {
        if (!why.isEmpty())
            qCWarning(lcUpload, "cannot read the upload cursor %s (%s); reading the log from its start",
                      qPrintable(m_cursorPath), qPrintable(why));
    } else if (!LogCursor::parse(text, &cursor)) {
        qCWarning(lcUpload, "the upload cursor %s is not one; reading the log from its start", qPrintable(m_cursorPath));
    } else if (cursor.device == quint64(m_dev) && cursor.inode == quint64(m_ino) && cursor.offset <= st.st_size
               && cursor.checksum == prefixChecksum(qMin(cursor.offset, LogCursor::PrefixBytes))) {
        offset = cursor.offset;
    } else {
        qCInfo(lcUpload, "the log is not the file the cursor names; reading it from its start");
    }
    startOver(offset);
}

void LogFollower::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void LogFollower::startOver(qint64 offset)
{
    m_confirmed = m_scanOffset = m_completeEnd = offset;
    m_prefixLength = qMin(offset, LogCursor::PrefixBytes);
    m_prefixSum = prefixChecksum(m_prefixLength);
    m_scannedLines = m_doneLines = 0;
}

quint32 LogFollower::prefixChecksum(qint64 length) const
{
    QByteArray prefix(int(length), Qt::Uninitialized);
    if (read(prefix.data(), length, 0) != length)
        return 0;
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(prefix.constData()), uInt(length)));
}

bool LogFollower::prefixChanged() const
{
    // Appending never changes the first bytes; a copytruncate and a refill
    // between two scans do, whatever the size is now.
    return m_prefixLength > 0 && prefixChecksum(m_prefixLength) != m_prefixSum;
}

void LogFollower::extendPrefix()
{
    if (m_prefixLength < LogCursor::PrefixBytes && m_scanOffset > m_prefixLength) {
        m_prefixLength = qMin(m_scanOffset, LogCursor::PrefixBytes);
        m_prefixSum = prefixChecksum(m_prefixLength);
    }
}

bool LogFollower::scan()
{
    bool startedOver = false;
    if (m_fd < 0) {
        open();
        startedOver = m_fd >= 0;
    }
    if (m_fd < 0)
        return false;
    struct stat st;
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0 || st.st_dev != m_dev || st.st_ino != m_ino)
        m_replaced = true;
    if (::fstat(m_fd, &st) != 0)
        return startedOver;
    if (st.st_size < m_scanOffset || prefixChanged()) {
        qCInfo(lcUpload, "the log was cut short or rewritten in place; reading it from its start");
        startOver(0);
        startedOver = true;
    }
    QByteArray buffer;
    while (m_scanOffset < st.st_size) {
        const qint64 want = qMin(kScanChunk, qint64(st.st_size) - m_scanOffset);
        buffer.resize(int(want));
        const qint64 got = read(buffer.data(), want, m_scanOffset);
        if (got <= 0)
            break;
        const char *begin = buffer.constData();
        const char *p = begin;
        const char *end = begin + got;
        while ((p = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p))))) {
            ++m_scannedLines;
            ++p;
            m_completeEnd = m_scanOffset + (p - begin);
        }
        m_scanOffset += got;
    }
    extendPrefix();
    return startedOver;
}

void LogFollower::advance(qint64 offset, int lines)
{
    m_confirmed = offset;
    m_doneLines += quint64(lines);
    saveCursor();
}

void LogFollower::saveCursor()
{
    LogCursor cursor;
    cursor.device = quint64(m_dev);
    cursor.inode = quint64(m_ino);
    cursor.offset = m_confirmed;
    cursor.checksum = prefixChecksum(qMin(m_confirmed, LogCursor::PrefixBytes));
    QString why;
    if (LogSink::replaceOwnFile(m_cursorPath, cursor.text(), &why)) {
        if (m_cursorFailing)
            qCInfo(lcUpload, "the upload cursor %s is saved again", qPrintable(m_cursorPath));
        m_cursorFailing = false;
        return;
    }
    // Not fatal: the old cursor stays, and the lines after it are sent again
    // after a restart and counted once.
    if (!m_cursorFailing)
        qCWarning(lcUpload, "cannot save the upload cursor %s (%s); lines confirmed since are sent again after a restart",
                  qPrintable(m_cursorPath), qPrintable(why));
    m_cursorFailing = true;
}
