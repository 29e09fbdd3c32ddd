// ubc-ingest: the fleet's batching service behind the gateway. Desktops'
// requests are answered once their rows are on disk here; the rows go on to
// ClickHouse in large inserts, about one a second, so that the store makes a
// part a second rather than one per desktop request.

#include "Flusher.h"
#include "IngestLogging.h"
#include "IngestServer.h"
#include "Spool.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QSaveFile>

#include <cstdio>

namespace {

int usage(const QCommandLineParser &parser, const QString &error)
{
    std::fprintf(stderr, "ubc-ingest: %s\n\n%s", qPrintable(error), qPrintable(parser.helpText()));
    return 2;
}

bool wholeNumber(const QString &text, qint64 min, qint64 *value)
{
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok && *value >= min;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ubc-ingest"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Takes the fleet's record requests from the gateway, answers each once its rows are on disk,\n"
        "and inserts them into ClickHouse in large batches (as --user, password from UBC_INGEST_PASSWORD).\n"
        "Exit codes: 1 the spool or the address cannot be used, 2 wrong usage."));
    parser.addHelpOption();
    const QCommandLineOption spoolOpt(QStringLiteral("spool"), QStringLiteral("Folder of the rows not yet stored."),
                                      QStringLiteral("dir"));
    const QCommandLineOption chOpt(QStringLiteral("clickhouse"), QStringLiteral("ClickHouse's HTTP address."),
                                   QStringLiteral("url"));
    const QCommandLineOption listenOpt(QStringLiteral("listen"),
                                       QStringLiteral("Address and port to listen on (default 127.0.0.1:0, any free port)."),
                                       QStringLiteral("host:port"), QStringLiteral("127.0.0.1:0"));
    const QCommandLineOption portFileOpt(QStringLiteral("port-file"),
                                         QStringLiteral("Write the port listened on to this file."), QStringLiteral("file"));
    const QCommandLineOption userOpt(QStringLiteral("user"), QStringLiteral("ClickHouse user (default ubc_gateway)."),
                                     QStringLiteral("name"), QStringLiteral("ubc_gateway"));
    const QCommandLineOption tableOpt(QStringLiteral("table"), QStringLiteral("Table to insert into (default ubc.records)."),
                                      QStringLiteral("name"), QStringLiteral("ubc.records"));
    const QCommandLineOption syncOpt(QStringLiteral("sync-delay"),
                                     QStringLiteral("Milliseconds a sync waits for more requests (default 2)."),
                                     QStringLiteral("ms"), QStringLiteral("2"));
    const QCommandLineOption sealOpt(QStringLiteral("flush-interval"),
                                     QStringLiteral("Milliseconds between inserts (default 1000)."), QStringLiteral("ms"),
                                     QStringLiteral("1000"));
    const QCommandLineOption maxSpoolOpt(QStringLiteral("max-spool-mib"),
                                         QStringLiteral("Refuse requests (503) while the spool holds more (default 4096)."),
                                         QStringLiteral("mib"), QStringLiteral("4096"));
    parser.addOptions({spoolOpt, chOpt, listenOpt, portFileOpt, userOpt, tableOpt, syncOpt, sealOpt, maxSpoolOpt});
    if (!parser.parse(app.arguments()))
        return usage(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(parser, QStringLiteral("no arguments are taken but options"));
    if (!parser.isSet(spoolOpt) || !parser.isSet(chOpt))
        return usage(parser, QStringLiteral("--spool and --clickhouse are needed"));

    IngestServer::Settings server;
    const QString listen = parser.value(listenOpt);
    const int colon = listen.lastIndexOf(QLatin1Char(':'));
    qint64 port = 0, syncDelay = 0, interval = 0, maxSpool = 0;
    if (colon < 0 || !server.address.setAddress(listen.left(colon)) || !wholeNumber(listen.mid(colon + 1), 0, &port)
        || port > 65535)
        return usage(parser, QStringLiteral("--listen takes an address and a port, such as 127.0.0.1:8124"));
    server.port = quint16(port);
    if (!wholeNumber(parser.value(syncOpt), 0, &syncDelay) || syncDelay > 1000
        || !wholeNumber(parser.value(sealOpt), 10, &interval) || interval > 600000
        || !wholeNumber(parser.value(maxSpoolOpt), 1, &maxSpool))
        return usage(parser, QStringLiteral("--sync-delay, --flush-interval and --max-spool-mib take whole numbers in range"));
    server.syncDelayMs = int(syncDelay);
    server.sealAfterMs = int(interval);
    server.maxSpoolBytes = maxSpool << 20;

    Flusher::Settings store;
    store.url = QUrl(parser.value(chOpt));
    if (!store.url.isValid()
        || (store.url.scheme() != QLatin1String("http") && store.url.scheme() != QLatin1String("https")))
        return usage(parser, QStringLiteral("--clickhouse takes an http(s) address"));
    store.table = parser.value(tableOpt);
    const QByteArray password = qgetenv("UBC_INGEST_PASSWORD");
    store.authorization = "Basic " + (parser.value(userOpt).toUtf8() + ':' + password).toBase64();

    Spool spool(parser.value(spoolOpt));
    QString error;
    if (!spool.open(&error)) {
        std::fprintf(stderr, "ubc-ingest: %s\n", qPrintable(error));
        return 1;
    }
    Flusher flusher(&spool, store);
    IngestServer ingest(&spool, &flusher, server);
    if (!ingest.listen(&error)) {
        std::fprintf(stderr, "ubc-ingest: %s\n", qPrintable(error));
        return 1;
    }
    if (parser.isSet(portFileOpt)) {
        QSaveFile file(parser.value(portFileOpt));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(ingest.port()) + '\n') < 0 || !file.commit()) {
            std::fprintf(stderr, "ubc-ingest: cannot write %s\n", qPrintable(parser.value(portFileOpt)));
            return 1;
        }
    }
    qCInfo(lcIngest, "listening on %s:%d, spool %s, inserting into %s at %s", qPrintable(server.address.toString()),
           ingest.port(), qPrintable(parser.value(spoolOpt)), qPrintable(store.table),
           qPrintable(store.url.toDisplayString(QUrl::RemoveUserInfo)));
    flusher.kick();
    return app.exec();
}
