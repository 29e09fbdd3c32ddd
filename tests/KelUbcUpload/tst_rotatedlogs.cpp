// The log's numbered files against a real clickhouse-server behind the
// fleet's gateway (both on loopback, started here): removed only once the
// store confirmed them; kept under the cap while upload is off, what goes
// unsent counted with one warning; the uploader's losses reaching
// ubc.upload_losses, a row sent twice counted once.

#include "LoopbackFleet.h"
#include "MessageCapture.h"
#include "TestLogs.h"

#include <KelUbcUploader.h>
#include <RuvUbc.h>

#include <QtTest/QtTest>

namespace {

// count lines of one session, numbered from first, each padded to about size bytes.
QByteArray lines(const QString &session, int first, int count, int size = 0)
{
    UbcDataProtocol record;
    RuvUbc::instance()->initUbcDataProtocol(record);
    record.sessionid = session;
    record.fncode = QStringLiteral("210101");
    record.fnname = QStringLiteral("wall");
    record.prjtext = QString(qMax(0, size - 600), QLatin1Char('p'));
    QByteArray text;
    for (int seq = first; seq < first + count; ++seq)
        text += RuvUbc::toJsonLine(record, quint64(seq));
    return text;
}

// value() once it equals expected, or its last one after msecs (QTRY_*
// counts only its pauses, not a query's own time).
template <typename Value>
QByteArray until(Value value, const QByteArray &expected, int msecs = 30000)
{
    QDeadlineTimer deadline(msecs);
    QByteArray got;
    while ((got = value()) != expected && !deadline.hasExpired())
        QTest::qWait(200);
    return got;
}

QStringList numbered(const QString &log)
{
    return QDir(QFileInfo(log).path()).entryList({QFileInfo(log).fileName() + QStringLiteral(".[0-9]*")}, QDir::Files,
                                                 QDir::Name);
}

} // namespace

class tst_RotatedLogs : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LoopbackFleet m_fleet{m_dir.path()};
    QScopedPointer<MessageCapture> m_messages;

    QByteArray query(const QString &sql) { return m_fleet.query(sql); }
    QByteArray counts(const QString &session)
    {
        return query(QStringLiteral("SELECT count(), uniqExact(seq) FROM ubc.records FINAL WHERE sessionid = '%1'").arg(session));
    }
    void configure(KelUbcUploader &uploader, const QString &log, const QString &token, bool consent = true)
    {
        uploader.setLogFilePath(log);
        uploader.setUrl(QUrl(m_fleet.url));
        uploader.setToken(token);
        uploader.setMaxBatchAge(0);
        uploader.setPollInterval(100);
        uploader.setRetryDelays(100, 500);
        uploader.setConsentGiven(consent);
    }

