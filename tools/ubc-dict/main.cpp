#include "UbcDictCommand.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ubc-dict"));
#ifdef Q_OS_WIN
    // The CSV goes out byte for byte, line ends included.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return UbcDictCommand(&out, &err).run(QCoreApplication::arguments());
}
