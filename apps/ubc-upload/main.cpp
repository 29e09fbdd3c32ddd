// ubc-upload: ships a behaviour log to the fleet's store with KelUbcUploader
// and exits once the store confirmed every line (or at --timeout).
//   ubc-upload --url https://gateway/v1/records [--generate N [--machines M] [--without-seq]] LOG
//   ubc-upload --url http://127.0.0.1:8123/ --user NAME LOG
//   ubc-upload --url https://gateway/v1/records --journal coded-events.jsonl LOG
// The gateway's token comes from UBC_UPLOAD_TOKEN, a ClickHouse password from
// UBC_UPLOAD_PASSWORD, so that neither is in ps. Exit codes: 0 every line
// confirmed or set aside, 1 not (server unreachable, timeout), 2 a usage error.

#include <KelUbcUploader.h>
#include <RecordFormat/RecordGenerator.h>
#include <RuvUbc.h>

#include <QtCore/QCommandLineParser>
#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

int usageError(const QCommandLineParser &parser, const QString &error)
{
    std::fprintf(stderr, "ubc-upload: %s\n\n%s", qPrintable(error), qPrintable(parser.helpText()));
    return 2;
}

// The last word on --timeout: whatever holds the run up past it (the
// network, the uploader's thread, the teardown), the process ends msecs from
// now, exit code 1, without running its destructors.
void endAfter(qint64 msecs, qint64 timeoutSeconds)
{
    std::thread([msecs, timeoutSeconds] {
        std::this_thread::sleep_for(std::chrono::milliseconds(msecs));
        std::fprintf(stderr, "ubc-upload: still running %.1f s after --timeout %lld: stopped\n",
                     (msecs - timeoutSeconds * 1000) / 1000.0, timeoutSeconds);
        std::fflush(stdout);
        std::fflush(stderr);
#ifdef Q_OS_WIN
        // Not ExitProcess: the DLLs' detach could wait on a lock a stopped thread holds.
        TerminateProcess(GetCurrentProcess(), 1);
#endif
        std::_Exit(1);
    }).detach();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ubc-upload"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Uploads a KelUbc behaviour log to ClickHouse."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("log"), QStringLiteral("The behaviour log."));
    parser.addOptions({
        {QStringLiteral("url"), QStringLiteral("The gateway's address (token from UBC_UPLOAD_TOKEN), or a ClickHouse server's."), QStringLiteral("url")},
        {QStringLiteral("user"), QStringLiteral("User name (password from UBC_UPLOAD_PASSWORD)."), QStringLiteral("name")},
        {QStringLiteral("generate"), QStringLiteral("First append N generated records of a new session."), QStringLiteral("n")},
        {QStringLiteral("machines"), QStringLiteral("Generated records come from this many machines (default 1: this one)."), QStringLiteral("n"), QStringLiteral("1")},
        {QStringLiteral("without-seq"), QStringLiteral("Generated records have no seq, as another behaviour-log library writes them.")},
        {QStringLiteral("batch-bytes"), QStringLiteral("Batch size in log bytes (default 8 MiB)."), QStringLiteral("n")},
        {QStringLiteral("no-gzip"), QStringLiteral("Send request bodies uncompressed.")},
        {QStringLiteral("no-consent"), QStringLiteral("Start without consent: nothing may be sent.")},
        {QStringLiteral("journal"), QStringLiteral("Also ship this coded-event journal of the host's helper."), QStringLiteral("file")},
        {QStringLiteral("send-paths"), QStringLiteral("Send project paths as written, not as digests.")},
        {QStringLiteral("timeout"), QStringLiteral("Give up after this many seconds (default 120)."), QStringLiteral("s"), QStringLiteral("120")},
    });
    if (!parser.parse(app.arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.positionalArguments().size() != 1 || !parser.isSet(QStringLiteral("url")))
        return usageError(parser, QStringLiteral("a log and --url are needed"));
    const QUrl url(parser.value(QStringLiteral("url")));
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return usageError(parser, QStringLiteral("--url must be an http or https address"));
    bool timeoutOk = false, batchOk = true;
    const qint64 timeoutSeconds = parser.value(QStringLiteral("timeout")).toLongLong(&timeoutOk);
    const int batchBytes = parser.isSet(QStringLiteral("batch-bytes"))
            ? parser.value(QStringLiteral("batch-bytes")).toInt(&batchOk) : 0;
    if (!timeoutOk || timeoutSeconds <= 0 || !batchOk || batchBytes < 0)
        return usageError(parser, QStringLiteral("--timeout and --batch-bytes take positive numbers"));
    const QString log = parser.positionalArguments().first();

    if (parser.isSet(QStringLiteral("generate"))) {
        QElapsedTimer timer;
        timer.start();
        // Records of this machine, as its RuvUbc fills them in.
        RecordGenerator::Options options;
        options.count = parser.value(QStringLiteral("generate")).toLongLong();
        options.machines = qMax(parser.value(QStringLiteral("machines")).toInt(), 1);
        options.withSeq = !parser.isSet(QStringLiteral("without-seq"));
        RuvUbc::instance()->initUbcDataProtocol(options.base);
        const qint64 n = options.count;
        if (!RecordGenerator::appendTo(log, options)) {
            std::fprintf(stderr, "ubc-upload: cannot write %s\n", qPrintable(log));
            return 1;
        }
        std::printf("generated %lld records in %.2f s\n", n, timer.elapsed() / 1000.0);
    }

    KelUbcUploader uploader;
    uploader.setLogFilePath(log);
    uploader.setUrl(url);
    if (qEnvironmentVariableIsSet("UBC_UPLOAD_TOKEN"))
        uploader.setToken(qEnvironmentVariable("UBC_UPLOAD_TOKEN"));
    if (parser.isSet(QStringLiteral("user")))
        uploader.setCredentials(parser.value(QStringLiteral("user")),
                                qEnvironmentVariable("UBC_UPLOAD_PASSWORD"));
    if (batchBytes > 0)
        uploader.setMaxBatchBytes(batchBytes);
    uploader.setCompression(!parser.isSet(QStringLiteral("no-gzip")));
    uploader.setPollInterval(100);
    uploader.setMaxBatchAge(0);
    uploader.setRetryDelays(200, 2000);
    uploader.setConsentGiven(!parser.isSet(QStringLiteral("no-consent")));
    uploader.setJournalFilePath(parser.value(QStringLiteral("journal")));
    uploader.setSendPaths(parser.isSet(QStringLiteral("send-paths")));

    QElapsedTimer timer;
    timer.start();
    // Done once a poll found lines and none waits.
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &app, [&] {
        if ((uploader.confirmedLines() + uploader.rejectedLines() > 0 || timer.elapsed() > 3000)
            && uploader.waitingLines() == 0 && uploader.journalWaitingLines() == 0)
            app.quit();
        if (timer.elapsed() > timeoutSeconds * 1000)
            app.exit(1);
    });
    check.start(20);
    const int finishDeadline = 2000;
    uploader.setFinishDeadline(finishDeadline);
    // The last attempt, the uploader's thread stopping (a second), the teardown.
    endAfter(timeoutSeconds * 1000 + finishDeadline + 5000, timeoutSeconds);
    uploader.start();
    // The uploader finishes itself as the loop ends: one last attempt.
    int result = app.exec();
    const double seconds = timer.elapsed() / 1000.0;
    if (uploader.waitingLines() > 0 || uploader.journalWaitingLines() > 0)
        result = 1;
    std::printf("confirmed %llu records in %.2f s (%.0f records/s), rejected %llu, waiting %llu%s%s\n",
                uploader.confirmedLines(), seconds, uploader.confirmedLines() / qMax(seconds, 0.001),
                uploader.rejectedLines(), uploader.waitingLines(),
                uploader.lastError().isEmpty() ? "" : ", last error: ",
                qPrintable(uploader.lastError()));
    if (parser.isSet(QStringLiteral("journal")))
        std::printf("coded events: confirmed %llu, waiting %llu\n", uploader.journalConfirmedLines(),
                    uploader.journalWaitingLines());
    return result;
}
