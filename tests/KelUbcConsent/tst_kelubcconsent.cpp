// The consent's stored choice, the prompt's translations and the prompt.

#include <KelUbcConsent.h>
#include <KelUbcConsentDialog.h>
#include <KelUbcTranslator.h>

#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

class tst_KelUbcConsent : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void storedChoice()
    {
        const QString file = dir.filePath(QStringLiteral("host.ini"));
        {
            KelUbcConsent consent(file);
            QCOMPARE(consent.choice(), KelUbcConsent::Unasked);
            QSignalSpy changed(&consent, &KelUbcConsent::choiceChanged);
            consent.setChoice(KelUbcConsent::Granted);
            consent.setChoice(KelUbcConsent::Granted); // no change, no signal
            QCOMPARE(changed.size(), 1);
            QVERIFY(consent.isGranted());
        }
        KelUbcConsent later(file); // what the next run reads
        QCOMPARE(later.choice(), KelUbcConsent::Granted);
        later.setChoice(KelUbcConsent::Refused);
        QCOMPARE(QSettings(file, QSettings::IniFormat).value(QStringLiteral("KelUbc/uploadConsent")).toString(),
                 QStringLiteral("refused"));
        later.setChoice(KelUbcConsent::Unasked);
        QVERIFY(!QSettings(file, QSettings::IniFormat).contains(QStringLiteral("KelUbc/uploadConsent")));
    }

    void promptTexts()
    {
        KelUbcTranslator translator(KelUbcTranslator::Chinese);
        QCoreApplication::installTranslator(&translator);
        QCOMPARE(KelUbcConsent::title(), QStringLiteral("共享使用数据？"));
        QCOMPARE(KelUbcConsent::grantText(), QStringLiteral("共享"));
        QCOMPARE(KelUbcConsent::refuseText(), QStringLiteral("不共享"));
        QVERIFY(KelUbcConsent::question().contains(QStringLiteral("绝不包括您的文件")));
        translator.setLanguage(KelUbcTranslator::English);
        QCOMPARE(KelUbcConsent::title(), QStringLiteral("Share usage data?"));
        QCOMPARE(KelUbcConsent::refuseText(), QStringLiteral("Don't share"));
        // Other texts of the context are left to other translators.
        QCOMPARE(translator.translate("KelUbcConsent", "unknown text"), QString());
        QCoreApplication::removeTranslator(&translator);
    }

    void prompt()
    {
        const QString file = dir.filePath(QStringLiteral("prompt.ini"));
        KelUbcConsent consent(file);
        for (const char *button : {"grant", "refuse", static_cast<const char *>(nullptr)}) {
            QTimer::singleShot(0, [button] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                QVERIFY(box && box->objectName() == QLatin1String("kelUbcConsentDialog"));
                QCOMPARE(box->text(), KelUbcConsent::question());
                if (button)
                    box->findChild<QPushButton *>(QLatin1String(button))->click();
                else
                    box->reject(); // closed without an answer
            });
            const KelUbcConsent::Choice expected = button && qstrcmp(button, "grant") == 0
                    ? KelUbcConsent::Granted : KelUbcConsent::Refused;
            QCOMPARE(KelUbcConsentDialog::ask(&consent), expected);
            QCOMPARE(KelUbcConsent(file).choice(), expected);
        }
    }
};

QTEST_MAIN(tst_KelUbcConsent)
#include "tst_kelubcconsent.moc"
