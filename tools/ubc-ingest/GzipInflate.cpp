#include "GzipInflate.h"

#include <zlib.h>

GzipInflate::Result GzipInflate::inflate(const QByteArray &gzip, qint64 maxSize, QByteArray &out)
{
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return Broken;
    out.resize(int(qMin<qint64>(qMax(4 * qint64(gzip.size()), qint64(4096)), maxSize)));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gzip.constData()));
    z.avail_in = uInt(gzip.size());
    Result result = Ok;
    for (;;) {
        if (z.total_out == uLong(out.size())) {
            if (out.size() >= maxSize) {
                result = TooLarge;
                break;
            }
            out.resize(int(qMin<qint64>(2 * qint64(out.size()), maxSize)));
        }
        z.next_out = reinterpret_cast<Bytef *>(out.data()) + z.total_out;
        z.avail_out = uInt(out.size() - int(z.total_out));
        const int status = ::inflate(&z, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            if (z.avail_in != 0)
                result = Broken; // a second member or trailing bytes
            break;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            result = Broken;
            break;
        }
        if (status == Z_BUF_ERROR && z.avail_out != 0) { // input ended inside the stream
            result = Broken;
            break;
        }
    }
    out.resize(result == Ok ? int(z.total_out) : 0);
    inflateEnd(&z);
    return result;
}
