// The uploader against an in-process HTTP stand-in: rows, batches, the
// cursor, backoff, refused lines, consent, rotation, truncation, the files
// beside the log, the gateway's address and quitting with the host.

#include "HttpStandIn.h"
#include "MessageCapture.h"
#include "TestLogs.h"

#include <KelUbcUploader.h>
#include <RuvUbc.h>

#include <QtTest/QtTest>

#include <csignal>
#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

using namespace TestLogs;

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

// A record the stand-in refuses when told to.
QByteArray poisoned(const QString &session, int seq)
{
    return records(session, seq, 1).replace("\"fncode\":\"210101\"", "\"fncode\":\"POISON\"");
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

// The uploader's warnings that contain part; they come from its thread.
QStringList warnings(const QString &part)
{
    return MessageCapture::texts(QtWarningMsg, "kelubc.upload").filter(part);
}

// "<device> <inode> " of a file, as the cursor starts.
QByteArray fileIdentity(const QString &path)
{
#ifdef Q_OS_WIN
    // Volume serial and file index: what Windows has for device and inode.
    HANDLE h = CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok)
        return QByteArray();
    return QByteArray::number(quint64(info.dwVolumeSerialNumber)) + ' '
           + QByteArray::number((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow) + ' ';
#else
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(quint64(st.st_dev)) + ' ' + QByteArray::number(quint64(st.st_ino)) + ' ';
#endif
}

#ifndef Q_OS_WIN // for the link and owner cases
// A true cursor at the log's end: a reader that trusts it sends nothing.
QByteArray cursorAtEnd(const QString &path)
{
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray prefix = log.read(4096);
    return fileIdentity(path) + QByteArray::number(log.size()) + ' '
           + QByteArray::number(quint32(crc32(0, reinterpret_cast<const Bytef *>(prefix.constData()), uInt(prefix.size()))))
           + '\n';
}
#endif

#ifdef Q_OS_LINUX
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
#endif

} // namespace

class tst_KelUbcUpload : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int logs = 0;
    QScopedPointer<MessageCapture> capture;

    QString newLog(const QByteArray &text = QByteArray())
    {
        const QString log = dir.filePath(QStringLiteral("log%1.jsonl").arg(++logs));
        return writeFile(log, text) ? log : QString();
    }

    void configure(KelUbcUploader &uploader, const QString &log, const QString &url)
    {
        uploader.setLogFilePath(log);
        uploader.setUrl(QUrl(url));
        uploader.setPollInterval(20);
        uploader.setMaxBatchAge(0);
        uploader.setRetryDelays(100, 1000);
        uploader.setConsentGiven(true);
    }

    // A new log holding text, uploader set to read it: the log's path.
    QString newLogFor(KelUbcUploader &uploader, const QByteArray &text, const QString &url)
    {
        const QString log = newLog(text);
        configure(uploader, log, url);
        return log;
    }

    // Three records and the cursor that plant puts beside them: all three go.
    void uploadsWholeLog(HttpStandIn &server, const std::function<void(const QString &cursor, const QString &log)> &plant)
    {
        KelUbcUploader uploader;
        const QString log = newLogFor(uploader, records(QStringLiteral("s10"), 1, 3), server.url());
        plant(log + QStringLiteral(".cursor"), log);
        uploader.start();
        QTRY_COMPARE(uploader.confirmedLines(), quint64(3));
    }

