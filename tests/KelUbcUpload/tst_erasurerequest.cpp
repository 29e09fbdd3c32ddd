// An erasure request from the host kit, through the real gateway to a real
// clickhouse-server on loopback, then applied by the operator's script: the
// requesting machine's records are gone, the others' all kept, and the
// report's daily roll-ups say the same as the records; so after old months
// are dropped.
#include "LoopbackFleet.h"

#include <KelUbcUploader.h>

#include <QtTest>

namespace {

const QString MachineA = QStringLiteral("a1").repeated(32), MachineB = QStringLiteral("b2").repeated(32);

} // namespace

class TestErasureRequest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LoopbackFleet m_fleet{m_dir.path()};

    QString query(const QString &sql) { return QString::fromUtf8(m_fleet.query(sql)); }
    QStringList operatorArgs()
    {
        return {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"), m_fleet.port("tcp_port"),
                QStringLiteral("--config-file"), m_fleet.server + QStringLiteral("/client.xml")};
    }
    // The report's summary from the roll-ups and from the records alone, as the read-only user.
    QPair<QJsonObject, QJsonObject> reports()
    {
        const QStringList input{QStringLiteral("--clickhouse"), QStringLiteral("http://127.0.0.1:") + m_fleet.port("http_port"),
                                QStringLiteral("--user"), QStringLiteral("ubc_report")};
        const QString json = m_dir.filePath(QStringLiteral("report.json"));
        QJsonObject fromRollups = LoopbackFleet::report(QStringLiteral(UBC_REPORT_EXE), input, json);
        QJsonObject fromRecords = LoopbackFleet::report(QStringLiteral(UBC_REPORT_EXE), input + QStringList{QStringLiteral("--raw")}, json);
        fromRollups.remove(QStringLiteral("input"));
        fromRecords.remove(QStringLiteral("input"));
        return {fromRollups, fromRecords};
    }
    // The uploader's answer to one request, or why it never came.
    QVariantList request(KelUbcUploader &uploader, const QString &gid)
    {
        QSignalSpy finished(&uploader, &KelUbcUploader::erasureRequestFinished);
        if (!uploader.requestErasure(gid) || !finished.wait(30000))
            return {};
        return finished.first();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_fleet.startServer(), "clickhouse-server did not start");
        for (const char *sql : {"server/clickhouse/erasure-requests.sql", "server/clickhouse/rollups.sql"}) {
            int code = 0;
            m_fleet.query(QString(), &code, LoopbackFleet::source(sql));
            QVERIFY2(code == 0, sql);
        }
        QVERIFY2(m_fleet.startGateway(), qPrintable(m_fleet.url));
    }

    void requestLandsAndErasesThatMachineOnly()
    {
        query(QStringLiteral("INSERT INTO ubc.records (gid, sessionid, seq, time) SELECT if(number % 2, '%1', '%2'),"
                             " concat('s', toString(number % 10)), number, now() FROM numbers(1000)").arg(MachineA, MachineB));
        KelUbcUploader uploader;
        uploader.setUrl(QUrl(m_fleet.url));
        uploader.setToken(m_fleet.token);

        // Only a digest is ever sent; a wrong token stores nothing.
        QVERIFY(!uploader.requestErasure(QStringLiteral("a1' OR 1")));
        QVERIFY(!uploader.requestErasure(QString()));
        KelUbcUploader stranger;
        stranger.setUrl(QUrl(m_fleet.url));
        stranger.setToken(QStringLiteral("not-a-fleet-token"));
        const QVariantList refused = request(stranger, MachineB);
        QVERIFY2(refused.size() == 3 && !refused[1].toBool(), qPrintable(refused.value(2).toString()));

        const QVariantList answer = request(uploader, MachineA);
        QVERIFY2(answer.size() == 3 && answer[1].toBool(), qPrintable(answer.value(2).toString()));
        QCOMPARE(answer[0].toString(), MachineA);
        QCOMPARE(query(QStringLiteral("SELECT gid, requested > now() - 600 FROM ubc.erasure_requests")), MachineA + QStringLiteral("\t1"));

        int code = 0;
        runProgram(LoopbackFleet::source("server/clickhouse/erase-machine.sh"), operatorArgs() + QStringList{QStringLiteral("--timeout"), QStringLiteral("60"),
                                                                                      QStringLiteral("--requests")}, &code);
        QCOMPARE(code, 0);
        QCOMPARE(query(QStringLiteral("SELECT gid, count() FROM ubc.records GROUP BY gid")), MachineB + QStringLiteral("\t500"));
        QCOMPARE(query(QStringLiteral("SELECT count() FROM ubc.records_by_session_day WHERE gid = '%1'").arg(MachineA)), QStringLiteral("0"));
        const auto afterErasure = reports();
        QCOMPARE(afterErasure.first.value(QStringLiteral("totals")).toObject().value(QStringLiteral("records")).toInt(), 500);
        QCOMPARE(afterErasure.first, afterErasure.second);

        // Old months go from the roll-ups with the records.
        query(QStringLiteral("INSERT INTO ubc.records (gid, sessionid, seq, trigertime, time) SELECT '%1', 'old', number + 1,"
                             " '2020-01-02T10:00:00.000+08:00', toDateTime('2020-01-02 02:00:00') FROM numbers(7)").arg(MachineB));
        QCOMPARE(reports().first.value(QStringLiteral("totals")).toObject().value(QStringLiteral("records")).toInt(), 507);
        runProgram(LoopbackFleet::source("server/clickhouse/drop-old-months.sh"), operatorArgs() + QStringList{QStringLiteral("2")}, &code);
        QCOMPARE(code, 0);
        const auto afterRetention = reports();
        QCOMPARE(afterRetention.first.value(QStringLiteral("totals")).toObject().value(QStringLiteral("records")).toInt(), 500);
        QCOMPARE(afterRetention.first, afterRetention.second);
    }

    void cleanupTestCase() { m_fleet.stop(); }
};

QTEST_GUILESS_MAIN(TestErasureRequest)
#include "tst_erasurerequest.moc"
