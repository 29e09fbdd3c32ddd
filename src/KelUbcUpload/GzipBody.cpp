#include "GzipBody.h"

#include <zlib.h>

QByteArray GzipBody::compress(const QByteArray &data, int level)
{
    z_stream stream = {};
    // 15 + 16: the largest window, with a gzip header and trailer.
    if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out;
    out.resize(int(deflateBound(&stream, uLong(data.size()))) + 32);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const int written = int(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return QByteArray();
    out.resize(written);
    return out;
}