private slots:
    void initTestCase() { capture.reset(new MessageCapture); }
    void cleanupTestCase() { capture.reset(); } // before the library's last flush at exit
    void init() { MessageCapture::clear(); }

    void batchesAndCursor()
    {
        HttpStandIn server;
        const QString log = newLog(records(QStringLiteral("s2"), 1, 50) + "{\"pcode\":\"half");
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
            QVERIFY(appendFile(log, "\",\"sessionid\":\"s2\",\"seq\":51}\n"));
            QTRY_COMPARE(uploader.confirmedLines(), quint64(51));
            QTRY_COMPARE(uploader.waitingLines(), quint64(0));
            QVERIFY(uploader.finish(2000));
        }
        QCOMPARE(readFile(log + QStringLiteral(".cursor")).split(' ').value(2).toLongLong(), QFileInfo(log).size());

        // A new uploader starts at the cursor.
        const int sent = server.requests.size();
        KelUbcUploader again;
        configure(again, log, server.url());
        again.start();
        QVERIFY(appendFile(log, records(QStringLiteral("s2"), 52, 1)));
        QTRY_COMPARE(again.confirmedLines(), quint64(1));
        QCOMPARE(server.requests.size(), sent + 1);
        QCOMPARE(seqs(server.acceptedRows()).last(), 52);
    }

    void backoffAndRefusedLines()
    {
        HttpStandIn server;
        int calls = 0;
        QList<qint64> lossReports;
        server.answer = [&calls, &lossReports](const StandInRequest &request) {
            if (request.target.contains("upload_losses")) { // the set-aside lines, reported
                lossReports << request.at;
                return lossReports.size() <= 2 ? 503 : 200;
            }
            if (++calls <= 3)
                return 503;
            return request.body.contains("POISON") ? 400 : 200;
        };
        const QByteArray poison = poisoned(QStringLiteral("s3"), 8);
        KelUbcUploader uploader;
        newLogFor(uploader, records(QStringLiteral("s3"), 1, 7) + poison + "not json\n\n" + records(QStringLiteral("s3"), 9, 12), server.url());
        uploader.setCompression(false);
        uploader.start();
        QTRY_VERIFY(uploader.lastError().startsWith(QStringLiteral("HTTP 503")));
        QTRY_COMPARE(uploader.confirmedLines(), quint64(19));
        QCOMPARE(uploader.rejectedLines(), quint64(2));
        QVERIFY(uploader.lastError().isEmpty());
        QCOMPARE(seqs(server.acceptedRows()), range(1, 7) + range(9, 12));
        // Backoff grows: waits within [50, 100], [100, 200], [200, 400] ms (a
        // timer may fire 5% early). Loopback's delayed ACK alone makes gaps of
        // about 40 ms, so only the third one tells a wait from none.
        const QList<StandInRequest> &r = server.requests;
        QVERIFY(r[1].at - r[0].at >= 45);
        QVERIFY2(r[3].at - r[2].at >= 190, qPrintable(QString::number(r[3].at - r[2].at)));
        // The refused lines, as written, in a file only the user reads.
        QCOMPARE(readFile(uploader.deadLetterFilePath()), QByteArray("not json\n") + poison);
#ifndef Q_OS_WIN // a DACL there, which tst_ruvubc checks
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(uploader.deadLetterFilePath()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
#endif
        QTRY_COMPARE(uploader.waitingLines(), quint64(0));
        // The loss report's own backoff, without jitter: 100, then 200 ms.
        QTRY_COMPARE(lossReports.size(), 3);
        QVERIFY(lossReports[1] - lossReports[0] >= 100);
        QVERIFY(lossReports[2] - lossReports[1] >= 200);
    }

    void consentAndSwitch()
    {
        HttpStandIn server;
        KelUbcUploader uploader;
        newLogFor(uploader, records(QStringLiteral("s4"), 1, 3), server.url());
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
        KelUbcUploader uploader;
        const QString log = newLogFor(uploader, records(QStringLiteral("s5"), 1, 5), server.url());
        uploader.start();
        QTRY_COMPARE(uploader.confirmedLines(), quint64(5));
        // Lines the old file got just before it was moved still go, before the new file's.
        QVERIFY(appendFile(log, records(QStringLiteral("s5"), 6, 2)));
        QVERIFY(QFile::rename(log, log + QStringLiteral(".1")));
        QVERIFY(appendFile(log, records(QStringLiteral("s6"), 1, 3)));
        QTRY_COMPARE(uploader.confirmedLines(), quint64(10));
        QCOMPARE(seqs(server.acceptedRows()), range(1, 7) + range(1, 3));
        QTest::qWait(100);
        QCOMPARE(server.acceptedRows().size(), 10);
    }

    void finishDeadline()
    {
        HttpStandIn server;
        server.answer = [](const StandInRequest &) { return 0; }; // never answers
        KelUbcUploader uploader;
        newLogFor(uploader, records(QStringLiteral("s7"), 1, 3), QStringLiteral("http://desk:secret@") + server.url().mid(7));
        uploader.setMaxBatchAge(60000); // only the last attempt sends
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
        QVERIFY(!QFile::exists(uploader.cursorFilePath())); // nothing confirmed, whatever finish() gave up on
        QVERIFY(!uploader.isRunning());
    }
    void notTheStoresAnswer()
    {
        // A captive portal or a wrong address: 200 with a page of its own.
        HttpStandIn server;
        server.headers = "Content-Type: text/html\r\n";
        KelUbcUploader uploader;
        newLogFor(uploader, records(QStringLiteral("s8"), 1, 3), QStringLiteral("http://desk:secret@") + server.url().mid(7));
        uploader.setRetryDelays(20, 40);
        uploader.start();
        QTRY_VERIFY(server.requests.size() >= 3);
        QCOMPARE(uploader.confirmedLines(), quint64(0));
        // The store is back (the stand-in answers in this thread: no request is half answered).
        const int before = server.requests.size();
        server.headers = "X-ClickHouse-Server-Display-Name: stand-in\r\n";
        QTRY_COMPARE(uploader.confirmedLines(), quint64(3));
        QCOMPARE(server.requests.size(), before + 1);
        // One warning for the whole outage, naming the address but not the password.
        QCOMPARE(warnings(QStringLiteral("failed")).size(), 1);
        QVERIFY(warnings(QStringLiteral("failed")).first().contains(server.url()));
        QVERIFY(warnings(QStringLiteral("secret")).isEmpty());
    }

    void truncatedInPlace()
    {
        // copytruncate between two polls: the file is cut to nothing and
        // refilled with more than it had.
        HttpStandIn server;
        KelUbcUploader uploader;
        const QString log = newLogFor(uploader, records(QStringLiteral("s9"), 1, 50), server.url());
        uploader.setPollInterval(400);
        uploader.start();
        QTRY_COMPARE(uploader.confirmedLines(), quint64(50));
        QVERIFY(writeFile(log, records(QStringLiteral("s9"), 51, 200)));
        QTRY_COMPARE(uploader.confirmedLines(), quint64(250));
        QCOMPARE(seqs(server.acceptedRows()), range(1, 250));
    }

    void anyCursorContent()
    {
        HttpStandIn server;
        const QList<QByteArray> contents = {"-5 0\n", "-9223372036854775808 0\n", "9223372036854775807 0\n",
                                            "0x10 0\n", "1 2 3", QByteArray(1 << 20, '7')};
        for (const QByteArray &content : contents) {
            uploadsWholeLog(server, [&content](const QString &cursor, const QString &log) {
                QVERIFY(writeFile(cursor, content.size() < 30 ? fileIdentity(log) + content : content));
            });
            if (QTest::currentTestFailed())
                return;
        }
    }

    void consentDuringSplit()
    {
        HttpStandIn server;
        KelUbcUploader uploader;
        server.answer = [&uploader, &server](const StandInRequest &request) {
            if (!request.body.contains("POISON"))
                return 200;
            if (server.requests.size() == 1)
                uploader.setConsentGiven(false); // while the store refuses the batch
            return 400;
        };
        const QByteArray poison = poisoned(QStringLiteral("s11"), 4);
        newLogFor(uploader, records(QStringLiteral("s11"), 1, 3) + poison + records(QStringLiteral("s11"), 5, 4), server.url());
        uploader.start();
        QTRY_COMPARE(server.requests.size(), 1);
        QTest::qWait(300);
        QCOMPARE(server.requests.size(), 1);
        uploader.setConsentGiven(true);
        QTRY_COMPARE(uploader.confirmedLines(), quint64(7));
        QCOMPARE(uploader.rejectedLines(), quint64(1));
    }

    void blanket400()
    {
        // Neither a proxy's 400 nor ClickHouse's refusal of the query itself
        // says anything about the rows: nothing is set aside.
        const QByteArray replies[][2] = {
            {"Content-Type: text/html\r\n", "<html><body><h1>400 Bad Request</h1></body></html>"},
            {"X-KelUbc-Gateway: 1\r\n", "<html><body><h1>400 Bad Request</h1></body></html>"},
            {"X-ClickHouse-Server-Display-Name: stand-in\r\n",
             "Code: 62, e.displayText() = DB::Exception: Syntax error: failed at position 1"}};
        for (const auto &reply : replies) {
            HttpStandIn server;
            server.headers = reply[0];
            server.errorText = reply[1];
            int calls = 0;
            server.answer = [&](const StandInRequest &) {
                if (++calls <= 6)
                    return 400;
                server.headers = "X-ClickHouse-Server-Display-Name: stand-in\r\n";
                return 200;
            };
            KelUbcUploader uploader;
            newLogFor(uploader, records(QStringLiteral("s12"), 1, 3), server.url());
            uploader.setRetryDelays(10, 20);
            uploader.start();
            QTRY_COMPARE(uploader.confirmedLines(), quint64(3));
            QCOMPARE(uploader.rejectedLines(), quint64(0));
        }
    }

    void noLinkFollowed()
    {
#ifdef Q_OS_WIN
        QSKIP("QFile::link makes a shortcut on Windows");
#else
        HttpStandIn server;
        KelUbcUploader uploader;
        const QString log = newLogFor(uploader, records(QStringLiteral("s13"), 1, 3) + "not json\n", server.url());
        // A cursor that would skip the whole log, and a file to spoil.
        const QString target = dir.filePath(QStringLiteral("target"));
        const QString spoiled = dir.filePath(QStringLiteral("spoiled"));
        const QByteArray skipAll = cursorAtEnd(log);
        QVERIFY(writeFile(target, skipAll));
        QVERIFY(writeFile(spoiled, "keep\n"));
        QVERIFY(QFile::link(target, log + QStringLiteral(".cursor")));
        QVERIFY(QFile::link(spoiled, log + QStringLiteral(".rejected")));
        uploader.start();
        QTRY_COMPARE(uploader.confirmedLines(), quint64(3));
        QCOMPARE(readFile(target), skipAll);
        QCOMPARE(readFile(spoiled), QByteArray("keep\n"));
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(uploader.cursorFilePath()).constData(), &st), 0);
        QVERIFY(S_ISREG(st.st_mode));
        QCOMPARE(int(st.st_mode & 0777), 0600);
