#ifndef GZIPBODY_H
#define GZIPBODY_H

#include <QtCore/QByteArray>

namespace GzipBody {
// data in the gzip format (RFC 1952) for "Content-Encoding: gzip"; empty on failure.
QByteArray compress(const QByteArray &data, int level = 1);
}

#endif // GZIPBODY_H
