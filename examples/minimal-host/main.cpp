// A minimal Qt Widgets host of KelUbc. Lines that concern KelUbc end with
// "// KelUbc"; everything else is the application's own.
#include "MainWindow.h"
#include "Scenario.h"

#include <KelUbc.h>                                                              // KelUbc
#include <KelUbcActionTracker.h>                                                 // KelUbc
#include <KelUbcConsentDialog.h>                                                 // KelUbc
#include <KelUbcDataDialog.h>                                                    // KelUbc
#include <KelUbcTranslator.h>                                                    // KelUbc
#include <KelUbcUploader.h>                                                      // KelUbc
#include <RuvUbc.h>                                                              // KelUbc
#include <RuvUbcHelper.h>                                                        // KelUbc

#include <QAction>
#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Example")); // before the first record
    QApplication::setApplicationName(QStringLiteral("minimal-host"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    const QStringList args = QApplication::arguments();
    const bool scenario = args.contains(QStringLiteral("--scenario"));
    const bool english = args.contains(QStringLiteral("--lang=en"));
    const QString uploadUrl = args.filter(QStringLiteral("--upload-url=")).value(0).section(QLatin1Char('='), 1);

    app.installTranslator(new KelUbcTranslator(english ? KelUbcTranslator::English : KelUbcTranslator::Chinese, &app)); // KelUbc
    auto *consent = new KelUbcConsent(&app);                                    // KelUbc
    consent->governCollection(); // nothing is written until the person agrees  // KelUbc
    const QString journal = RuvUbc::instance()->logFilePath() + QStringLiteral(".events"); // KelUbc
    RuvUbcHelper::publish(new RuvUbcHelper(journal, &app));                     // KelUbc
    new KelUbcActionTracker(&app); // logs actions that carry "kelubcCode"      // KelUbc

    MainWindow window;
    if (scenario) // "local" unless --consent=off|upload
        Scenario::answerConsent(args.filter(QStringLiteral("--consent=")).value(0).section(QLatin1Char('='), 1));
    if (consent->needsAsking())                                                 // KelUbc
        KelUbcConsentDialog::ask(consent, &window);                             // KelUbc
    KelUbc::instance()->openApp();                                              // KelUbc
    KelUbc::instance()->startApp();                                             // KelUbc

    // It finishes itself when the event loop ends: one last try of 2 s at most.
    KelUbcUploader uploader;                                                    // KelUbc
    if (!uploadUrl.isEmpty()) {
        uploader.setUrl(QUrl(uploadUrl));                                       // KelUbc
        uploader.setToken(qEnvironmentVariable("UBC_UPLOAD_TOKEN"));            // KelUbc
        uploader.setConsentGiven(consent->uploads());                           // KelUbc
        QObject::connect(consent, &KelUbcConsent::levelChanged, &uploader,      // KelUbc
                         [&] { uploader.setConsentGiven(consent->uploads()); }); // KelUbc
        uploader.start();                                                       // KelUbc
    }
    QObject::connect(window.usageAction, &QAction::triggered, &window, [&] {
        KelUbcDataDialog(consent, &uploader, &window).exec();                  // KelUbc
    });

    window.show();
    if (scenario)
        Scenario::play(&window);
    return app.exec(); // the last window closed: KelUbc logs the close itself
}
