#include "LogCursor.h"

#include <QtCore/QList>

bool LogCursor::parse(const QByteArray &text, LogCursor *cursor)
{
    const QList<QByteArray> parts = text.simplified().split(' ');
    if (parts.size() != 4)
        return false;
    bool ok[4];
    LogCursor c;
    c.device = parts[0].toULongLong(&ok[0]);
    c.inode = parts[1].toULongLong(&ok[1]);
    c.offset = parts[2].toLongLong(&ok[2]);
    const qulonglong checksum = parts[3].toULongLong(&ok[3]);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || c.offset < 0 || checksum > 0xffffffffu)
        return false;
    c.checksum = quint32(checksum);
    *cursor = c;
    return true;
}

QByteArray LogCursor::text() const
{
    return QByteArray::number(device) + ' ' + QByteArray::number(inode) + ' ' + QByteArray::number(offset) + ' '
           + QByteArray::number(checksum) + '\n';
}
