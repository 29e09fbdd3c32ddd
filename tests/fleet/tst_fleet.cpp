// End to end against a real clickhouse-server on 127.0.0.1 behind the fleet's
// gateway, as desktops reach it, both started and stopped here with
// scripts/clickhouse-server.sh and scripts/gateway.sh: the demo's session arrives
// whole, its coded events too, and the report from the store agrees with
// the report from its files; a server stopped mid-upload and a host killed
// mid-upload lose and double nothing; a server that is down, or consent withheld, sends nothing
// and keeps the log; a refused line is set aside and the rest delivered.

#include "LoopbackFleet.h"
#include "TestLogs.h"

#include <RuvUbc.h>

#include <QtTest/QtTest>

#include <csignal>

namespace {

// n records of one new session, as RuvUbc writes them.
QByteArray session(int n, QString *id)
{
    UbcDataProtocol record;
    RuvUbc::instance()->initUbcDataProtocol(record);
    *id = record.sessionid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.fncode = QStringLiteral("210101");
    record.fnname = QStringLiteral("绘制墙");
    record.trigertime = QStringLiteral("2026-12-05T16:02:11.347+08:00");
    record.attrs = {{QStringLiteral("location"), QStringLiteral("Ribbon工具栏")}};
    QByteArray text;
    for (int seq = 1; seq <= n; ++seq)
        text += RuvUbc::toJsonLine(record, quint64(seq));
    return text;
}

// The server writes thousands of small files; tmpfs removes them fast.
QString scratchTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return (shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath()) + QStringLiteral("/tst_fleet-XXXXXX");
}

} // namespace

class tst_Fleet : public QObject
{
    Q_OBJECT

    QTemporaryDir dir{scratchTemplate()};
    LoopbackFleet fleet{dir.path()};
    QString demoOut = dir.filePath(QStringLiteral("demo"));

