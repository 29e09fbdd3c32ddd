// An erasure request from the host kit, through the real gateway to a real
// clickhouse-server on loopback, then applied by the operator's script: the
// requesting machine's records are gone, the others' all kept, and the
// report's daily roll-ups say the same as the records; so after old months
// are dropped.
#include <KelUbcUploader.h>

#include <QtCore>
#include <QtTest>

namespace {

// A script's standard output, its input from a file; exitCode -1 when it did not finish.
QByteArray run(const QString &program, const QStringList &arguments, int *exitCode = nullptr, const QString &input = QString())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit;
    if (exitCode)
        *exitCode = finished ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

const QString MachineA = QStringLiteral("a1").repeated(32), MachineB = QStringLiteral("b2").repeated(32);

} // namespace

class TestErasureRequest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_server, m_gateway, m_url;

    QString script(const char *name) const { return QStringLiteral(KELUBC_SOURCE_DIR "/") + QLatin1String(name); }
    QString query(const QString &sql)
    {
        return QString::fromUtf8(run(script("scripts/clickhouse-server.sh"), {QStringLiteral("query"), m_server, sql})).trimmed();
    }
    QStringList operatorArgs()
    {
        QFile port(m_server + QStringLiteral("/tcp_port"));
        return {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                port.open(QIODevice::ReadOnly) ? QString::fromUtf8(port.readAll()).trimmed() : QString(),
                QStringLiteral("--config-file"), m_server + QStringLiteral("/client.xml")};
    }
    // The report's summary from the roll-ups and from the records alone, as the read-only user.
    QPair<QJsonObject, QJsonObject> reports()
    {
        QJsonObject summaries[2];
        for (int raw = 0; raw < 2; ++raw) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("UBC_REPORT_PASSWORD"), QStringLiteral("ubc-report-secret")); // server/clickhouse/users.xml
            p.setProcessEnvironment(env);
            const QString json = m_dir.filePath(QStringLiteral("report.json"));
            QStringList args{QStringLiteral("--clickhouse"), QStringLiteral("http://127.0.0.1:") + httpPort(), QStringLiteral("--user"),
                             QStringLiteral("ubc_report"), QStringLiteral("--quiet"), QStringLiteral("--json"), json};
            if (raw)
                args << QStringLiteral("--raw");
            p.start(QStringLiteral(UBC_REPORT_EXE), args);
            QFile f(json);
            if (p.waitForFinished(60000) && p.exitCode() == 0 && f.open(QIODevice::ReadOnly))
                summaries[raw] = QJsonDocument::fromJson(f.readAll()).object();
            summaries[raw].remove(QStringLiteral("input"));
        }
        return {summaries[0], summaries[1]};
    }
    QString httpPort()
    {
        QFile port(m_server + QStringLiteral("/http_port"));
        return port.open(QIODevice::ReadOnly) ? QString::fromUtf8(port.readAll()).trimmed() : QString();
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
        m_server = m_dir.filePath(QStringLiteral("clickhouse"));
        m_gateway = m_dir.filePath(QStringLiteral("gateway"));
        int code = 0;
        run(script("scripts/clickhouse-server.sh"), {QStringLiteral("start"), m_server, QStringLiteral("--schema")}, &code);
        QCOMPARE(code, 0);
        for (const char *sql : {"server/clickhouse/erasure-requests.sql", "server/clickhouse/rollups.sql"}) {
            run(script("scripts/clickhouse-server.sh"), {QStringLiteral("query"), m_server}, &code, script(sql));
            QCOMPARE(code, 0);
        }
        m_url = QString::fromUtf8(run(script("scripts/gateway.sh"), {QStringLiteral("start"), m_gateway, QStringLiteral("--clickhouse"), m_server},
                                      &code)).trimmed();
        QVERIFY2(code == 0 && m_url.startsWith(QLatin1String("http")), qPrintable(m_url));
    }

    void requestLandsAndErasesThatMachineOnly()
    {
        query(QStringLiteral("INSERT INTO ubc.records (gid, sessionid, seq, time) SELECT if(number % 2, '%1', '%2'),"
                             " concat('s', toString(number % 10)), number, now() FROM numbers(1000)").arg(MachineA, MachineB));
        KelUbcUploader uploader;
        uploader.setUrl(QUrl(m_url));
        QFile token(m_gateway + QStringLiteral("/token"));
        QVERIFY(token.open(QIODevice::ReadOnly));
        uploader.setToken(QString::fromUtf8(token.readAll()).trimmed());

        // Only a digest is ever sent; a wrong token stores nothing.
        QVERIFY(!uploader.requestErasure(QStringLiteral("a1' OR 1")));
        QVERIFY(!uploader.requestErasure(QString()));
        KelUbcUploader stranger;
        stranger.setUrl(QUrl(m_url));
        stranger.setToken(QStringLiteral("not-a-fleet-token"));
        const QVariantList refused = request(stranger, MachineB);
        QVERIFY2(refused.size() == 3 && !refused[1].toBool(), qPrintable(refused.value(2).toString()));

        const QVariantList answer = request(uploader, MachineA);
        QVERIFY2(answer.size() == 3 && answer[1].toBool(), qPrintable(answer.value(2).toString()));
        QCOMPARE(answer[0].toString(), MachineA);
        QCOMPARE(query(QStringLiteral("SELECT gid, requested > now() - 600 FROM ubc.erasure_requests")), MachineA + QStringLiteral("\t1"));

        int code = 0;
        run(script("server/clickhouse/erase-machine.sh"), operatorArgs() + QStringList{QStringLiteral("--timeout"), QStringLiteral("60"),
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
        run(script("server/clickhouse/drop-old-months.sh"), operatorArgs() + QStringList{QStringLiteral("2")}, &code);
        QCOMPARE(code, 0);
        const auto afterRetention = reports();
        QCOMPARE(afterRetention.first.value(QStringLiteral("totals")).toObject().value(QStringLiteral("records")).toInt(), 500);
        QCOMPARE(afterRetention.first, afterRetention.second);
    }

    void cleanupTestCase()
    {
        run(script("scripts/gateway.sh"), {QStringLiteral("stop"), m_gateway});
        run(script("scripts/clickhouse-server.sh"), {QStringLiteral("stop"), m_server});
    }
};

QTEST_GUILESS_MAIN(TestErasureRequest)
#include "tst_erasurerequest.moc"
