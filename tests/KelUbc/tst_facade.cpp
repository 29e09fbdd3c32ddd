// The facade, its private state, the behaviour-log bracket and the
// application records, against the recording behaviour log.

#include "Facade.h"
#include "MessageCapture.h"
#include "RecordingTranslator.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtTest/QtTest>

class tst_Facade : public QObject
{
    Q_OBJECT

    QScopedPointer<MessageCapture> capture;
    RecordingTranslator translator; // answers with the GBK-decoded source text

private slots:
    void initTestCase()
    {
        capture.reset(new MessageCapture);
        const QString dictionary = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
        QFile::remove(dictionary);
        QCoreApplication::installTranslator(&translator);

        KelUbc *first = KelUbc::instance();
        QVERIFY(first && KelUbc::instance() == first);
        QCOMPARE(QSqlDatabase::connectionNames(), QStringList{QStringLiteral("KelUbc")});

        // No dictionary: one debug line with the error, one warning that names
        // the path, and no file made.
        const QStringList debug = MessageCapture::texts(QtDebugMsg);
        QVERIFY2(debug.size() == 1 && debug.first().startsWith(QStringLiteral("QSqlError(")),
                 qPrintable(joined(debug)));
        QVERIFY(!QFile::exists(dictionary));
        // Another facade, and a look-up that fails: no second warning of its own.
        KelUbc().send(QStringLiteral("K1"));
        QStringList warnings;
        for (const MessageCapture::Message &m : MessageCapture::messages())
            if (m.type == QtWarningMsg && m.category.startsWith(QLatin1String("kelubc")))
                warnings << m.category + QLatin1Char(' ') + m.text;
        QCOMPARE(warnings, QStringList{QStringLiteral("kelubc.facade KelUbc: no function dictionary at %1;"
                                                      " named events are dropped and actions carry no group").arg(QDir::toNativeSeparators(dictionary))});
    }

    void applicationRecords()
    {
        translator.requests.clear();
        ubc()->openApp();
        ubc()->startApp();
        ubc()->closeApp();

        // The fields each record sets; the rest as initialisation left them,
        // but no attributes.
        const UbcDataProtocol i = RecordingLog::initialRecord();
        QStringList seen;
        for (const UbcDataProtocol &r : RecordingLog::records())
            seen << QStringList{r.fncode, r.fnname, r.fngroup, r.duration, r.sessionid + r.prjfullpath,
                                QString::number(r.attrs.size())}.join(QLatin1Char('|'));
        const QString kept = i.sessionid + i.prjfullpath + QStringLiteral("|0");
        QCOMPARE(seen, (QStringList{QStringLiteral("990007|打开软件|特殊功能|%1|%2").arg(i.duration, kept),
                                    QStringLiteral("990001|启动软件|特殊功能|%1|%2").arg(i.duration, kept),
                                    QStringLiteral("990002|关闭软件|特殊功能|0|%1").arg(kept)}));

        // The labels reached translate() as GBK bytes (the Chinese names above
        // are their decoding), under "KelUbc", with no disambiguation and n -1.
        QCOMPARE(translator.requests.size(), 6);
        for (const RecordingTranslator::Request &request : qAsConst(translator.requests))
            QVERIFY(request.context == "KelUbc" && request.disambiguationNull && request.n == -1);

        // One info line per record, fnname quoted, with the fixed context.
        QStringList infos;
        for (const MessageCapture::Message &m : MessageCapture::messages())
            if (m.type == QtInfoMsg)
                infos << QStringLiteral("%1 %2:%3 %4").arg(m.text, m.file).arg(m.line).arg(m.function);
        QCOMPARE(joined(infos), QStringLiteral("\"打开软件\"%1 \"启动软件\"%1 \"关闭软件\"%1")
                                    .arg(QLatin1String(" src/KelUbc/KelUbc:302 KelUbcPrivate::writeLog")));
    }

    void applicationDurations()
    {
        // Whole seconds since startApp, truncated (half-second margins keep them
        // stable). A second close measures from the same start; a clock set back
        // gives a negative duration; a facade never started gives 0.
        RecordingLog::reset();
        for (qint64 offset : {90500, -95500}) {
            ubc()->startApp();
            advanceClock(offset);
            ubc()->closeApp();
            ubc()->closeApp();
        }
        KelUbc().closeApp();
        QStringList seen;
        for (const UbcDataProtocol &r : RecordingLog::records())
            seen << r.duration;
        QCOMPARE(joined(seen), QStringLiteral("init-duration 90 90 init-duration -95 -95 0"));
    }

    void passThrough()
    {
        // Empty paths are not passed on; a record closes the bracket with 0, so
        // unLock holds only until then.
        RecordingLog::reset();
        ubc()->setLogFilePath(QString());
        ubc()->addLogFilePath(QLatin1String(""));
        ubc()->setLogFilePath(QStringLiteral("/tmp/a.jsonl"));
        ubc()->addLogFilePath(QStringLiteral("/tmp/b.jsonl"));
        ubc()->unLock();
        ubc()->openApp();
        ubc()->lock();
        QCOMPARE(joined(RecordingLog::calls()), QStringLiteral("path:/tmp/a.jsonl mirror:/tmp/b.jsonl filter:15 init "
                                                               "filter:15 log filter:0 filter:0"));
    }

    void infoLineText()
    {
        // Each record's info line is its name as QDebug writes a QString,
        // escapes and all, in the fixed context.
        const QString names[] = {QStringLiteral("墙"), QStringLiteral("a\"b"), QStringLiteral("back\\slash"),
                                 QStringLiteral("tab\tnl\n"), QString::fromUtf8("\xc2\xa0nbsp \xc3\xa9"),
                                 QString::fromUtf8("\xf0\x9f\x98\x80"), QString(QChar(0xd800)), QStringLiteral("x\u200by"), QStringLiteral("del\x7f")};
        for (const QString &name : names) {
            MessageCapture::messages().clear();
            ubc()->sendElementPropValueModified(QStringLiteral("E"), QStringLiteral("P"), name, QStringLiteral("v"));
            QMessageLogger().info() << RecordingLog::records().constLast().fnname;
            const QList<MessageCapture::Message> lines = MessageCapture::messages();
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines.at(0).text, lines.at(1).text);
            QCOMPARE(lines.at(0).line, 302);
        }
    }
};

QTEST_GUILESS_MAIN(tst_Facade)
#include "tst_facade.moc"
