// The host kit: the helper's journal, its publication, and the translator
// against the library's own label bytes. The journal's file rules are the
// record log's own writer's, tested in tst_ruvubc.

#include "KelUbcPrivate.h"
#include "MessageCapture.h"
#include "TestLogs.h"

#include <KelUbcTranslator.h>
#include <RuvUbc.h>
#include <RuvUbcHelper.h>

#include <QtTest/QtTest>

using TestLogs::lines;

class tst_KelUbcHost : public QObject
{
    Q_OBJECT

    QScopedPointer<MessageCapture> capture;
    QTemporaryDir dir;

private slots:
    void initTestCase() { capture.reset(new MessageCapture); }

    void journalLines()
    {
        const QString path = dir.filePath(QStringLiteral("a/b/events.jsonl")); // folders missing
        RuvUbcHelper helper(path);
        const quint64 largest = std::numeric_limits<quint64>::max(), beyondDouble = (quint64(1) << 53) + 1;
        const RuvUbcAttrType tricky{{QStringLiteral("layer"), QStringLiteral("\"q\" \\ \n\t\x01 层")},
                                   {QStringLiteral("键"), QString::fromUtf8("\xf0\x9f\x98\x80")},
                                   {QStringLiteral("lone"), QString(QChar(0xdc00)) + QChar(0xd800)}};
        // Collection off: no line, count or signal.
        RuvUbc::instance()->setCollectionEnabled(false);
        QSignalSpy spy(&helper, &RuvUbcHelper::dataSent);
        helper.sendData(7);
        helper.sendData(7, tricky);
        helper.recordTime(7);
        RuvUbc::instance()->setCollectionEnabled(true);
        QVERIFY(helper.eventCount() == 0 && helper.timeRecordCount() == 0 && spy.isEmpty());

        const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
        helper.sendData(0);
        helper.sendData(largest, tricky);
        helper.sendData(beyondDouble, RuvUbcAttrType());
        // Time records are only counted; another helper appends to the same file
        // while this one lives, so each line must be in the file on return.
        helper.recordTime(5);
        helper.recordTime(5);
        QVERIFY(helper.timeRecords() == (QMap<quint64, int>{{5, 2}}) && helper.timeRecordCount() == 2);
        RuvUbcHelper(path).sendData(9);

        // Codes as strings, exact beyond a double's 53 bits; attrs null without a map.
        const QPair<quint64, QJsonValue> expected[] = {
            {0, QJsonValue::Null},
            {largest, QJsonObject{{QStringLiteral("layer"), tricky.first()}, {QStringLiteral("键"), tricky.last()},
                                  {QStringLiteral("lone"), QStringLiteral("\ufffd\ufffd")}}},
            {beyondDouble, QJsonObject()},
            {9, QJsonValue::Null}};
        const QList<QByteArray> written = lines(path);
        QVERIFY(written.size() == 4 && TestLogs::readFile(path).endsWith('\n')); // complete lines
        QVERIFY(written[1].contains("\xEF\xBF\xBD\xEF\xBF\xBD") && !written[1].contains("\\ud"));
        UbcDataProtocol writer;
        RuvUbc::instance()->initUbcDataProtocol(writer);
        qint64 lastSeq = 0;
        for (int i = 0; i < 4; ++i) {
            QJsonObject line = QJsonDocument::fromJson(written[i]).object();
            const QDateTime time = QDateTime::fromString(line.take(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
            QVERIFY(time.timeSpec() == Qt::UTC && time >= before && time <= QDateTime::currentDateTimeUtc());
            // Named in the session as records are, across helpers.
            const qint64 seq = line.take(QStringLiteral("seq")).toVariant().toLongLong();
            QVERIFY2(seq > lastSeq, written[i]);
            lastSeq = seq;
            QCOMPARE(line.take(QStringLiteral("sessionid")).toString(), writer.sessionid);
            QCOMPARE(line.take(QStringLiteral("pcode")).toString(), writer.pcode);
            QCOMPARE(line.take(QStringLiteral("gid")).toString(), writer.gid);
            QCOMPARE(line, (QJsonObject{{QStringLiteral("code"), QString::number(expected[i].first)},
                                        {QStringLiteral("attrs"), expected[i].second}}));
        }
        QVERIFY(MessageCapture::messages().isEmpty());
    }

    // Lines that wait follow a new path; an empty path turns the journal off;
    // what still waits when the helper goes is counted in one warning.
    void journalOutage()
    {
        // A file where the journal's folder should be.
        const QString blocker = dir.filePath(QStringLiteral("blocker")), failing = blocker + QStringLiteral("/events.jsonl");
        const QString path = dir.filePath(QStringLiteral("journal/events.jsonl"));
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        MessageCapture::messages().clear();
        {
            RuvUbcHelper doomed(failing);
            doomed.sendData(3);
            doomed.sendData(4);
        }
        const QStringList warnings = MessageCapture::texts(QtWarningMsg);
        QVERIFY2(warnings.size() == 2 && warnings[1].contains(QStringLiteral("2 lines could not be written")),
                 qPrintable(warnings.join('\n')));

        RuvUbcHelper helper(failing);
        helper.sendData(1);
        helper.sendData(2, RuvUbcAttrType{{QStringLiteral("k"), QStringLiteral("v")}});
        QVERIFY(helper.pendingLines() == 2 && !helper.flushJournal());
        helper.setJournalPath(path);
        QCOMPARE(helper.pendingLines(), 0);
        helper.setJournalPath(QString());
        helper.sendData(5);
        QCOMPARE(helper.pendingLines(), 0);
        QCOMPARE(TestLogs::column(TestLogs::objects(path), QStringLiteral("code")), (QStringList{"1", "2"}));
    }

    void publication()
    {
        RuvUbcHelper helper;
        QVERIFY(RuvUbcHelper::publish(&helper) == &helper && qApp->property("RuvUbcHelper").isValid());
        QVERIFY(!RuvUbcHelper::publish(nullptr) && !qApp->property("RuvUbcHelper").isValid());

        // One destroyed in its own thread takes itself off through the queue.
        QThread thread;
        RuvUbcHelper *remote = RuvUbcHelper::publish(new RuvUbcHelper);
        remote->moveToThread(&thread);
        connect(&thread, &QThread::started, remote, &QObject::deleteLater);
        thread.start();
        QTRY_VERIFY(!qApp->property("RuvUbcHelper").isValid());
        thread.quit();
        QVERIFY(thread.wait(5000));
        // Another helper published meanwhile stays.
        RuvUbcHelper::publish(&helper);
        { RuvUbcHelper other; }
        QCOMPARE(qvariant_cast<QObject *>(qApp->property("RuvUbcHelper")), static_cast<QObject *>(&helper));
    }

    void translatorLabels()
    {
        // No translator: Qt 5 and Qt 6 alike read the GBK bytes as UTF-8, one
        // U+FFFD per byte that starts no valid sequence (D2 BC happens to be one).
        QCOMPARE(KelUbcPrivate::label(KelUbcPrivate::LabelRibbonToolbar),
                 QStringLiteral("Ribbon") + QString(6, QChar::ReplacementCharacter));
        QCOMPARE(KelUbcPrivate::label(KelUbcPrivate::LabelContextMenu), QString::fromUtf16(u"\uFFFD\u04BC\uFFFD"));

        KelUbcTranslator translator;
        QCOMPARE(translator.language(), KelUbcTranslator::Chinese);
        QCoreApplication::installTranslator(&translator);
        for (KelUbcTranslator::Language language : {KelUbcTranslator::Chinese, KelUbcTranslator::English}) {
            translator.setLanguage(language);
            for (const KelUbcPrivate::Text &t : KelUbcPrivate::labelTexts)
                QCOMPARE(QCoreApplication::translate("KelUbc", t.source, nullptr, -1),
                         QString::fromUtf8(language == KelUbcTranslator::English ? t.english : t.chinese));
            // Not a label: the decoded text; other contexts and no text: null, so
            // that the application asks its other translators.
            QCOMPARE(QCoreApplication::translate("KelUbc", "\xb2\xe2\xca\xd4"), QStringLiteral("测试"));
            QVERIFY(translator.translate("Other", "Open").isNull() && translator.translate("KelUbc", nullptr).isNull());
        }
    }
};

QTEST_GUILESS_MAIN(tst_KelUbcHost)
#include "tst_kelubchost.moc"
