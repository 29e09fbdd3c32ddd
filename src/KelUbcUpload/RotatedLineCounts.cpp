#include "RotatedLineCounts.h"

#include "LogFollower.h"

#include <algorithm>

quint64 RotatedLineCounts::waiting(const LogFollower &log)
{
    quint64 total = 0;
    QHash<QString, QPair<qint64, quint64>> kept;
    for (const RotatedLogs::File &file : RotatedLogs::list(m_logPath)) {
        FileId id;
        if (PlatformFile::pathId(PlatformFile::nativePath(file.path), &id) && !(log.isOpen() && id == log.fileId())
            && !log.isFinished(id))
            total += lines(file);
        if (m_counts.contains(file.path))
            kept.insert(file.path, m_counts.value(file.path));
    }
    m_counts.swap(kept);
    return total;
}

quint64 RotatedLineCounts::lines(const RotatedLogs::File &file)
{
    const auto known = m_counts.constFind(file.path);
    if (known != m_counts.cend() && known->first == file.size)
        return known->second;
    PlatformFile reader;
    quint64 count = 0;
    if (reader.openRead(PlatformFile::nativePath(file.path))) {
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        qint64 offset = 0, got;
        while ((got = reader.readAt(buffer.data(), buffer.size(), offset)) > 0) {
            count += quint64(std::count(buffer.constData(), buffer.constData() + got, '\n'));
            offset += got;
        }
    }
    m_counts.insert(file.path, {file.size, count});
    return count;
}
