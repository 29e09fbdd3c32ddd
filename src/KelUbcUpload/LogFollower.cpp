#include "LogFollower.h"

#include "LogCursor.h"
#include "UploadLogging.h"

#include <LogSink.h>
#include <RotatedLogs.h>

#include <QtCore/QFile>

#include <zlib.h>

#include <algorithm>
#include <cstring>

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
    return m_file.readAt(buffer, size, offset);
}

QByteArray LogFollower::read(qint64 start, qint64 end) const
{
    QByteArray bytes(int(end - start), Qt::Uninitialized);
    bytes.resize(int(read(bytes.data(), bytes.size(), start)));
    return bytes;
}

bool LogFollower::isOpenFile(const QString &path) const
{
    FileId id;
    return isOpen() && PlatformFile::pathId(PlatformFile::nativePath(path), &id) && id == m_id;
}

void LogFollower::open()
{
    m_rotated = false;
    m_openPath = m_path;
    for (const RotatedLogs::File &file : RotatedLogs::list(m_path)) {
        FileId id;
        if (PlatformFile::pathId(PlatformFile::nativePath(file.path), &id) && !m_passedOver.contains(id)
            && !isFinished(id)) {
            m_rotated = true;
            m_openPath = file.path;
            break;
        }
    }
    if (!m_file.openRead(PlatformFile::nativePath(m_openPath),
                         m_rotated ? PlatformFile::RefuseLinks : PlatformFile::FollowLinks))
        return;
    PlatformFile::Status st;
    if (!m_file.status(&st)) {
        close();
        return;
    }
    m_id = st.id;
    m_replaced = m_rotated;
    m_lastSize = -1;
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
    } else if (cursor.device == m_id.dev && cursor.inode == m_id.ino && cursor.offset <= st.size
               && cursor.checksum == prefixChecksum(qMin(cursor.offset, LogCursor::PrefixBytes))) {
        offset = cursor.offset;
    } else if (!m_movedOn) {
        // After a numbered file was done this is no news.
        qCInfo(lcUpload, "the log is not the file the cursor names; reading it from its start");
    }
    m_movedOn = false;
    startOver(offset);
}

void LogFollower::close()
{
    m_file.close();
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
    if (!m_file.isOpen()) {
        open();
        startedOver = m_file.isOpen();
    }
    if (!m_file.isOpen())
        return false;
    FileId atPath;
    if (!m_rotated
        && (!PlatformFile::pathId(PlatformFile::nativePath(m_path), &atPath, PlatformFile::FollowLinks) || !(atPath == m_id)))
        m_replaced = true;
    PlatformFile::Status st;
    if (!m_file.status(&st))
        return startedOver;
    if (st.size != m_lastSize) {
        m_lastSize = st.size;
        m_grewAtMs = LogSink::nowMs();
    }
    if (st.size < m_scanOffset || prefixChanged()) {
        qCInfo(lcUpload, "the log was cut short or rewritten in place; reading it from its start");
        startOver(0);
        startedOver = true;
    }
    QByteArray buffer;
    while (m_scanOffset < st.size) {
        const qint64 want = qMin(kScanChunk, st.size - m_scanOffset);
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

void LogFollower::finishFile()
{
    if (m_rotated)
        m_finished.append({m_id, m_openPath, m_lastSize, m_grewAtMs});
    m_movedOn = true;
    close();
}

bool LogFollower::isFinished(const FileId &id) const
{
    return std::any_of(m_finished.cbegin(), m_finished.cend(), [&id](const Finished &f) { return f.id == id; });
}

void LogFollower::removeDone(qint64 msecs)
{
    const qint64 now = LogSink::nowMs();
    for (int i = m_finished.size() - 1; i >= 0; --i) {
        Finished &done = m_finished[i];
        FileId id;
        qint64 size = 0;
        const bool named = PlatformFile::pathId(PlatformFile::nativePath(done.path), &id, PlatformFile::RefuseLinks, &size)
                           && id == done.id;
        if (named && size == done.size && now - done.grewAtMs < msecs)
            continue;
        if (named && size == done.size && !QFile::remove(done.path)) {
            qCWarning(lcUpload, "cannot remove %s, which is uploaded; passing over it", qPrintable(done.path));
            m_passedOver.append(done.id);
        }
        // Removed, gone, or grown: then it is read again, from its start.
        m_finished.removeAt(i);
    }
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
    cursor.device = m_id.dev;
    cursor.inode = m_id.ino;
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
