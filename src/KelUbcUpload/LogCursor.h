#ifndef LOGCURSOR_H
#define LOGCURSOR_H

#include <QtCore/QByteArray>

// How far the store has the log, as kept beside it (log path + ".cursor"):
// "<device> <inode> <offset> <checksum>\n", the checksum a CRC-32 of the
// log's first min(offset, PrefixBytes) bytes. A new file may get a removed
// one's inode; appending never changes the checksum, rewriting does.
struct LogCursor
{
    static constexpr qint64 PrefixBytes = 4096;

    quint64 device = 0, inode = 0;
    qint64 offset = 0;
    quint32 checksum = 0;

    // Whatever the file holds: false unless it is four numbers, the offset
    // not negative.
    static bool parse(const QByteArray &text, LogCursor *cursor);
    QByteArray text() const;
};

#endif // LOGCURSOR_H