#endif
    }

    void foreignCursor()
    {
#ifdef Q_OS_WIN
        QSKIP("needs another account to own a file");
#else
        if (::geteuid() != 0)
            QSKIP("needs root to make a file another user owns");
        HttpStandIn server;
        uploadsWholeLog(server, [](const QString &cursor, const QString &log) {
            QVERIFY(writeFile(cursor, cursorAtEnd(log)));
            QCOMPARE(::chown(QFile::encodeName(cursor).constData(), 65534, 65534), 0);
        });
#endif
    }

    void failedCursorSave()
    {
        HttpStandIn server;
        KelUbcUploader uploader;
        const QString log = newLogFor(uploader, records(QStringLiteral("s15"), 1, 3), server.url());
        const QByteArray before = fileIdentity(log) + "0 0\n";
        QVERIFY(writeFile(log + QStringLiteral(".cursor"), before));
#ifdef Q_OS_WIN
        QSKIP("no file size limit on Windows");
#else
        // A full disk, for this process only: no file may grow.
        struct rlimit old;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        struct rlimit none = old;
        none.rlim_cur = 0;
        ::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &none), 0);
        uploader.start();
        QTRY_COMPARE(uploader.confirmedLines(), quint64(3));
        QVERIFY(uploader.finish(2000));
        ::setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(readFile(uploader.cursorFilePath()), before);
        QCOMPARE(warnings(QStringLiteral("cannot save the upload cursor")).size(), 1);