private slots:
    void initTestCase()
    {
        m_messages.reset(new MessageCapture);
        QVERIFY2(m_fleet.startServer(), "clickhouse-server did not start");
        QVERIFY2(m_fleet.startGateway(), "the gateway did not start");
    }

    void cleanupTestCase()
    {
        m_messages.reset();
        m_fleet.stop();
    }

    // Written by the behaviour log across rotations: nothing is removed
    // while the store refuses it; once it takes it, every record arrives
    // once and only the log is left.
    void removedOnceConfirmed()
    {
        const QString log = m_dir.filePath(QStringLiteral("confirm/records.jsonl"));
        RuvUbc *ruv = RuvUbc::instance();
        ruv->setLogFilePath(log);
        ruv->setMaxLogFileBytes(20000);
        const QString session = ruv->sessionId();
        const auto logRecords = [ruv](int from, int to) {
            for (UbcDataProtocol record; from < to; ++from) {
                ruv->initUbcDataProtocol(record);
                record.fncode = QStringLiteral("R");
                record.fnname = QString::number(from);
                ruv->logUbcDataProtocol(record);
            }
        };
        logRecords(0, 200);
        const QStringList files = numbered(log);
        QVERIFY(files.size() >= 3);
        {
            // A wrong token: the gateway refuses everything, for longer than
            // a done file waits before it is removed.
            KelUbcUploader refused;
            configure(refused, log, QStringLiteral("wrong"));
            refused.start();
            QTest::qWait(6500);
            QVERIFY(!refused.lastError().isEmpty());
            QCOMPARE(numbered(log), files);
        }
        KelUbcUploader uploader;
        configure(uploader, log, m_fleet.token);
        uploader.start();
        logRecords(200, 300); // rotated while it uploads
        QCOMPARE(until([&] { return counts(session); }, "300\t300"), QByteArray("300\t300"));
        QTRY_VERIFY_WITH_TIMEOUT(numbered(log).isEmpty(), 30000);
        QVERIFY(QFile::exists(log));
        ruv->setMaxLogFileBytes(RuvUbc::DefaultMaxLogFileBytes);
    }

    // Upload off: the oldest numbered files go until the rest fits, their
    // records counted once with one warning. Once upload is on, that count
    // (kept across the restart) and the line set aside reach the table.
    void capWithUploadOffThenLossesReported()
    {
        const QString log = m_dir.filePath(QStringLiteral("cap/records.jsonl"));
        QVERIFY(QDir().mkpath(QFileInfo(log).path()));
        for (int n = 1; n <= 4; ++n)
            QVERIFY(TestLogs::appendFile(log + QLatin1Char('.') + QString::number(n), lines(QStringLiteral("cap"), n * 100, 20, 1000)));
        QVERIFY(TestLogs::appendFile(log, lines(QStringLiteral("cap"), 900, 3) + "not a record\n"));
        const qint64 fileSize = QFileInfo(log + QStringLiteral(".1")).size();
        MessageCapture::clear();
        {
            KelUbcUploader off;
            configure(off, log, m_fleet.token, false);
            off.setMaxKeptBytes(2 * fileSize + 10);
            off.start();
            QTRY_COMPARE(numbered(log), QStringList({QStringLiteral("records.jsonl.3"), QStringLiteral("records.jsonl.4")}));
            QTRY_COMPARE(off.waitingLines(), quint64(40)); // the open .3 and the waiting .4
        }
        QCOMPARE(MessageCapture::texts(QtWarningMsg, "kelubc.upload").filter(QStringLiteral("removed")).size(), 1);

        KelUbcUploader on;
        configure(on, log, m_fleet.token);
        on.start();
        const QString gid = [] {
            UbcDataProtocol r;
            RuvUbc::instance()->initUbcDataProtocol(r);
            return r.gid;
        }();
        const QString losses = QStringLiteral("SELECT kind, sum(records) FROM ubc.upload_losses FINAL WHERE gid = '%1' "
                                              "GROUP BY kind ORDER BY kind FORMAT TSV").arg(gid);
        const QByteArray expected("rotated_unsent\t40\nset_aside\t1");
        QCOMPARE(until([&] { return query(losses); }, expected), expected);
        QCOMPARE(until([&] { return counts(QStringLiteral("cap")); }, "43\t43"), QByteArray("43\t43"));
        QTRY_COMPARE(QFileInfo(log + QStringLiteral(".losses")).size(), qint64(0));
    }

    // A report whose answer was lost goes again with the same rows: the
    // table counts it once.
    void resentReportFolds()
    {
        const QString log = m_dir.filePath(QStringLiteral("resend/records.jsonl"));
        QVERIFY(QDir().mkpath(QFileInfo(log).path()));
        const QByteArray report = "report 1234567890123456789 1796000000 queue_dropped 5 abc\n";
        for (int attempt = 0; attempt < 2; ++attempt) {
            QFile::remove(log + QStringLiteral(".losses"));
            QVERIFY(TestLogs::appendFile(log + QStringLiteral(".losses"), report));
            KelUbcUploader uploader;
            configure(uploader, log, m_fleet.token);
            uploader.start();
            QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(log + QStringLiteral(".losses")).size(), qint64(0), 20000);
        }
        QCOMPARE(query(QStringLiteral("SELECT count(), sum(records) FROM ubc.upload_losses FINAL WHERE gid = 'abc'")),
                 QByteArray("1\t5"));
    }
};

QTEST_GUILESS_MAIN(tst_RotatedLogs)
#include "tst_rotatedlogs.moc"
