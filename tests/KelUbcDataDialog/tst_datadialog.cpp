// The data dialog: the latest records as a table, export as JSON lines, and
// erase while another thread writes records and journal lines.

#include "TestLogs.h"

#include <KelUbc.h>
#include <KelUbcConsent.h>
#include <KelUbcDataDialog.h>
#include <KelUbcTranslator.h>
#include <RuvUbc.h>
#include <RuvUbcHelper.h>

#include <QtTest/QtTest>
#include <KelUbcUploader.h>

#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>

#include <atomic>
#include <thread>

using TestLogs::objects;

class tst_DataDialog : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString log, journal;
    RuvUbcHelper *helper = nullptr;

    static void action(const QString &code, const QString &name)
    {
        KelUbc::instance()->sendActionExecute(code, name, true);
    }

private slots:
    void initTestCase()
    {
        log = dir.filePath(QStringLiteral("records.jsonl"));
        journal = dir.filePath(QStringLiteral("events.jsonl"));
        KelUbc::instance()->setLogFilePath(log);
        helper = RuvUbcHelper::publish(new RuvUbcHelper(journal, qApp));
    }

    void tableAndExport()
    {
        KelUbcTranslator translator(KelUbcTranslator::Chinese);
        qApp->installTranslator(&translator);
        for (int i = 0; i < KelUbcDataDialog::ShownRecords + 5; ++i)
            action(QString::number(210000 + i), QStringLiteral("命令 %1").arg(i));
        helper->sendData(580101004);
        KelUbcConsent consent(dir.filePath(QStringLiteral("consent.ini")));
        consent.setLevel(KelUbcConsent::LocalOnly);
        KelUbcDataDialog dialog(&consent, nullptr);
        auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("records"));
        QCOMPARE(table->rowCount(), KelUbcDataDialog::ShownRecords);
        const int last = KelUbcDataDialog::ShownRecords + 4;
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("命令 %1 (%2)").arg(last).arg(210000 + last)); // newest first
        QCOMPARE(table->item(0, 2)->text(), QStringLiteral("快捷键"));
        QVERIFY(QDateTime::fromString(table->item(0, 0)->text(), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("upload"))->text(), QStringLiteral("本机不发送任何内容。"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.grab().save(QStringLiteral("data-dialog-zh.png")));

        translator.setLanguage(KelUbcTranslator::English);
        action(QStringLiteral("210101"), QStringLiteral("Draw wall"));
        KelUbcDataDialog english(&consent, nullptr);
        QCOMPARE(english.findChild<QTableWidget *>()->horizontalHeaderItem(2)->text(), QStringLiteral("Location"));
        english.show();
        QVERIFY(QTest::qWaitForWindowExposed(&english));
        QVERIFY(english.grab().save(QStringLiteral("data-dialog-en.png")));
        qApp->removeTranslator(&translator);

        // Export: every record, then the journal.
        const QString out = dir.filePath(QStringLiteral("export.jsonl"));
        QVERIFY(dialog.exportTo(out));
        const QList<QJsonObject> exported = objects(out);
        QCOMPARE(exported, objects(log) + objects(journal));
        QCOMPARE(exported.last().value(QLatin1String("code")).toString(), QStringLiteral("580101004"));
    }

    // With an uploader, a button asks the server to erase: one request per
    // machine digest in the latest records; without one, no button.
    void serverErasure()
    {
        KelUbcDataDialog alone(nullptr, nullptr);
        QVERIFY(!alone.findChild<QPushButton *>(QStringLiteral("eraseServer")));
        QVERIFY(!alone.requestServerErasure());

        const QString kept = dir.filePath(QStringLiteral("other.jsonl"));
        QVERIFY(TestLogs::writeFile(kept, "{\"gid\":\"" + QByteArray(64, 'a') + "\",\"fncode\":\"1\"}\n{\"gid\":\"" + QByteArray(64, 'b')
                                              + "\",\"fncode\":\"1\"}\n{\"gid\":\"" + QByteArray(64, 'a') + "\",\"fncode\":\"2\"}\n"));
        KelUbcUploader uploader;
        uploader.setLogFilePath(kept);
        uploader.setUrl(QUrl(QStringLiteral("http://127.0.0.1:1/v1/records"))); // nothing listens
        KelUbcDataDialog dialog(nullptr, &uploader);
        QVERIFY(dialog.findChild<QPushButton *>(QStringLiteral("eraseServer")));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.grab().save(QStringLiteral("data-dialog-uploader.png")));
        QSignalSpy answers(&uploader, &KelUbcUploader::erasureRequestFinished);
        QVERIFY(dialog.requestServerErasure());
        QTRY_COMPARE(answers.size(), 2);
        QTest::qWait(200);
        QCOMPARE(answers.size(), 2); // one per machine, not per record
        QStringList asked{answers[0][0].toString(), answers[1][0].toString()};
        asked.sort();
        QCOMPARE(asked, (QStringList{QString(64, QLatin1Char('a')), QString(64, QLatin1Char('b'))}));
        QVERIFY(!answers[0][1].toBool());
        for (QWidget *w : QApplication::topLevelWidgets()) // the failure's message boxes
            if (qobject_cast<QMessageBox *>(w))
                w->close();
    }

    // Erase while another thread logs: no line torn or lost into a removed
    // file, the last erase's successors all kept, and the library still logs.
    void eraseWhileWriting()
    {
        KelUbcDataDialog dialog(nullptr, nullptr);
        const quint64 droppedBefore = RuvUbc::instance()->droppedRecords();
        std::atomic<bool> stop{false};
        std::atomic<int> written{0};
        std::thread writer([&] {
            // Goes on for a while after the last erase.
            for (int n = 1, after = 0; !stop.load() || ++after <= 100; ++n) {
                UbcDataProtocol record;
                RuvUbc::instance()->initUbcDataProtocol(record);
                record.fncode = QStringLiteral("1");
                record.fnname = QString::number(n);
                RuvUbc::instance()->logUbcDataProtocol(record);
                helper->sendData(quint64(n));
                written.store(n);
            }
        });
        for (int i = 0; i < 20; ++i) {
            QTRY_VERIFY(written.load() > 50 * (i + 1));
            QVERIFY(dialog.eraseAll());
        }
        stop.store(true);
        writer.join();
        QCOMPARE(RuvUbc::instance()->droppedRecords(), droppedBefore);
        const QList<QJsonObject> records = objects(log), events = objects(journal);
        QVERIFY(!records.isEmpty() && !events.isEmpty());
        // The files hold an unbroken run up to the last number written.
        int expected = written.load();
        for (auto it = records.crbegin(); it != records.crend(); ++it, --expected)
            QCOMPARE(it->value(QLatin1String("fnname")).toString(), QString::number(expected));
        expected = written.load();
        for (auto it = events.crbegin(); it != events.crend(); ++it, --expected)
            QCOMPARE(it->value(QLatin1String("code")).toString(), QString::number(expected));
        QVERIFY(records.size() < written.load()); // the erases did remove something

        QVERIFY(dialog.eraseAll());
        QVERIFY(!QFileInfo::exists(log) && !QFileInfo::exists(journal));
        action(QStringLiteral("210101"), QStringLiteral("after"));
        QCOMPARE(objects(log).size(), 1);
    }
};

QTEST_MAIN(tst_DataDialog)
#include "tst_datadialog.moc"
