// ubc-demo: a small engineering-drawing host that shows KelUbc at work.
//   ubc-demo                      opens the window for a person to use
//   ubc-demo --scenario           plays a scripted session headless and
//                                 prints what the two logs hold
//   --upload-url URL              also ships the records and the coded events to a ClickHouse
//                                 server (consent given on the command line)

#include "MainWindow.h"
#include "RecordDock.h"
#include "Scenario.h"
#include "Summary.h"

#include <KelUbc.h>
#include <KelUbcTranslator.h>
#include <KelUbcUploader.h>
#include <RuvUbc.h>
#include <RuvUbcHelper.h>

#include <QtCore/QCommandLineParser>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstring>

namespace {

QtMessageHandler previousHandler = nullptr;
bool headless = false;

// KelUbc writes one info line per record; the host lays it out beside the
// session's own lines on standard output.
void hostMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtInfoMsg && context.function
        && std::strcmp(context.function, "KelUbcPrivate::writeLog") == 0) {
        std::fprintf(stdout, "    record %s\n", message.toUtf8().constData());
        std::fflush(stdout);
        return;
    }
    // The offscreen platform can't raise or grab; that is no news for a scripted run.
    if (headless && type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support")))
        return;
    previousHandler(type, context, message);
}

bool hasArgument(int argc, char **argv, const char *name)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const bool scenario = hasArgument(argc, argv, "--scenario");
    const bool noWindow = hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")
                          || hasArgument(argc, argv, "--version") || hasArgument(argc, argv, "-v");
    // Headless unless the caller chose a platform.
    if ((scenario || noWindow) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Only the widgets that ask for a native window get one.
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ubc-demo"));
    QApplication::setApplicationVersion(QStringLiteral(KELUBC_VERSION));
    QApplication::setOrganizationName(QStringLiteral("KelUbc"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A demo host for KelUbc, the behaviour-collection library."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("scenario"), QStringLiteral("Play a scripted session headless, then print a summary.")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("Folder for the logs and the project (default: ubc-demo-output)."),
                      QStringLiteral("dir"), QStringLiteral("ubc-demo-output")});
    parser.addOption({QStringLiteral("lang"), QStringLiteral("Language of the labels: zh or en (default: zh)."),
                      QStringLiteral("lang"), QStringLiteral("zh")});
    parser.addOption({QStringLiteral("upload-url"), QStringLiteral("Upload the records to this gateway or ClickHouse HTTP address (a gateway's token from UBC_UPLOAD_TOKEN)."),
                      QStringLiteral("url")});
    parser.addOption({QStringLiteral("upload-consent"), QStringLiteral("The person's consent to the upload: yes or no (default: yes with --upload-url)."),
                      QStringLiteral("yes|no"), QStringLiteral("yes")});
    parser.addOption({QStringLiteral("upload-user"), QStringLiteral("User for the upload; the password is read from UBC_UPLOAD_PASSWORD."),
                      QStringLiteral("name")});
    // Exit codes: 0 success, 1 a failure at run time, 2 a usage error (with
    // the usage on stderr); process() would exit with 1 on a bad option.
    const auto usageError = [&parser](const QString &message) {
        std::fprintf(stderr, "ubc-demo: %s\n%s", qPrintable(message), qPrintable(parser.helpText()));
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    const QString lang = parser.value(QStringLiteral("lang"));
    if (lang != QLatin1String("zh") && lang != QLatin1String("en"))
        return usageError(QStringLiteral("--lang takes zh or en, not \"%1\"").arg(lang));
    const UiLanguage language = lang == QLatin1String("en") ? UiLanguage::English : UiLanguage::Chinese;
    const QString outDir = QDir(parser.value(QStringLiteral("out"))).absolutePath();
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "ubc-demo: cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    const QString consent = parser.value(QStringLiteral("upload-consent"));
    if (consent != QLatin1String("yes") && consent != QLatin1String("no"))
        return usageError(QStringLiteral("--upload-consent takes yes or no, not \"%1\"").arg(consent));
    const QString recordsPath = outDir + QStringLiteral("/records.jsonl");
    const QString eventsPath = outDir + QStringLiteral("/coded-events.jsonl");
    const QString projectPath = outDir + QStringLiteral("/demo.kelprj");
    // The files hold exactly this session.
    for (const QString &path : {recordsPath, eventsPath, projectPath, recordsPath + QStringLiteral(".cursor"),
                                recordsPath + QStringLiteral(".rejected")}) {
        if (QFile::exists(path) && !QFile::remove(path)) {
            std::fprintf(stderr, "ubc-demo: cannot remove %s\n", qPrintable(path));
            return 1;
        }
    }

    // The host's side of the contract: readable labels, the helper for coded
    // events, the log path, then the application's own records.
    app.installTranslator(new KelUbcTranslator(
            language == UiLanguage::English ? KelUbcTranslator::English : KelUbcTranslator::Chinese, &app));
    RuvUbcHelper *helper = RuvUbcHelper::publish(new RuvUbcHelper(eventsPath, &app));
    KelUbc *ubc = KelUbc::instance();
    if (!ubc) {
        std::fprintf(stderr, "ubc-demo: KelUbc is not available\n");
        return 1;
    }
    headless = scenario && QGuiApplication::platformName() == QLatin1String("offscreen");
    previousHandler = qInstallMessageHandler(hostMessageHandler);
    RuvUbc::instance()->setProductCode(QStringLiteral("UBCDEMO"));
    ubc->setLogFilePath(recordsPath);
    ubc->openApp();

    MainWindow window(projectPath, language);
    // Upload: the consent is the command line's, for this run only.
    KelUbcUploader uploader;
    if (parser.isSet(QStringLiteral("upload-url"))) {
        uploader.setUrl(QUrl(parser.value(QStringLiteral("upload-url"))));
        if (parser.isSet(QStringLiteral("upload-user")))
            uploader.setCredentials(parser.value(QStringLiteral("upload-user")),
                                    qEnvironmentVariable("UBC_UPLOAD_PASSWORD"));
        if (qEnvironmentVariableIsSet("UBC_UPLOAD_TOKEN"))
            uploader.setHeader("Authorization", "Bearer " + qgetenv("UBC_UPLOAD_TOKEN"));
        uploader.setLogFilePath(recordsPath);
        uploader.setJournalFilePath(eventsPath);
        uploader.setMaxBatchAge(1000);
        uploader.setPollInterval(250);
        uploader.setConsentGiven(consent == QLatin1String("yes"));
        if (RecordDock *dock = window.findChild<RecordDock *>())
            dock->showUpload(&uploader);
        uploader.start();
    }
    window.show();
    ubc->startApp();

    Scenario *session = nullptr;
    if (scenario) {
        session = new Scenario(&window, &app);
        QTimer::singleShot(0, session, &Scenario::start);
    }
    // The window's close ends the loop through the application's Quit event.
    int result = app.exec();
    if (parser.isSet(QStringLiteral("upload-url"))) {
        // The uploader made its last attempt as the loop ended; what stays
        // waits in the log for the next run.
        uploader.finish();
        std::printf("upload: %llu records confirmed, %llu waiting, %llu set aside%s%s\n",
                    uploader.confirmedLines(), uploader.waitingLines(), uploader.rejectedLines(),
                    uploader.lastError().isEmpty() ? "" : "; last error: ", qPrintable(uploader.lastError()));
        std::printf("upload: %llu coded events confirmed, %llu waiting\n", uploader.journalConfirmedLines(),
                    uploader.journalWaitingLines());
        std::fflush(stdout);
    }
    if (!session)
        return result;

    Summary summary(recordsPath, eventsPath);
    const bool readable = summary.read();
    SessionFacts facts;
    facts.runningTime = window.closedRunningTime();
    facts.editCount = window.closedEditCount();
    facts.statistics = window.statistics();
    facts.timeRecords = helper->timeRecords();
    summary.print(facts);
    if (!readable) {
        std::fprintf(stderr, "ubc-demo: %s\n", qPrintable(summary.error()));
        result = 1;
    }
    if (session->failed())
        result = 1;
    return result;
}
