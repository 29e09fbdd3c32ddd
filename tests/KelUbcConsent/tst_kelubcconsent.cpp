// The consent: three levels, the old stored values, the machine policy, what
// each level lets through, and the prompt in both languages.

#include <KelUbc.h>
#include <KelUbcConsent.h>
#include <KelUbcConsentDialog.h>
#include <KelUbcTranslator.h>
#include <KelUbcUploader.h>
#include <RuvUbc.h>
#include <RuvUbcHelper.h>

#include <QtNetwork/QTcpServer>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QStyle>
#include <QtWidgets/QStyleOptionButton>

class tst_KelUbcConsent : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString policyFile;

    void setPolicy(const QString &level, bool locked)
    {
#ifdef Q_OS_WIN
        // Windows keeps the machine's settings in the registry, under
        // HKEY_LOCAL_MACHINE: only an administrator may write there.
        QSettings policy(QSettings::SystemScope, QCoreApplication::organizationName(),
                         QCoreApplication::applicationName());
#else
        QSettings policy(policyFile, QSettings::IniFormat);
#endif
        policy.clear();
        if (!level.isEmpty())
            policy.setValue(QStringLiteral("KelUbc/consentLevel"), level);
        policy.setValue(QStringLiteral("KelUbc/consentLocked"), locked);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("KelUbcTest"));
        QCoreApplication::setApplicationName(QStringLiteral("consent"));
        // The machine's settings, as /etc/xdg holds them.
        const QString etc = dir.filePath(QStringLiteral("etc"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, etc);
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, etc);
        policyFile = etc + QStringLiteral("/KelUbcTest/consent.conf");
    }

    void storedLevels()
    {
        const QString file = dir.filePath(QStringLiteral("host.ini"));
        // What earlier versions stored still reads.
        QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("KelUbc/uploadConsent"), QStringLiteral("granted"));
        QCOMPARE(KelUbcConsent(file).level(), KelUbcConsent::Upload);
        QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("KelUbc/uploadConsent"), QStringLiteral("refused"));
        KelUbcConsent consent(file);
        QCOMPARE(consent.level(), KelUbcConsent::LocalOnly);
        QVERIFY(!consent.needsAsking());

        QSignalSpy changed(&consent, &KelUbcConsent::levelChanged);
        consent.setLevel(KelUbcConsent::Off);
        consent.setLevel(KelUbcConsent::Off); // no change, no signal
        QCOMPARE(changed.size(), 1);
        QCOMPARE(KelUbcConsent(file).level(), KelUbcConsent::Off); // what the next run reads
        QSettings stored(file, QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("KelUbc/consentLevel")).toString(), QStringLiteral("off"));
        QVERIFY(!stored.contains(QStringLiteral("KelUbc/uploadConsent")));
        consent.setLevel(KelUbcConsent::Unasked);
        QVERIFY(consent.needsAsking() && consent.level() == KelUbcConsent::Unasked);
    }

    void machinePolicy()
    {
        const QString file = dir.filePath(QStringLiteral("policy.ini"));
        KelUbcConsent consent(file);
        setPolicy(QStringLiteral("upload"), false); // a preset: asked all the same
        QVERIFY(consent.level() == KelUbcConsent::Upload && consent.needsAsking() && !consent.isLocked());
        consent.setLevel(KelUbcConsent::LocalOnly);
        QCOMPARE(consent.level(), KelUbcConsent::LocalOnly); // the person's choice wins over a preset

        setPolicy(QStringLiteral("off"), true); // locked: wins over the stored choice
        QVERIFY(consent.isLocked() && !consent.needsAsking());
        QCOMPARE(consent.level(), KelUbcConsent::Off);
        consent.setLevel(KelUbcConsent::Upload);
        QCOMPARE(consent.level(), KelUbcConsent::Off);
        setPolicy(QString(), true); // a lock without a level locks nothing
        QCOMPARE(consent.level(), KelUbcConsent::LocalOnly);
        setPolicy(QString(), false);
    }

    // Off: no file at all; local only: records and no request; upload: a request.
    void levelsLetThrough()
    {
        const QString folder = dir.filePath(QStringLiteral("data"));
        const QString log = folder + QStringLiteral("/records.jsonl");
        KelUbcConsent consent(dir.filePath(QStringLiteral("levels.ini")));
        consent.setLevel(KelUbcConsent::Off);
        consent.governCollection();
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        KelUbc::instance()->setLogFilePath(log);
        RuvUbcHelper::publish(new RuvUbcHelper(folder + QStringLiteral("/events.jsonl"), qApp));
        KelUbcUploader uploader;
        uploader.setUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort())));
        uploader.setPollInterval(50);
        uploader.setMaxBatchAge(0);
        uploader.setConsentGiven(consent.uploads());
        connect(&consent, &KelUbcConsent::levelChanged, &uploader,
                [&] { uploader.setConsentGiven(consent.uploads()); });
        uploader.start();

        KelUbc::instance()->openApp();
        KelUbc::instance()->send(580101004, QStringLiteral("prjedocnt"), QStringLiteral("1"), false);
        QVERIFY(!QFileInfo::exists(folder));

        consent.setLevel(KelUbcConsent::LocalOnly);
        KelUbc::instance()->openApp();
        KelUbc::instance()->send(580101004, QStringLiteral("prjedocnt"), QStringLiteral("1"), false);
        QVERIFY(QFileInfo::exists(log) && QFileInfo::exists(folder + QStringLiteral("/events.jsonl")));
        QVERIFY(!server.waitForNewConnection(1000));

        consent.setLevel(KelUbcConsent::Upload);
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections() || server.waitForNewConnection(100), 5000);
        uploader.setFinishDeadline(0);
        RuvUbc::instance()->setCollectionEnabled(true);
    }

    void promptTexts()
    {
        KelUbcTranslator translator(KelUbcTranslator::Chinese);
        QCoreApplication::installTranslator(&translator);
        // The promise about paths, in both languages.
        QCOMPARE(KelUbcConsent::title(), QStringLiteral("使用数据"));
        QVERIFY(KelUbcConsent::levelText(KelUbcConsent::Upload).contains(QStringLiteral("工程路径只以摘要值发送")));
        translator.setLanguage(KelUbcTranslator::English);
        QVERIFY(KelUbcConsent::levelText(KelUbcConsent::Upload).contains(QStringLiteral("Project paths are sent only as digests")));
        QCOMPARE(translator.translate("KelUbcConsent", "unknown text"), QString());
        QCoreApplication::removeTranslator(&translator);
    }

    void prompt()
    {
        const QString file = dir.filePath(QStringLiteral("prompt.ini"));
        KelUbcConsent consent(file);
        const auto answer = [](const char *level, bool expectLocked) {
            QTimer::singleShot(0, [level, expectLocked] {
                auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog && dialog->objectName() == QLatin1String("kelUbcConsentDialog"));
                QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("locked")) != nullptr, expectLocked);
                auto *radio = dialog->findChild<QRadioButton *>(QLatin1String(level));
                QCOMPARE(radio->isEnabled(), true);
                radio->click();
                for (const char *other : {"off", "local", "upload"})
                    if (qstrcmp(other, level) != 0)
                        QCOMPARE(dialog->findChild<QRadioButton *>(QLatin1String(other))->isEnabled(), !expectLocked);
                dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            });
        };
        answer("local", false);
        QCOMPARE(KelUbcConsentDialog::ask(&consent), KelUbcConsent::LocalOnly);
        QCOMPARE(KelUbcConsent(file).level(), KelUbcConsent::LocalOnly);
        // Closed without an answer: what was stored stays.
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        QCOMPARE(KelUbcConsentDialog::ask(&consent), KelUbcConsent::LocalOnly);
        // Locked: only the locked level is offered.
        setPolicy(QStringLiteral("upload"), true);
        answer("upload", true);
        QCOMPARE(KelUbcConsentDialog::ask(&consent), KelUbcConsent::Upload);
        setPolicy(QString(), false);
        QCOMPARE(consent.level(), KelUbcConsent::LocalOnly);
    }

    // Each radio button's indicator sits on the first line of its text, in
    // both languages (the Chinese one-line Off text used to sit lower).
    void promptAligned()
    {
        KelUbcTranslator translator(KelUbcTranslator::Chinese);
        QCoreApplication::installTranslator(&translator);
        for (const auto language : {KelUbcTranslator::Chinese, KelUbcTranslator::English}) {
            translator.setLanguage(language);
            QStringList misaligned;
            QTimer::singleShot(0, [&misaligned] {
                QWidget *dialog = QApplication::activeModalWidget();
                for (const char *level : {"off", "local", "upload"}) {
                    auto *radio = dialog->findChild<QRadioButton *>(QLatin1String(level));
                    QStyleOptionButton option;
                    option.initFrom(radio);
                    const QRect indicator = radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, radio);
                    const int centre = radio->mapTo(dialog, indicator.center()).y();
                    QLabel *text = nullptr;
                    for (QLabel *label : dialog->findChildren<QLabel *>())
                        if (label->buddy() == radio)
                            text = label;
                    // The rows of the text's first line that hold ink.
                    const QImage image = text->grab().toImage();
                    const auto inked = [&image](int y) {
                        for (int x = 0; x < image.width(); ++x)
                            if (qGray(image.pixel(x, y)) < 128)
                                return true;
                        return false;
                    };
                    int top = 0;
                    while (top < image.height() && !inked(top))
                        ++top;
                    int bottom = top;
                    while (bottom + 1 < image.height() && inked(bottom + 1))
                        ++bottom;
                    const int offset = text->mapTo(dialog, QPoint()).y();
                    if (centre < offset + top || centre > offset + bottom)
                        misaligned << QStringLiteral("%1: indicator centre %2, first line %3..%4")
                                              .arg(QLatin1String(level)).arg(centre).arg(offset + top).arg(offset + bottom);
                }
                dialog->close();
            });
            KelUbcConsentDialog::ask(nullptr);
            QVERIFY2(misaligned.isEmpty(), qPrintable(misaligned.join(QStringLiteral("; "))));
        }
        QCoreApplication::removeTranslator(&translator);
    }
};

QTEST_MAIN(tst_KelUbcConsent)
#include "tst_kelubcconsent.moc"
