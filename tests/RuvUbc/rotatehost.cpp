// A writer of its own process for the rotation tests: logs count records
// with fncode tag and fnname 0, 1, ... to the log, rotated at maxBytes.
// Arguments: LOG TAG COUNT PAD MAXBYTES.

#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QStringList>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6)
        return 2;
    RuvUbc *log = RuvUbc::instance();
    log->setLogFilePath(args[1]);
    log->setMaxLogFileBytes(args[5].toLongLong());
    const int count = args[3].toInt();
    const QString pad(args[4].toInt(), QLatin1Char('p'));
    for (int i = 0; i < count; ++i) {
        UbcDataProtocol record;
        log->initUbcDataProtocol(record);
        record.fncode = args[2];
        record.fnname = QString::number(i);
        record.prjtext = pad;
        log->logUbcDataProtocol(record);
    }
    return log->queuedRecords() == 0 && log->droppedRecords() == 0 ? 0 : 1;
}
