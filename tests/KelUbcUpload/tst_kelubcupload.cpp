// The uploader against an in-process HTTP stand-in: rows, batches, the
// cursor, backoff, refused lines, consent, rotation and the quit deadline.

#include "HttpStandIn.h"

#include <KelUbcUploader.h>
#include <RuvUbc.h>

#include <QtTest/QtTest>

#include <sys/stat.h>

namespace {

UbcDataProtocol sampleRecord(const QString &session)
{
    UbcDataProtocol record;
    RuvUbc::instance()->initUbcDataProtocol(record);
    record.sessionid = session;
    record.fncode = QStringLiteral("210101");
    record.fnname = QStringLiteral("绘制\"墙\" \\ \n\t\x01 😀");
    record.trigertime = QStringLiteral("2026-12-05T16:02:11.347+08:00");
    record.attrs = {{QStringLiteral("location"), QStringLiteral("Ribbon工具栏")},
                    {QStringLiteral("层\"x"), QStringLiteral("结构\n")}};
    return record;
}

QByteArray records(const QString &session, int first, int count)
{
    QByteArray text;
    const UbcDataProtocol record = sampleRecord(session);
    for (int seq = first; seq < first + count; ++seq)
        text += RuvUbc::toJsonLine(record, quint64(seq));
    return text;
}

void append(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(file.write(text), qint64(text.size()));
}

QList<int> seqs(const QList<QByteArray> &rows)
{
    QList<int> result;
    for (const QByteArray &row : rows)
        result << QJsonDocument::fromJson(row).object().value(QStringLiteral("seq")).toInt();
    return result;
}

QList<int> range(int first, int count)
{
    QList<int> result;
    for (int i = first; i < first + count; ++i)
        result << i;
    return result;
}

// The nice value of this process's thread named name, or INT_MIN.
int threadNice(const QByteArray &name)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // Fields after the name: state is the third, nice the nineteenth.
        return text.mid(text.lastIndexOf(')') + 2).split(' ').value(16).toInt();
    }
    return INT_MIN;
}

} // namespace

class tst_KelUbcUpload : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int logs = 0;

    QString newLog() { return dir.filePath(QStringLiteral("log%1.jsonl").arg(++logs)); }

    void configure(KelUbcUploader &uploader, const QString &log, const QString &url)
    {
        uploader.setLogFilePath(log);
        uploader.setUrl(QUrl(url));
        uploader.setPollInterval(20);
        uploader.setMaxBatchAge(0);
        uploader.setRetryDelays(100, 1000);
        uploader.setConsentGiven(true);
    }

