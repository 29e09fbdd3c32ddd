// Faults around the record log, through the facade and the real behaviour
// log: a host killed mid-burst, two hosts on one file, a log folder that
// turns unwritable, a full disk, and huge or malformed inputs.

#include "MessageCapture.h"
#include "TestLogs.h"
#include "UnderWine.h"

#include <KelUbc.h>
#include <RuvUbc.h>

#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <csignal>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace {

// The element numbers ("<i>-...") of the property edits with this code.
QStringList sequence(const QList<QJsonObject> &records, const QString &code)
{
    return TestLogs::column(records, QStringLiteral("fnname"), code).replaceInStrings(QRegularExpression("-.*"), QString());
}

using TestLogs::numbers;

QStringList warnings() { return MessageCapture::texts(QtWarningMsg); }

constexpr int kManyAttributes = 10000;

} // namespace

class TestLogFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_shared; // the mirror stays for the whole run
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_log;
    QString m_mount; // a tmpfs mounted by this test, if any
    QScopedPointer<MessageCapture> m_capture;

    void startHost(QProcess &host, const QString &tag, int count, int pad)
    {
        host.start(QStringLiteral(FAULTHOST), {QStringLiteral("burst"), m_log, tag,
                                                QString::number(count), QString::number(pad)});
        QVERIFY(host.waitForStarted());
    }