#endif
    }

    void junkInBulk()
    {
        HttpStandIn server;
        const QByteArray junk = QByteArray(200000, '\n') + QByteArray("{}\n").repeated(20000);
        KelUbcUploader uploader;
        newLogFor(uploader, junk + records(QStringLiteral("s16"), 1, 1), server.url());
        QElapsedTimer timer;
        timer.start();
        uploader.start();
        QTRY_COMPARE_WITH_TIMEOUT(uploader.confirmedLines(), quint64(1), 120000);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(uploader.rejectedLines(), quint64(20000));
        QCOMPARE(readFile(uploader.deadLetterFilePath()), junk.mid(200000));
        QCOMPARE(warnings(QStringLiteral("aside")).size(), 1);
        QCOMPARE(warnings(QStringLiteral("aside")).filter(QStringLiteral("20000")).size(), 1);
    }

    void gatewayAddress()
    {
        HttpStandIn server;
        server.headers = "X-KelUbc-Gateway: 1\r\n";
        KelUbcUploader uploader;
        newLogFor(uploader, records(QStringLiteral("s17"), 1, 3), server.url() + QStringLiteral("v1/records"));
        uploader.setToken(QStringLiteral("fleet-token"));
        uploader.start();
        QTRY_COMPARE(uploader.confirmedLines(), quint64(3));
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests.first().target, QByteArray("/v1/records"));
        QCOMPARE(server.requests.first().authorization, QByteArray("Bearer fleet-token"));
    }

    // A path reaches the store only as a digest, unless the host opts in;
    // the log keeps it as written.
    void pathsStayOnTheDesktop()
    {
        const QString path = QStringLiteral("/home/me/models/bracket.fem");
        const QString windowsPath = QStringLiteral("C:\\Users\\me\\bracket.fem");
        QByteArray text;
        const QStringList paths{path, QStringLiteral("/home/me/models/./bracket.fem"), QStringLiteral("/home/me/other.fem")};
        for (int i = 0; i < paths.size(); ++i) {
            UbcDataProtocol record = sampleRecord(QStringLiteral("s20"));
            record.prjfullpath = paths.at(i);
            record.attrs.insert(QStringLiteral("file"), i ? QStringLiteral("c:/users/me/bracket.fem") : windowsPath);
            text += RuvUbc::toJsonLine(record, quint64(i + 1));
        }
        const auto fields = [](const QByteArray &row) {
            const QJsonObject o = QJsonDocument::fromJson(row).object();
            QStringList values{o.value(QStringLiteral("prjfullpath")).toString()};
            const QJsonArray keys = o.value(QStringLiteral("attrs.key")).toArray();
            for (int i = 0; i < keys.size(); ++i)
                if (keys.at(i).toString() == QLatin1String("file") || keys.at(i).toString() == QLatin1String("location"))
                    values << o.value(QStringLiteral("attrs.value")).toArray().at(i).toString();
            return values; // prjfullpath, file, location
        };
        for (const bool sendPaths : {false, true}) {
            HttpStandIn server;
            KelUbcUploader uploader;
            const QString log = newLogFor(uploader, text, server.url());
            uploader.markPathAttribute(QStringLiteral("file"));
            uploader.setSendPaths(sendPaths);
            uploader.start();
            QTRY_COMPARE(uploader.confirmedLines(), quint64(3));
            QCOMPARE(readFile(log), text);
            const QList<QByteArray> rows = server.acceptedRows();
            QCOMPARE(rows.size(), 3);
            const QStringList first = fields(rows.at(0)), second = fields(rows.at(1)), third = fields(rows.at(2));
            if (sendPaths) {
                QCOMPARE(first, (QStringList{path, windowsPath, QStringLiteral("Ribbon工具栏")}));
                QCOMPARE(third.first(), paths.last());
                continue;
            }
            for (const QByteArray &row : rows)
                QVERIFY2(!row.contains("bracket") && !row.contains("other.fem"), row);
            QVERIFY2(first.at(0).contains(QRegularExpression(QStringLiteral("^hmac:[0-9a-f]{32}$"))), qPrintable(first.at(0)));
            QCOMPARE(first.at(2), QStringLiteral("Ribbon工具栏")); // not marked: as written
            // One project, one digest: however the path is written; another project, another.
            QCOMPARE(second, first);
            QVERIFY(first.at(1) != first.at(0) && third.at(0) != first.at(0));
            QCOMPARE(QFileInfo(log + QStringLiteral(".pathkey")).size(), qint64(32));
        }
    }

    // The helper's journal goes to its own table with its own cursor: each
    // event named as the helper named it, or by its content; a line that is
    // no event set aside beside the journal.
    void journalToCodedEvents()
    {
        HttpStandIn server;
        KelUbcUploader uploader;
        const QString log = newLogFor(uploader, records(QStringLiteral("s21"), 1, 1), server.url());
        const QString journal = log + QStringLiteral(".events");
        QVERIFY(appendFile(journal, "{\"time\":\"2026-12-05T08:02:11.347Z\",\"code\":\"210101\",\"attrs\":{\"tjsc\":\"12\","
                                    "\"file\":\"/home/me/a.fem\"},\"pcode\":\"P\",\"gid\":\"g\",\"sessionid\":\"s21\",\"seq\":7}\n"
                                    "not an event\n"
                                    "{\"time\":\"2026-12-05T08:02:12.000Z\",\"code\":\"580101002\",\"attrs\":null}\n"));
        uploader.setJournalFilePath(journal);
        uploader.markPathAttribute(QStringLiteral("file"));
        uploader.start();
        QTRY_COMPARE(uploader.journalConfirmedLines(), quint64(2));
        QTRY_COMPARE(uploader.confirmedLines(), quint64(1));
        QVERIFY(uploader.finish(2000));
        QList<QJsonObject> events;
        for (const StandInRequest &request : server.requests) { // all answered 200
            if (request.target.contains("upload_losses")) // the line set aside, reported
                continue;
            const bool coded = request.target.contains("INSERT%20INTO%20ubc.coded_events%20FORMAT");
            QVERIFY2(coded || request.target.contains("INSERT%20INTO%20ubc.records%20FORMAT"), request.target);
            for (const QByteArray &row : request.body.split('\n'))
                if (coded && !row.isEmpty())
                    events << QJsonDocument::fromJson(row).object();
        }
        QCOMPARE(events.size(), 2);
        const auto field = [&events](int i, const char *name) { return events[i].value(QLatin1String(name)).toVariant().toString(); };
        QCOMPARE((QStringList{field(0, "sessionid"), field(0, "seq"), field(0, "time"), field(1, "code"), field(1, "sessionid")}),
                 (QStringList{QStringLiteral("s21"), QStringLiteral("7"), QStringLiteral("2026-12-05 08:02:11"),
                              QStringLiteral("580101002"), QString()}));
        QCOMPARE(events[0].value(QStringLiteral("attrs.value")).toArray().at(0).toString(), QStringLiteral("12"));
        QVERIFY(events[0].value(QStringLiteral("attrs.value")).toArray().at(1).toString().startsWith(QLatin1String("hmac:")));
        QVERIFY(events[1].value(QStringLiteral("seq")).toDouble() >= 9.2e18); // derived: the top bit set
        QCOMPARE(readFile(journal + QStringLiteral(".rejected")), QByteArray("not an event\n"));
        QVERIFY(QFile::exists(journal + QStringLiteral(".cursor")));
    }

    void quitsWithTheHost()
    {
        HttpStandIn server;
        const QString log = newLog();
        const auto runHost = [&](qint64 within, int rows) {
            QProcess host;
            qint64 exited = 0;
            connect(&host, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                    [&exited] { exited = QDateTime::currentMSecsSinceEpoch(); });
            host.start(QStringLiteral(UPLOAD_HOST), {log, server.url()});
            QTRY_VERIFY_WITH_TIMEOUT(exited, 10000);
            QCOMPARE(host.exitStatus(), QProcess::NormalExit);
            QCOMPARE(host.exitCode(), 0);
            // Milliseconds from the end of the host's event loop to its exit.
            const qint64 took = exited - host.readAllStandardOutput().trimmed().toLongLong();
            QVERIFY2(took >= 0 && took < within, qPrintable(QString::number(took)));
            QCOMPARE(server.acceptedRows().size(), rows);
        };
        // Well under the 2 s deadline it would wait if it waited for nothing,
        // with room for a loaded machine.
        runHost(1000, 5);

        // The store does not answer: the host waits at most the deadline,
        // and the records go at the next start.
        server.answer = [](const StandInRequest &) { return 0; };
        runHost(2500, 5);
        server.answer = [](const StandInRequest &) { return 200; };
        runHost(1000, 15);
    }
};

QTEST_GUILESS_MAIN(tst_KelUbcUpload)
#include "tst_kelubcupload.moc"
