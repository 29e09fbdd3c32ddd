#ifndef GZIPINFLATE_H
#define GZIPINFLATE_H

#include <QtCore/QByteArray>

namespace GzipInflate {
enum Result { Ok, Broken, TooLarge };
// The data of a gzip body (RFC 1952, one member, nothing after it) into out,
// at most maxSize bytes.
Result inflate(const QByteArray &gzip, qint64 maxSize, QByteArray &out);
}

#endif // GZIPINFLATE_H
