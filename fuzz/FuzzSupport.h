#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

// Shared by the fuzz targets: turning fuzz bytes into any UTF-16 text, a
// check that stops the run with a message, and a quiet message handler.

#include <QtCore/QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Bytes below 0xf0 stand for themselves (ASCII and Latin-1, so separators are
// cheap to find); a byte from 0xf0 takes the next two as one raw UTF-16 unit,
// lone surrogates and U+0000 included.
inline QString text(const std::string &bytes)
{
    QString out;
    out.reserve(int(bytes.size()));
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0xf0 || i + 2 >= bytes.size()) {
            out.append(QChar(ushort(b)));
        } else {
            out.append(QChar(ushort(static_cast<unsigned char>(bytes[i + 1]) << 8
                                    | static_cast<unsigned char>(bytes[i + 2]))));
            i += 2;
        }
    }
    return out;
}

inline QString text(FuzzedDataProvider &data, size_t maxBytes = 256)
{
    return text(data.ConsumeRandomLengthString(maxBytes));
}

// Prints what went wrong and aborts, which libFuzzer reports as a crash.
[[noreturn]] inline void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n%s\n", what, detail.toUtf8().constData());
    std::abort();
}

inline void check(bool ok, const char *what, const QString &detail = QString())
{
    if (!ok)
        fail(what, detail);
}

// Info and debug lines of every call would drown libFuzzer's own output.
inline void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type >= QtWarningMsg)
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
}

} // namespace fuzz

#endif // FUZZSUPPORT_H
