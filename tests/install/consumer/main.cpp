// A minimal host: the facade, the behaviour log, the shipped helper and translator.
#include <KelUbc.h>
#include <KelUbcTranslator.h>
#include <RuvUbc.h>
#include <RuvUbcHelper.h>

#include <QtCore/QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    app.installTranslator(new KelUbcTranslator(KelUbcTranslator::English, &app));
    RuvUbcHelper::publish(new RuvUbcHelper(&app));
    RuvUbc::instance()->setProductCode(QStringLiteral("consumer"));

    KelUbc *ubc = KelUbc::instance();
    ubc->setLogFilePath(QString::fromLocal8Bit(argv[1]));
    ubc->openApp();
    ubc->startApp();
    ubc->closeApp();
    return 0;
}
