// The demo host's reader of the record log: any file content is either read
// or refused with a message, never a crash or a hang.

#include "FuzzSupport.h"

#include <Summary.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

namespace {
QTemporaryDir *g_dir = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(fuzz::quietMessages);
    static QTemporaryDir dir;
    g_dir = &dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    fuzz::check(g_dir->isValid(), "no temporary folder");
    const QString records = g_dir->filePath(QStringLiteral("records.jsonl"));
    const QString events = g_dir->filePath(QStringLiteral("coded-events.jsonl"));
    for (const QString &path : {records, events}) {
        QFile file(path);
        fuzz::check(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                        && file.write(reinterpret_cast<const char *>(bytes), qint64(size)) == qint64(size),
                    "cannot write the input file");
    }
    Summary summary(records, events);
    const bool read = summary.read();
    fuzz::check(read == summary.error().isEmpty(), "result and message disagree", summary.error());
    return 0;
}
