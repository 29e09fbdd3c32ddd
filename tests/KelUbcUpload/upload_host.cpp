// A host for the quit test, set up as the README shows: logs two records,
// starts an uploader owned by the application, and as its event loop ends
// logs three more (its close records). Prints the time the loop was told to
// end, in ms since the epoch.
//   upload_host LOG URL

#include <KelUbcUploader.h>
#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    RuvUbc *log = RuvUbc::instance();
    log->setLogFilePath(args.at(1));
    const auto record = [log](const char *code) {
        UbcDataProtocol r;
        log->initUbcDataProtocol(r);
        r.fncode = QString::fromLatin1(code);
        log->logUbcDataProtocol(r);
    };
    record("open");
    record("work");
    auto *uploader = new KelUbcUploader(&app);
    uploader->setUrl(QUrl(args.at(2)));
    uploader->setConsentGiven(true);
    uploader->start();
    QTimer::singleShot(300, &app, [&] {
        for (const char *code : {"close1", "close2", "close3"})
            record(code);
        std::printf("%lld\n", QDateTime::currentMSecsSinceEpoch());
        std::fflush(stdout);
        app.quit();
    });
    return app.exec();
}