private slots:
    void batchesAndCursor()
    {
        HttpStandIn server;
        const QString log = newLog();
        append(log, records(QStringLiteral("s2"), 1, 50) + "{\"pcode\":\"half");
        {
            KelUbcUploader uploader;
            configure(uploader, log, server.url());
            uploader.setCredentials(QStringLiteral("desk"), QStringLiteral("pw"));
            uploader.setMaxBatchBytes(4000);
            QSignalSpy status(&uploader, &KelUbcUploader::statusChanged);
            uploader.start();
            QTRY_COMPARE(uploader.confirmedLines(), quint64(50));
            QCOMPARE(seqs(server.acceptedRows()), range(1, 50)); // in order, once, no half line
#ifdef Q_OS_LINUX
            // On a busy machine the host's threads go first.
            QVERIFY(threadNice("KelUbcUploader") > threadNice(QFileInfo(QCoreApplication::applicationFilePath()).fileName().left(15).toUtf8()));
#endif
            QVERIFY(server.requests.size() >= 9);
            for (const StandInRequest &request : server.requests) {
                QVERIFY(request.body.size() < 4000 + 1000);
                QCOMPARE(request.authorization, QByteArray("Basic ") + QByteArray("desk:pw").toBase64());
                QVERIFY(request.target.contains("query=INSERT%20INTO%20ubc.records%20FORMAT%20JSONEachRow"));
                QVERIFY(request.target.contains("enable_http_compression=1"));
            }
            QTRY_VERIFY(!status.isEmpty() && status.last().at(0).toULongLong() == 50); // queued to this thread
            // The line is finished: it goes too.
            append(log, "\",\"sessionid\":\"s2\",\"seq\":51}\n");
            QTRY_COMPARE(uploader.confirmedLines(), quint64(51));
            QTRY_COMPARE(uploader.waitingLines(), quint64(0));
            QVERIFY(uploader.finish(2000));
        }
        QFile cursor(log + QStringLiteral(".cursor"));
        QVERIFY(cursor.open(QIODevice::ReadOnly));
        QCOMPARE(cursor.readAll().split(' ').value(2).toLongLong(), QFileInfo(log).size());

        // A new uploader starts at the cursor.
        const int sent = server.requests.size();
        KelUbcUploader again;
        configure(again, log, server.url());
        again.start();
        append(log, records(QStringLiteral("s2"), 52, 1));
        QTRY_COMPARE(again.confirmedLines(), quint64(1));
        QCOMPARE(server.requests.size(), sent + 1);
        QCOMPARE(seqs(server.acceptedRows()).last(), 52);
    }

    void backoffAndRefusedLines()
    {
        HttpStandIn server;
        int calls = 0;
        server.answer = [&calls](const StandInRequest &request) {
            if (++calls <= 3)
                return 503;
            return request.body.contains("POISON") ? 400 : 200;
        };
        const QString log = newLog();
        QByteArray poison = records(QStringLiteral("s3"), 8, 1).replace("\"fncode\":\"210101\"", "\"fncode\":\"POISON\"");
        append(log, records(QStringLiteral("s3"), 1, 7) + poison + "not json\n\n" + records(QStringLiteral("s3"), 9, 12));
        KelUbcUploader uploader;
        configure(uploader, log, server.url());
        uploader.setCompression(false);
        uploader.start();
        QTRY_VERIFY(uploader.lastError().startsWith(QStringLiteral("HTTP 503")));
        QTRY_COMPARE(uploader.confirmedLines(), quint64(19));
        QCOMPARE(uploader.rejectedLines(), quint64(2));
        QVERIFY(uploader.lastError().isEmpty());
        QList<int> expected = range(1, 7) + range(9, 12);
        QCOMPARE(seqs(server.acceptedRows()), expected);
        // Backoff grows: gaps within [50, 100], [100, 200], [200, 400] ms.
        const QList<StandInRequest> &r = server.requests;
        QVERIFY(r[1].at - r[0].at >= 40);
        QVERIFY(r[3].at - r[2].at > r[1].at - r[0].at);
        // The refused lines, as written, in a file only the user reads.
        QFile rejected(uploader.deadLetterFilePath());
        QVERIFY(rejected.open(QIODevice::ReadOnly));
        QCOMPARE(rejected.readAll(), QByteArray("not json\n") + poison);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(rejected.fileName()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QTRY_COMPARE(uploader.waitingLines(), quint64(0));
    }

    void consentAndSwitch()
    {
        HttpStandIn server;
        const QString log = newLog();
        append(log, records(QStringLiteral("s4"), 1, 3));
        KelUbcUploader uploader;
        configure(uploader, log, server.url());
        uploader.setConsentGiven(false);
        uploader.start();
        QTRY_COMPARE(uploader.waitingLines(), quint64(3));
        QTest::qWait(300);
        RuvUbc::instance()->setCollectionEnabled(false);
        uploader.setConsentGiven(true);
        QTest::qWait(300);
        QVERIFY(server.requests.isEmpty());
        QVERIFY(!QFile::exists(uploader.cursorFilePath()));
        RuvUbc::instance()->setCollectionEnabled(true);
        QTRY_COMPARE(uploader.confirmedLines(), quint64(3));
    }

    void rotation()
    {
        HttpStandIn server;
        const QString log = newLog();
        append(log, records(QStringLiteral("s5"), 1, 5));
        KelUbcUploader uploader;
        configure(uploader, log, server.url());
        uploader.start();
        QTRY_COMPARE(uploader.confirmedLines(), quint64(5));
        // Lines the old file got just before it was moved still go, before the new file's.
        append(log, records(QStringLiteral("s5"), 6, 2));
        QVERIFY(QFile::rename(log, log + QStringLiteral(".1")));
        append(log, records(QStringLiteral("s6"), 1, 3));
        QTRY_COMPARE(uploader.confirmedLines(), quint64(10));
        QCOMPARE(seqs(server.acceptedRows()), range(1, 7) + range(1, 3));
        QTest::qWait(100);
        QCOMPARE(server.acceptedRows().size(), 10);
    }

    void finishDeadline()
    {
        HttpStandIn server;
        server.answer = [](const StandInRequest &) { return 0; }; // never answers
        const QString log = newLog();
        append(log, records(QStringLiteral("s7"), 1, 3));
        KelUbcUploader uploader;
        configure(uploader, log, server.url());
        uploader.setMaxBatchAge(60000); // only the last attempt sends
        uploader.setUrl(QUrl(QStringLiteral("http://desk:secret@") + server.url().mid(7)));
        QVERIFY(!uploader.url().toString().contains(QStringLiteral("secret")));
        uploader.start();
        QTRY_COMPARE(uploader.waitingLines(), quint64(3));
        QVERIFY(server.requests.isEmpty());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!uploader.finish(300));
        QVERIFY(timer.elapsed() < 1500);
        QTRY_COMPARE(server.requests.size(), 1); // the stand-in reads once the test's thread is free
        QCOMPARE(server.requests.first().authorization, QByteArray("Basic ") + QByteArray("desk:secret").toBase64());
        QCOMPARE(uploader.waitingLines(), quint64(3));
        QVERIFY(!QFile::exists(uploader.cursorFilePath()));
        QVERIFY(!uploader.isRunning());
    }
};

QTEST_GUILESS_MAIN(tst_KelUbcUpload)
#include "tst_kelubcupload.moc"