private slots:
    // Before QTest restores the handler it found: a capture released after
    // the run would put QTest's back, and the library's last flush at exit
    // would log through it.
    void cleanupTestCase() { m_capture.reset(); }

    void initTestCase()
    {
        // The dictionary beside this executable, before the first instance().
        const QString db = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
        QFile::remove(db);
        QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        writer.setDatabaseName(db);
        // One row naming kManyAttributes attributes "a0;a1;...". The idle
        // connection stays open: it holds no lock.
        QVERIFY(writer.open() && QSqlQuery(writer).exec(QStringLiteral(
            "create table FuncDict as with recursive n(i) as (select 0 union all select i + 1 from n where i < %1)"
            " select 'HUGE' as fncode, 'Huge' as fnName, 'G' as fnGroup, group_concat('a' || i, ';') as fnAttrName,"
            " 1 as fnAddLayer, 0 as fnAddRegion from n").arg(kManyAttributes - 1)));
        m_capture.reset(new MessageCapture);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_log = m_dir->filePath(QStringLiteral("records.jsonl"));
        KelUbc::instance()->setLogFilePath(m_log);
        MessageCapture::messages().clear();
    }

    void cleanup()
    {
#ifndef Q_OS_WIN
        if (!m_mount.isEmpty()) {
            KelUbc::instance()->setLogFilePath(m_log); // let go of the mount's file
            umount2(QFile::encodeName(m_mount).constData(), MNT_DETACH);
            m_mount.clear();
        }
#endif
        QCOMPARE(RuvUbc::instance()->queuedRecords(), 0);
    }

    // Every call that returned before the SIGKILL is in the file, whole. The
    // call under way may leave a fragment (the kernel stops a write between
    // pages); the next host to append starts on a line of its own.
    void killedMidBurst()
    {
        QProcess host;
        startHost(host, QStringLiteral("K"), 1000000, 400);
        int reported = -1;
        while (reported < 2000 && host.waitForReadyRead(30000)) {
            while (host.canReadLine())
                reported = host.readLine().trimmed().toInt();
        }
        QVERIFY(reported >= 2000);
#ifdef Q_OS_WIN
        host.kill(); // TerminateProcess
#else
        ::kill(pid_t(host.processId()), SIGKILL);
#endif
        QVERIFY(host.waitForFinished(30000));
        while (host.canReadLine()) // returned before the kill, read after it
            reported = host.readLine().trimmed().toInt();

        // A slow reader of the host's output (Wine's) may kill it only after
        // the log has rotated.
        const QList<QJsonObject> records = TestLogs::objects(TestLogs::rotatedLines(m_log));
        const QStringList seq = sequence(records, QStringLiteral("K"));
        QVERIFY(records.count(QJsonObject()) <= 1 && seq.size() > reported);
        QCOMPARE(seq, numbers(0, seq.size()));

        // Torn for sure: half of a line, as a kill between pages leaves it.
        QFile file(m_log);
        QVERIFY(file.open(QIODevice::Append | QIODevice::Unbuffered)
                && file.write("{\"pcode\":\"\",\"fncode\":\"K\",\"fnna") > 0);
        startHost(host, QStringLiteral("N"), 3, 10);
        QVERIFY(host.waitForFinished(30000));
        QCOMPARE(sequence(TestLogs::objects(m_log), QStringLiteral("N")), numbers(0, 3));
    }

    // Long lines from two hosts at once, each line whole and in its order: a
    // torn or glued line loses a record from one of the sequences.
    void twoHostsOneFile()
    {
        if (UnderWine::running())
            QSKIP("Wine's appends from two processes are not atomic");
        constexpr int count = 1500;
        QProcess a, b;
        startHost(a, QStringLiteral("A"), count, 5000);
        startHost(b, QStringLiteral("B"), count, 5000);
        QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
        const QList<QJsonObject> records = TestLogs::objects(m_log);
        QCOMPARE(sequence(records, QStringLiteral("A")), numbers(0, count));
        QCOMPARE(sequence(records, QStringLiteral("B")), numbers(0, count));
    }

    // The log folder turns unwritable, or its disk fills up (a small tmpfs):
    // one warning, the records wait and arrive once and in order when the
    // fault ends; a line cut short stays a fragment on a line of its own; a
    // mirror elsewhere is not held up.
    void folderFails_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("unwritable") << false;
        QTest::newRow("disk full") << true;
    }

    void folderFails()
    {
        QFETCH(bool, diskFull);
        const QString code = diskFull ? QStringLiteral("F") : QStringLiteral("U");
        const auto logEdits = [&code](int from, int to) {
            for (int i = from; i < to; ++i)
                KelUbc::instance()->sendElementPropValueModified(code, QStringLiteral("p"), QString::number(i),
                                                                 QString(900, QLatin1Char('v')));
        };
        const QString folder = m_dir->filePath(QStringLiteral("logs")), log = folder + QStringLiteral("/records.jsonl");
        const QString mirror = m_shared.filePath(QStringLiteral("mirror.jsonl"));
        QVERIFY(QDir().mkdir(folder));
#ifdef Q_OS_WIN
        if (diskFull)
            QSKIP("no small volume to fill on Windows");
        // The file at the path is held open without sharing, as a virus
        // scanner or an editor may hold it.
        HANDLE held = INVALID_HANDLE_VALUE;
        const std::wstring heldPath = QDir::toNativeSeparators(log).toStdWString();
        const auto setWritable = [&](bool writable) {
            if (writable)
                return CloseHandle(held) != 0;
            held = CreateFileW(heldPath.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            return held != INVALID_HANDLE_VALUE;
        };
#else
        // Root writes anywhere: its folder turns unwritable as a read-only mount.
        const QByteArray native = QFile::encodeName(folder);
        const bool root = geteuid() == 0;
        if (diskFull || root) {
            if (::mount("tmpfs", native.constData(), "tmpfs", 0, "size=64k") != 0)
                QSKIP("cannot mount a tmpfs here; the short write is covered by tst_ruvubc with a file size limit");
            m_mount = folder;
        }
        const auto setWritable = [&](bool writable) {
            if (root)
                return ::mount(nullptr, native.constData(), nullptr, MS_REMOUNT | (writable ? 0 : MS_RDONLY), nullptr) == 0;
            return QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | (writable ? QFile::WriteOwner : QFile::Permissions()));
        };
#endif
        KelUbc::instance()->setLogFilePath(log);
        KelUbc::instance()->addLogFilePath(mirror);
        logEdits(0, 5);
        QFile filler(folder + QStringLiteral("/filler"));
        if (diskFull) {
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(1000, 'f')) > 0) {
            }
        } else {
            // Rotated away, and the folder refuses a new file.
            QVERIFY(QFile::rename(log, log + QStringLiteral(".1")) && RuvUbc::instance()->flush());
            QVERIFY(setWritable(false));
        }
        logEdits(5, 30);
        QVERIFY(!RuvUbc::instance()->flush());
        QCOMPARE(sequence(TestLogs::objects(mirror), code), numbers(0, 30));

        QVERIFY(diskFull ? filler.remove() : setWritable(true));
        QVERIFY(RuvUbc::instance()->flush());
        QCOMPARE(sequence(TestLogs::objects(log), code), numbers(diskFull ? 0 : 5, 30));
        QVERIFY2(warnings().size() == 1 && warnings()[0].contains(QStringLiteral("cannot write ") + log),
                 qPrintable(warnings().join(QLatin1Char('\n'))));
    }

    // Records waiting for a path that works again by the time the host
    // exits are written then, whatever the retry gap, at quit or at the
    // library's teardown; what still cannot go is counted in one warning.
    void exitWritesWhatWaits_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("repair");
        QTest::newRow("quit") << "quit" << true;
        QTest::newRow("teardown") << "return" << true;
        QTest::newRow("still failing") << "quit" << false;
    }

    void exitWritesWhatWaits()
    {
        QFETCH(QString, how);
        QFETCH(bool, repair);
        const QString log = m_dir->filePath(QStringLiteral("blocked/records.jsonl"));
        QProcess host;
#ifdef Q_OS_WIN
        // Without a console Qt gives its messages to the debugger, not stderr.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        host.setProcessEnvironment(env);
#endif
        host.start(QStringLiteral(FAULTHOST), {QStringLiteral("exit"), log, how, repair ? "repair" : "broken"});
        QVERIFY(host.waitForFinished(30000) && host.exitCode() == 0);
        const QStringList lost = QString::fromLocal8Bit(host.readAllStandardError()).split('\n').filter("at exit");
        QCOMPARE(sequence(TestLogs::objects(log), QStringLiteral("X")), repair ? numbers(0, 51) : QStringList());
        QVERIFY2(lost.size() == (repair ? 0 : 1) && (repair || lost[0].contains(QStringLiteral(" 51 records"))),
                 qPrintable(lost.join('\n')));
    }

    // A 1 MB value, 10,000 attributes, codes with NULs and lone surrogates.
    void hugeAndMalformedInputs()
    {
        KelUbc *ubc = KelUbc::instance();
        const QString megabyte(1 << 20, QChar(0x4e2d));
        QStringList values;
        for (int i = 0; i < kManyAttributes; ++i)
            values << QString::number(i);
        const QString odd = QStringLiteral("c") + QChar(0) + QChar(0xd800) + QStringLiteral("\n\"")
                            + QChar(0xdc00) + QChar(0xdfff) + QChar(0xd800);
        ubc->send(QStringLiteral("HUGE"), values);
        ubc->sendElementPropValueModified(QStringLiteral("P"), QStringLiteral("w(") + megabyte + QStringLiteral(")"),
                                          megabyte, megabyte);
        ubc->sendActionExecute(odd, odd, false);
        ubc->send(odd, odd);          // no such row: dropped
        ubc->send(QString(1 << 20, QChar(0)), megabyte); // no such row either

        const QList<QJsonObject> records = TestLogs::objects(m_log);
        QCOMPARE(records.size(), 3);
        const QJsonObject many = records[0].value(QStringLiteral("attrs")).toObject();
        QCOMPARE(many.size(), kManyAttributes + 1); // and the layer
        QCOMPARE(many.value(QStringLiteral("a9999")).toString(), QStringLiteral("9999"));
        const QJsonObject edit = records[1].value(QStringLiteral("attrs")).toObject();
        QCOMPARE(edit.keys(), QStringList{QStringLiteral("w")});
        QCOMPARE(edit.value(QStringLiteral("w")).toString(), megabyte);
        QVERIFY(records[1].value(QStringLiteral("fnname")).toString().startsWith(megabyte));
        // Lone surrogates come back as U+FFFD.
        const QChar bad(0xfffd);
        QCOMPARE(records[2].value(QStringLiteral("fncode")).toString(),
                 QStringLiteral("c") + QChar(0) + bad + QStringLiteral("\n\"") + bad + bad + bad);
        QVERIFY2(warnings().isEmpty(), qPrintable(warnings().join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestLogFaults)
#include "tst_logfaults.moc"
