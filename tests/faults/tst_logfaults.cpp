// Faults around the record log, through the facade and the real behaviour
// log: a host killed mid-burst, two hosts on one file, a log folder that
// turns unwritable, a full disk, and huge or malformed inputs.

#include <KelUbc.h>
#include <RuvUbc.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

#include <csignal>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QStringList g_warnings;

void keepWarnings(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtWarningMsg)
        g_warnings << text;
}

int warningsFor(const QString &path)
{
    int n = 0;
    for (const QString &w : qAsConst(g_warnings))
        n += w.contains(QStringLiteral("cannot write ") + path);
    return n;
}

// Each line of a log as an object; an empty object for a line that is not JSON.
QList<QJsonObject> readRecords(const QString &path)
{
    QFile file(path);
    QList<QJsonObject> out;
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).object();
    }
    return out;
}

// The element numbers ("<i>-...") of the property edits with this code.
QList<int> sequence(const QList<QJsonObject> &records, const QString &code)
{
    QList<int> out;
    for (const QJsonObject &o : records) {
        if (o.value(QStringLiteral("fncode")).toString() == code)
            out << o.value(QStringLiteral("fnname")).toString().section(QLatin1Char('-'), 0, 0).toInt();
    }
    return out;
}

QList<int> range(int from, int to)
{
    QList<int> out;
    for (int i = from; i < to; ++i)
        out << i;
    return out;
}

const QString kHuge = QStringLiteral("HUGE");
constexpr int kManyAttributes = 10000;

} // namespace

class TestLogFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_shared; // the mirror stays for the whole run
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_log;
    QString m_mount; // a tmpfs mounted by this test, if any

    void startHost(QProcess &host, const QString &tag, int count, int pad)
    {
        host.start(QStringLiteral(FAULTHOST), {QStringLiteral("burst"), m_log, tag,
                                                QString::number(count), QString::number(pad)});
        QVERIFY(host.waitForStarted());
    }

    void logEdits(const QString &code, int from, int to, int pad = 100)
    {
        const QString value(pad, QLatin1Char('v'));
        for (int i = from; i < to; ++i)
            KelUbc::instance()->sendElementPropValueModified(code, QStringLiteral("p"), QString::number(i), value);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_shared.isValid());
        // The dictionary beside this executable, before the first instance().
        const QString db = QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db");
        QFile::remove(db);
        {
            QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("w"));
            writer.setDatabaseName(db);
            QVERIFY(writer.open());
            QStringList names;
            for (int i = 0; i < kManyAttributes; ++i)
                names << QStringLiteral("a%1").arg(i);
            QSqlQuery query(writer);
            QVERIFY(query.exec(QStringLiteral("create table FuncDict (fncode text, fnName text, fnGroup text,"
                                              " fnAttrName text, fnAddLayer integer, fnAddRegion integer)")));
            QVERIFY(query.prepare(QStringLiteral("insert into FuncDict values (?, 'Huge', 'G', ?, 1, 0)")));
            query.addBindValue(kHuge);
            query.addBindValue(names.join(QLatin1Char(';')));
            QVERIFY(query.exec());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("w"));
        qInstallMessageHandler(keepWarnings);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_log = m_dir->filePath(QStringLiteral("records.jsonl"));
        KelUbc::instance()->setLogFilePath(m_log);
        g_warnings.clear();
    }

    void cleanup()
    {
        setfsuid(0);
        if (!m_mount.isEmpty()) {
            KelUbc::instance()->setLogFilePath(m_log); // let go of the mount's file
            umount2(QFile::encodeName(m_mount).constData(), MNT_DETACH);
            m_mount.clear();
        }
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
        ::kill(pid_t(host.processId()), SIGKILL);
        QVERIFY(host.waitForFinished(30000));
        QCOMPARE(host.exitStatus(), QProcess::CrashExit);
        const QByteArray rest = host.readAllStandardOutput().trimmed();
        if (!rest.isEmpty())
            reported = rest.split('\n').last().toInt();

        QList<QJsonObject> records = readRecords(m_log);
        QVERIFY(!records.isEmpty());
        if (records.last().isEmpty())
            records.removeLast(); // the fragment of the call under way
        for (const QJsonObject &o : records)
            QVERIFY(!o.isEmpty());
        const QList<int> seq = sequence(records, QStringLiteral("K"));
        QVERIFY(seq.size() > reported);
        QCOMPARE(seq, range(0, seq.size()));

        // Torn for sure: half of a line, as a kill between pages leaves it.
        QFile file(m_log);
        QVERIFY(file.open(QIODevice::Append) && file.write("{\"pcode\":\"\",\"fncode\":\"K\",\"fnna") > 0);
        file.close();
        QProcess next;
        startHost(next, QStringLiteral("N"), 3, 10);
        QVERIFY(next.waitForFinished(30000));
        QCOMPARE(next.exitCode(), 0);
        QCOMPARE(sequence(readRecords(m_log), QStringLiteral("N")), range(0, 3));
    }

    // Long lines from two hosts at once, each line whole and in its order.
    void twoHostsOneFile()
    {
        constexpr int count = 1500;
        QProcess a, b;
        startHost(a, QStringLiteral("A"), count, 5000);
        startHost(b, QStringLiteral("B"), count, 5000);
        QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
        QCOMPARE(a.exitCode() + b.exitCode(), 0);
        const QList<QJsonObject> records = readRecords(m_log);
        QCOMPARE(records.size(), 2 * count);
        for (const QJsonObject &o : records)
            QVERIFY(!o.isEmpty());
        QCOMPARE(sequence(records, QStringLiteral("A")), range(0, count));
        QCOMPARE(sequence(records, QStringLiteral("B")), range(0, count));
    }

    // The folder turns unwritable, then writable again: one warning, the
    // records wait and arrive once and in order; a mirror is not held up.
    void folderUnwritableThenWritable()
    {
        const QString folder = m_dir->filePath(QStringLiteral("logs"));
        const QString log = folder + QStringLiteral("/records.jsonl");
        const QString mirror = m_shared.filePath(QStringLiteral("mirror.jsonl"));
        QVERIFY(QDir().mkdir(folder));
        // Root writes anywhere: check files as an ordinary user, in this thread.
        if (geteuid() == 0) {
            const QFile::Permissions all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                           | QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
                                           | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
            QVERIFY(QFile::setPermissions(m_dir->path(), all) && QFile::setPermissions(m_shared.path(), all));
            QVERIFY(::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
            setfsuid(65534);
            QCOMPARE(int(setfsuid(uid_t(-1))), 65534);
        }
        KelUbc *ubc = KelUbc::instance();
        ubc->setLogFilePath(log);
        ubc->addLogFilePath(mirror);
        logEdits(QStringLiteral("U"), 0, 5);
        QVERIFY(QFile::remove(log)); // rotated away, say; the folder refuses a new one
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(RuvUbc::instance()->flush());
        logEdits(QStringLiteral("U"), 5, 20);
        QCOMPARE(RuvUbc::instance()->queuedRecords(), 15);
        QVERIFY(!RuvUbc::instance()->flush());
        QCOMPARE(warningsFor(log), 1);
        QCOMPARE(sequence(readRecords(mirror), QStringLiteral("U")), range(0, 20));

        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(RuvUbc::instance()->flush());
        logEdits(QStringLiteral("U"), 20, 21);
        QCOMPARE(sequence(readRecords(log), QStringLiteral("U")), range(5, 21));
        QCOMPARE(warningsFor(log), 1);
        QCOMPARE(warningsFor(mirror), 0);
    }

    // A full file system (a small tmpfs): lines cut short stay fragments on
    // lines of their own, every record arrives whole once space is back.
    void diskFullThenFreed()
    {
        const QString point = m_dir->filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkdir(point));
        if (::mount("tmpfs", QFile::encodeName(point).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a tmpfs here (needs root); the full-disk path is covered by tst_ruvubc with /dev/full");
        m_mount = point;
        const QString log = point + QStringLiteral("/records.jsonl");
        KelUbc::instance()->setLogFilePath(log);
        logEdits(QStringLiteral("F"), 0, 3, 900);

        QFile filler(point + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1000, 'f');
        while (filler.write(block) > 0) {
        }
        filler.close();
        logEdits(QStringLiteral("F"), 3, 30, 900);
        QVERIFY(RuvUbc::instance()->queuedRecords() > 0);
        QCOMPARE(warningsFor(log), 1);

        QVERIFY(QFile::remove(filler.fileName()));
        QVERIFY(RuvUbc::instance()->flush());
        QList<QJsonObject> whole;
        for (const QJsonObject &o : readRecords(log)) {
            if (!o.isEmpty())
                whole << o;
        }
        QCOMPARE(sequence(whole, QStringLiteral("F")), range(0, 30));
        QCOMPARE(warningsFor(log), 1);
    }

    void hugeAndMalformedInputs()
    {
        KelUbc *ubc = KelUbc::instance();
        ubc->setCurLayer(QStringLiteral("L"));
        const QString megabyte(1 << 20, QChar(0x4e2d));
        QMap<QString, QString> many;
        QStringList values;
        for (int i = 0; i < kManyAttributes; ++i) {
            many.insert(QStringLiteral("k%1").arg(i), QString::number(i));
            values << QString::number(i);
        }
        const QString odd = QStringLiteral("c") + QChar(0) + QChar(0xd800) + QStringLiteral("\n\"")
                            + QChar(0xdc00) + QChar(0xdfff) + QChar(0xd800);
        ubc->send(kHuge, many);
        ubc->send(kHuge, values);
        ubc->send(kHuge, megabyte);
        ubc->sendElementPropValueModified(QStringLiteral("P"), QStringLiteral("w(") + megabyte + QStringLiteral(")"),
                                          megabyte, megabyte);
        ubc->sendActionExecute(odd, odd, false);
        ubc->send(odd, odd);          // no such row: dropped
        ubc->send(QString(1 << 20, QChar(0)), megabyte); // no such row either

        const QList<QJsonObject> records = readRecords(m_log);
        QCOMPARE(records.size(), 5);
        const QJsonObject mapRecord = records[0].value(QStringLiteral("attrs")).toObject();
        QCOMPARE(mapRecord.size(), kManyAttributes + 1);
        QCOMPARE(mapRecord.value(QStringLiteral("k9999")).toString(), QStringLiteral("9999"));
        QCOMPARE(mapRecord.value(QStringLiteral("layer")).toString(), QStringLiteral("L"));
        const QJsonObject listRecord = records[1].value(QStringLiteral("attrs")).toObject();
        QCOMPARE(listRecord.size(), kManyAttributes + 1);
        QCOMPARE(listRecord.value(QStringLiteral("a9999")).toString(), QStringLiteral("9999"));
        QCOMPARE(records[2].value(QStringLiteral("attrs")).toObject().value(QStringLiteral("a0")).toString(), megabyte);
        const QJsonObject edit = records[3].value(QStringLiteral("attrs")).toObject();
        QCOMPARE(edit.keys(), QStringList{QStringLiteral("w")});
        QCOMPARE(edit.value(QStringLiteral("w")).toString(), megabyte);
        QVERIFY(records[3].value(QStringLiteral("fnname")).toString().startsWith(megabyte));
        QCOMPARE(records[4].value(QStringLiteral("fncode")).toString(), odd);
        QCOMPARE(records[4].value(QStringLiteral("fnname")).toString(), odd);
        QVERIFY(g_warnings.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLogFaults)
#include "tst_logfaults.moc"