    QByteArray query(const QString &sql) { return fleet.query(sql); }
    // Each record of the session once, and how many rows it has before merging.
    QByteArray counts(const QString &sessionId)
    {
        return query(QStringLiteral("SELECT count(), uniqExact(seq), min(seq), max(seq) FROM ubc.records FINAL WHERE sessionid = '%1'")
                             .arg(sessionId));
    }
    QProcess *upload(const QString &log, const QStringList &extra = {})
    {
        auto *process = new QProcess(this);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(UBC_UPLOAD_PATH),
                       QStringList{QStringLiteral("--url"), fleet.url, QStringLiteral("--timeout"), QStringLiteral("60")}
                               + extra + QStringList{log});
        return process;
    }
    // The demo's output; empty when it failed.
    QByteArray demo(const QString &out, const QStringList &extra)
    {
        int code = -1;
        const QByteArray output = runProgram(QStringLiteral(UBC_DEMO_PATH), QStringList{QStringLiteral("--scenario"), QStringLiteral("--out"), out} + extra,
                                             &code, QString(), 60000);
        return code == 0 ? output : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(fleet.startServer(), "clickhouse-server did not start");
        // Generous limits: these tests are about delivery, not the rate limit.
        QVERIFY2(fleet.startGateway({QStringLiteral("--rate"), QStringLiteral("500"), QStringLiteral("--burst"), QStringLiteral("500")}),
                 "the gateway did not start");
        qputenv("UBC_UPLOAD_TOKEN", fleet.token.toUtf8()); // the uploader and the demo take it from there
    }

    void cleanupTestCase() { fleet.stop(); }

    void demoSessionArrivesWhole()
    {
        const QString out = demoOut;
        const QByteArray output = demo(out, {QStringLiteral("--upload-url"), fleet.url});
        QVERIFY(output.contains("0 waiting, 0 set aside"));
        const QList<QJsonObject> local = TestLogs::objects(out + QStringLiteral("/records.jsonl"));
        QVERIFY(local.size() > 10);
        const QString sessionId = local.first().value(QStringLiteral("sessionid")).toString();
        QMap<int, QJsonObject> rows;
        const QByteArray text = query(QStringLiteral("SELECT * FROM ubc.records WHERE sessionid = '%1' FORMAT JSONEachRow").arg(sessionId));
        for (const QByteArray &line : text.split('\n')) {
            const QJsonObject row = QJsonDocument::fromJson(line).object();
            // The server quotes 64-bit integers.
            const int seq = row.value(QStringLiteral("seq")).toVariant().toInt();
            QVERIFY2(!rows.contains(seq), "a record arrived twice");
            rows.insert(seq, row);
        }
        QCOMPARE(rows.size(), local.size());
        for (const QJsonObject &record : local) {
            QJsonObject row = rows.value(record.value(QStringLiteral("seq")).toInt());
            for (const QString &field : RuvUbc::fieldNames()) {
                if (field == QLatin1String("prjfullpath") && !record.value(field).toString().isEmpty())
                    QVERIFY(row.value(field).toString().startsWith(QLatin1String("hmac:"))); // paths stay on the desktop
                else
                    QCOMPARE(row.value(field), record.value(field));
            }
            const QJsonObject attrs = record.value(QStringLiteral("attrs")).toObject();
            QCOMPARE(row.value(QStringLiteral("attrs.key")).toArray(), QJsonArray::fromStringList(attrs.keys()));
            QCOMPARE(row.value(QStringLiteral("attrs.value")).toArray(), QJsonArray::fromVariantList(attrs.toVariantMap().values()));
            const QDateTime time = QDateTime::fromString(record.value(QStringLiteral("trigertime")).toString(), Qt::ISODateWithMs);
            QCOMPARE(row.value(QStringLiteral("time")).toString(), time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        }
    }

    // The demo's coded events went through the gateway: the store's report
    // tells the statistics sent as the files' report does.
    void statisticsAgree()
    {
        const QByteArray stored = query(QStringLiteral("SELECT count(), uniqExact(sessionid, seq) FROM ubc.coded_events"));
        const int lines = TestLogs::lines(demoOut + QStringLiteral("/coded-events.jsonl")).size();
        QVERIFY(lines > 0);
        QCOMPARE(stored, QByteArray::number(lines) + '\t' + QByteArray::number(lines));

        const QString clickhouse = QStringLiteral("http://127.0.0.1:%1/").arg(fleet.port("http_port"));
        const auto statistics = [&](const QStringList &source) {
            return LoopbackFleet::report(QStringLiteral(UBC_REPORT_PATH), source, dir.filePath(QStringLiteral("report.json")))
                .value(QStringLiteral("statistics")).toObject();
        };
        const QJsonObject fromFiles = statistics({demoOut + QStringLiteral("/records.jsonl"), QStringLiteral("--coded"),
                                                  demoOut + QStringLiteral("/coded-events.jsonl")});
        const QJsonObject fromStore = statistics({QStringLiteral("--clickhouse"), clickhouse, QStringLiteral("--user"), QStringLiteral("ubc_report")});
        QVERIFY2(!fromFiles.value(QStringLiteral("sent")).toArray().isEmpty() && fromFiles.value(QStringLiteral("saves")).toInt() > 0,
                 QJsonDocument(fromFiles).toJson());
        QVERIFY2(fromStore == fromFiles, QJsonDocument(fromStore).toJson() + "\n" + QJsonDocument(fromFiles).toJson());
    }

    void nothingSentWithoutServerOrConsent()
    {
        // Consent withheld: nothing of the session reaches the server.
        const QString refused = dir.filePath(QStringLiteral("refused"));
        QVERIFY(demo(refused, {QStringLiteral("--upload-url"), fleet.url, QStringLiteral("--upload-consent"), QStringLiteral("no")})
                        .contains("upload: 0 records confirmed"));
        const QList<QJsonObject> local = TestLogs::objects(refused + QStringLiteral("/records.jsonl"));
        QVERIFY(local.size() > 10);
        QCOMPARE(counts(local.first().value(QStringLiteral("sessionid")).toString()), QByteArray("0\t0\t0\t0"));

        // No server the whole session: the log is whole, the cursor never moved.
        const QString down = dir.filePath(QStringLiteral("down"));
        const QByteArray output = demo(down, {QStringLiteral("--upload-url"), QStringLiteral("http://127.0.0.1:1/")});
        const QList<QJsonObject> kept = TestLogs::objects(down + QStringLiteral("/records.jsonl"));
        QCOMPARE(kept.size(), local.size());
        for (int i = 0; i < kept.size(); ++i)
            QCOMPARE(kept[i].value(QStringLiteral("seq")).toInt(), i + 1);
        QVERIFY(output.contains(QStringLiteral("upload: 0 records confirmed, %1 waiting").arg(kept.size()).toUtf8()));
        QVERIFY(!QFile::exists(down + QStringLiteral("/records.jsonl.cursor")));
    }

    void serverStoppedAndHostKilled()
    {
#ifdef Q_OS_WIN
        QSKIP("the server is a Linux process, out of a Windows program's reach");
#else
        const int n = 20000;
        const QStringList small{QStringLiteral("--batch-bytes"), QStringLiteral("262144")};
        // The server dies while batches are in flight, and comes back.
        QString first;
        const QString log1 = dir.filePath(QStringLiteral("stopped.jsonl"));
        QVERIFY(TestLogs::appendFile(log1, session(n, &first)));
        QProcess *uploader = upload(log1, small);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log1 + QStringLiteral(".cursor")), 30000);
        QFile pid(fleet.server + QStringLiteral("/pid"));
        QVERIFY(pid.open(QIODevice::ReadOnly));
        QCOMPARE(::kill(pid_t(pid.readAll().trimmed().toInt()), SIGKILL), 0);
        QTest::qWait(300);
        QVERIFY(fleet.startServer(false)); // at the same address, behind the same gateway
        QVERIFY(uploader->waitForFinished(60000));
        QCOMPARE(uploader->exitCode(), 0);
        QCOMPARE(counts(first), QStringLiteral("%1\t%1\t1\t%1").arg(n).toUtf8());

        // The host is killed mid-upload and starts again.
        QString second;
        const QString log2 = dir.filePath(QStringLiteral("killed.jsonl"));
        QVERIFY(TestLogs::appendFile(log2, session(n, &second)));
        uploader = upload(log2, small);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log2 + QStringLiteral(".cursor")), 30000);
        ::kill(pid_t(uploader->processId()), SIGKILL);
        QVERIFY(uploader->waitForFinished(10000));
        const QByteArray before = counts(second);
        QVERIFY(before.split('\t').first().toInt() < n); // killed before the end
        uploader = upload(log2, small);
        QVERIFY(uploader->waitForFinished(60000));
        QCOMPARE(uploader->exitCode(), 0);
        QCOMPARE(counts(second), QStringLiteral("%1\t%1\t1\t%1").arg(n).toUtf8());
#endif
    }

    void poisonLineSetAside()
    {
        QString id;
        const QByteArray good = session(100, &id);
        const QByteArray poison = "{\"fncode\":123,\"sessionid\":\"" + id.toUtf8() + "\",\"seq\":1000}\n";
        const QString log = dir.filePath(QStringLiteral("poison.jsonl"));
        const int half = good.indexOf('\n', good.size() / 2) + 1;
        QVERIFY(TestLogs::appendFile(log, good.left(half) + poison + "{\"pcode\":\"cut sh\n" + good.mid(half)));
        QProcess *uploader = upload(log);
        QVERIFY(uploader->waitForFinished(60000));
        QVERIFY(uploader->readAllStandardOutput().contains("confirmed 100 records"));
        QCOMPARE(counts(id), QByteArray("100\t100\t1\t100"));
        const QByteArray aside = TestLogs::readFile(log + QStringLiteral(".rejected"));
        QVERIFY(aside.contains(poison) && aside.contains("{\"pcode\":\"cut sh\n"));
        QCOMPARE(aside.count('\n'), 2);
    }
};

QTEST_GUILESS_MAIN(tst_Fleet)
#include "tst_fleet.moc"
