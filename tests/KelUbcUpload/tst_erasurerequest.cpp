// An erasure request from the host kit, through the real gateway to a real
// clickhouse-server on loopback, then applied by the operator's script: the
// requesting machine's records are gone, the others' all kept.
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
        run(script("scripts/clickhouse-server.sh"), {QStringLiteral("query"), m_server}, &code,
            script("server/clickhouse/erasure-requests.sql"));
        QCOMPARE(code, 0);
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
        const QString client = m_server + QStringLiteral("/client.xml");
        QFile portFile(m_server + QStringLiteral("/tcp_port"));
        QVERIFY(portFile.open(QIODevice::ReadOnly));
        const QString port = QString::fromUtf8(portFile.readAll()).trimmed();
        run(script("server/clickhouse/erase-machine.sh"), {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                                           port, QStringLiteral("--config-file"), client, QStringLiteral("--timeout"),
                                                           QStringLiteral("60"), QStringLiteral("--requests")}, &code);
        QCOMPARE(code, 0);
        QCOMPARE(query(QStringLiteral("SELECT gid, count() FROM ubc.records GROUP BY gid")), MachineB + QStringLiteral("\t500"));
    }

    void cleanupTestCase()
    {
        run(script("scripts/gateway.sh"), {QStringLiteral("stop"), m_gateway});
        run(script("scripts/clickhouse-server.sh"), {QStringLiteral("stop"), m_server});
    }
};

QTEST_GUILESS_MAIN(TestErasureRequest)
#include "tst_erasurerequest.moc"
