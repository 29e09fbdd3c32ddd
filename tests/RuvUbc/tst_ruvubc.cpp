#include <RuvUbc.h>

#include <QtCore/QCryptographicHash>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QSysInfo>
#include <QtCore/QTemporaryDir>
#include <QtCore/QUuid>
#include <QtTest/QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

void captureWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg)
        g_warnings << text;
    else if (g_previousHandler)
        g_previousHandler(type, context, text);
}

QList<QByteArray> readLines(const QString &path, qint64 from = 0)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QJsonObject parse(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    return error.error == QJsonParseError::NoError ? doc.object() : QJsonObject();
}

QStringList values(const UbcDataProtocol &r)
{
    return {r.pcode, r.fncode, r.fnname, r.fngroup, r.trigertime, r.gid, r.vername, r.ver, r.ver2,
            r.debug, r.usetype, r.utype, r.mac, r.hardwareid, r.ip, r.projectid, r.prjfullpath,
            r.prjtext, r.prjedocnt, r.prjsize, r.prjcost, r.regionrule, r.major, r.duration,
            r.sessionid};
}

// Logs a record carrying its code and sequence number; returns its line.
QByteArray logRecord(const QString &code, int seq)
{
    UbcDataProtocol r;
    RuvUbc::instance()->initUbcDataProtocol(r);
    r.fncode = code;
    r.fnname = QString::number(seq);
    r.attrs.insert(QStringLiteral("seq"), QString::number(seq));
    RuvUbc::instance()->logUbcDataProtocol(r);
    return RuvUbc::toJsonLine(r);
}

// One key's values over the lines (those whose fncode is code, if given).
QStringList column(const QList<QByteArray> &lines, const QString &key, const QString &code = QString())
{
    QStringList out;
    for (const QByteArray &line : lines) {
        const QJsonObject o = parse(line);
        if (o.isEmpty())
            out << QStringLiteral("<bad line>");
        else if (code.isNull() || o.value(QStringLiteral("fncode")).toString() == code)
            out << o.value(key).toString();
    }
    return out;
}

QStringList sequence(int from, int to)
{
    QStringList out;
    for (int i = from; i < to; ++i)
        out << QString::number(i);
    return out;
}

} // namespace

class TestRuvUbc : public QObject
{
    Q_OBJECT

    RuvUbc *const log = RuvUbc::instance();
    QTemporaryDir m_shared; // the one mirror lives here for the whole run
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_primary;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString mirror() const { return m_shared.filePath(QStringLiteral("mirror/records.jsonl")); }

    // A path whose parent folder is a regular file; unwritable even for root.
    QString blockedPath()
    {
        QFile blocker(path(QStringLiteral("blocker")));
        if (!blocker.open(QIODevice::WriteOnly) || blocker.write("x") != 1)
            return QString();
        return path(QStringLiteral("blocker/ubc/records.jsonl"));
    }
    void unblock() { QVERIFY(QFile::remove(path(QStringLiteral("blocker")))); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_shared.isValid());
        g_previousHandler = qInstallMessageHandler(captureWarnings);
    }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_primary = path(QStringLiteral("records.jsonl"));
        log->setLogFilePath(m_primary);
        log->setFilterType(15);
        log->setCollectionEnabled(true);
        g_warnings.clear();
    }
    // Left-over records would move on to the next test's file.
    void cleanup() { QCOMPARE(log->queuedRecords(), 0); }

    void recordsAreJsonLinesInProtocolOrder()
    {
        log->setProductCode(QStringLiteral("KELTEST"));
        log->addLogFilePath(mirror());
        log->addLogFilePath(mirror());
        QCOMPARE(log->mirrorPaths().count(mirror()), 1);
        const qint64 mirrorStart = QFileInfo(mirror()).size();

        UbcDataProtocol a;
        log->initUbcDataProtocol(a);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"))
                     .match(a.trigertime).hasMatch(), qPrintable(a.trigertime));
        const QDateTime when = QDateTime::fromString(a.trigertime, Qt::ISODateWithMs);
        QVERIFY(qAbs(when.msecsTo(QDateTime::currentDateTime())) < 5000);
        QCOMPARE(a.pcode, QStringLiteral("KELTEST"));
        QCOMPARE(a.sessionid, log->sessionId());
        QVERIFY(!QUuid::fromString(a.sessionid).isNull());
        QCOMPARE(a.ver2, QString::fromLatin1(qVersion()));
        QCOMPARE(a.vername, QCoreApplication::applicationName());
        QVERIFY(a.mac.isEmpty() && a.ip.isEmpty());
        const QByteArray machineId = QSysInfo::machineUniqueId();
        if (!machineId.isEmpty()) { // salted: neither the plain digest nor the same for another product
            QVERIFY(a.gid.size() == 64 && a.hardwareid == a.gid);
            QVERIFY(a.gid.toLatin1() != QCryptographicHash::hash(machineId, QCryptographicHash::Sha256).toHex());
            log->setProductCode(QStringLiteral("OTHER"));
            UbcDataProtocol other;
            log->initUbcDataProtocol(other);
            QVERIFY(other.gid != a.gid);
        }
        log->setProductCode(QString());

        a.fncode = QStringLiteral("990001");
        a.fnname = QStringLiteral("启动应用");
        a.fngroup = QStringLiteral("null");
        a.attrs.insert(QStringLiteral("layer"), QStringLiteral("L1"));
        a.attrs.insert(QStringLiteral("location"), QStringLiteral("Ribbon"));
        UbcDataProtocol b; // all null but two fields; one empty, not null
        b.fncode = QStringLiteral("990002");
        b.prjtext = QStringLiteral("");
        log->logUbcDataProtocol(a);
        log->logUbcDataProtocol(b);

        const QList<QByteArray> lines = readLines(m_primary);
        QCOMPARE(lines, (QList<QByteArray>{RuvUbc::toJsonLine(a).chopped(1), RuvUbc::toJsonLine(b).chopped(1)}));
        QCOMPARE(readLines(mirror(), mirrorStart), lines);

        const QStringList names{"pcode", "fncode", "fnname", "fngroup", "trigertime", "gid", "vername",
                                "ver", "ver2", "debug", "usetype", "utype", "mac", "hardwareid", "ip",
                                "projectid", "prjfullpath", "prjtext", "prjedocnt", "prjsize", "prjcost",
                                "regionrule", "major", "duration", "sessionid"};
        QCOMPARE(RuvUbc::fieldNames(), names);
        for (int i = 0; i < 2; ++i) {
            const UbcDataProtocol &r = i ? b : a;
            int last = -1;
            for (const QString &key : names + QStringList{QStringLiteral("attrs")}) {
                const int at = lines[i].indexOf("\"" + key.toUtf8() + "\":");
                QVERIFY2(at > last, qPrintable(key));
                last = at;
            }
            const QJsonObject o = parse(lines[i]);
            QCOMPARE(o.size(), 26);
            for (int f = 0; f < names.size(); ++f)
                QCOMPARE(o.value(names[f]).toString(QStringLiteral("<missing>")), values(r)[f]);
            const QVariantMap attrs = i ? QVariantMap() : QVariantMap{{"layer", "L1"}, {"location", "Ribbon"}};
            QCOMPARE(o.value(QStringLiteral("attrs")).toObject().toVariantMap(), attrs);
        }
    }

    void escapingKeepsLinesValidJson()
    {
        UbcDataProtocol r;
        r.fncode = QStringLiteral("q\"b\\s/\n\t\r\b\f") + QChar(0x01) + QChar(0x1f) + QChar(0x7f) + QChar(0)
            + QStringLiteral("é中");
        r.fnname = QString::fromUcs4(U"😀 ok");
        r.fngroup = QString(QChar(0xd800)) + QLatin1Char('x') + QChar(0xdc00) + QChar(0xdbff);
        r.attrs.insert(QStringLiteral("k\"\n"), QString(QChar(0xdfff)));
        log->logUbcDataProtocol(r);

        const QList<QByteArray> lines = readLines(m_primary);
        QCOMPARE(lines.size(), 1);
        const QByteArray &line = lines[0];
        QCOMPARE(line + '\n', RuvUbc::toJsonLine(r));
        for (char c : line)
            QVERIFY(uchar(c) >= 0x20);
        QVERIFY(line.contains("\xF0\x9F\x98\x80 ok"));
        QVERIFY(line.contains("\\ud800x\\udc00\\udbff"));
        const QJsonObject o = parse(line);
        QCOMPARE(o.value(QStringLiteral("fncode")).toString(), r.fncode);
        QCOMPARE(o.value(QStringLiteral("fnname")).toString(), r.fnname);
        QCOMPARE(o.value(QStringLiteral("fngroup")).toString(), r.fngroup);
        QCOMPARE(o.value(QStringLiteral("attrs")).toObject().value(QStringLiteral("k\"\n")).toString(),
                 QString(QChar(0xdfff)));
    }

    void filterBitsSwitchAndListeners()
    {
        log->addLogFilePath(mirror());
        const qint64 mirrorStart = QFileInfo(mirror()).size();
        QStringList heard;
        QList<int> ids{log->addListener([&](const UbcDataProtocol &r) { heard << r.fncode; })};
        const auto logWith = [&](int filter, const QString &code) {
            log->setFilterType(filter);
            logRecord(code, 0);
        };
        logWith(0, QStringLiteral("none"));
        logWith(RuvUbc::FilterPrimary, QStringLiteral("primary"));
        logWith(RuvUbc::FilterMirrors, QStringLiteral("mirror"));
        logWith(RuvUbc::FilterListeners, QStringLiteral("listener"));
        logWith(15, QStringLiteral("all"));
        QCOMPARE(log->filterType(), 15);
        QCOMPARE(column(readLines(m_primary), QStringLiteral("fncode")), QStringList({"primary", "all"}));
        QCOMPARE(column(readLines(mirror(), mirrorStart), QStringLiteral("fncode")), QStringList({"mirror", "all"}));
        QCOMPARE(heard, QStringList({"listener", "all"}));

        // Off: nothing written, queued or heard, even for a failing path.
        log->setCollectionEnabled(false);
        QVERIFY(!log->isCollectionEnabled());
        logRecord(QStringLiteral("off"), 0);
        log->setLogFilePath(blockedPath());
        logRecord(QStringLiteral("off"), 1);
        QCOMPARE(log->queuedRecords(), 0);
        QVERIFY(g_warnings.isEmpty());
        log->setLogFilePath(m_primary);
        log->setCollectionEnabled(true);
        QCOMPARE(readLines(m_primary).size(), 2);
        QCOMPARE(heard.size(), 2);

        // A listener that removes itself and adds another while being called.
        int calls = 0;
        int late = 0;
        int selfId = 0;
        selfId = log->addListener([&](const UbcDataProtocol &) {
            ++calls;
            log->removeListener(selfId);
            ids << log->addListener([&](const UbcDataProtocol &) { ++late; });
        });
        logRecord(QStringLiteral("a"), 0);
        logRecord(QStringLiteral("b"), 0);
        for (int id : ids)
            log->removeListener(id);
        logRecord(QStringLiteral("c"), 0);
        QCOMPARE(calls, 1);
        QCOMPARE(late, 1);
        QCOMPARE(heard, QStringList({"listener", "all", "a", "b"}));
    }

    void failingPathKeepsRecordsAndWarnsOnce()
    {
        const QString target = blockedPath();
        QVERIFY(!target.isEmpty());
        log->setLogFilePath(target);
        log->setFilterType(RuvUbc::FilterPrimary); // not kept without the retry bit
        logRecord(QStringLiteral("lost"), -1);
        QCOMPARE(log->queuedRecords(), 0);
        log->setFilterType(15);
        for (int i = 0; i < 5; ++i)
            logRecord(QStringLiteral("kept"), i);
        QCOMPARE(log->queuedRecords(), 5);
        QVERIFY(!log->flush());
        QCOMPARE(g_warnings.size(), 1);
        QVERIFY(g_warnings[0].contains(target));

        unblock();
        QVERIFY(log->flush());
        logRecord(QStringLiteral("kept"), 5);
        QCOMPARE(column(readLines(target), QStringLiteral("fnname")), sequence(0, 6));

        // A new failure after recovery warns again: the file becomes a full disk.
        QVERIFY(QFile::remove(target) && QFile::link(QStringLiteral("/dev/full"), target));
        QVERIFY(log->flush());
        logRecord(QStringLiteral("full"), 6);
        QCOMPARE(log->queuedRecords(), 1);
        QCOMPARE(g_warnings.size(), 2);
        QVERIFY(QFile::remove(target));
        QVERIFY(log->flush());
        QCOMPARE(column(readLines(target), QStringLiteral("fnname")), QStringList{"6"});

        // A line cut short by the file size limit: the fragment gets a line of
        // its own and the record is written again whole.
        struct rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tight = saved;
        tight.rlim_cur = rlim_t(QFileInfo(target).size() + 10);
        log->setFilterType(RuvUbc::FilterPrimary | RuvUbc::FilterRetry); // the limit binds the mirror too
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const QByteArray cut = logRecord(QStringLiteral("cut"), 7);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(log->queuedRecords(), 1);
        QVERIFY(log->flush());
        QCOMPARE(readLines(target).mid(1), (QList<QByteArray>{cut.left(10), cut.chopped(1)}));
        QCOMPARE(g_warnings.size(), 3);
    }

    void queueIsBoundedAndCountsDrops()
    {
        const QString target = blockedPath();
        log->setLogFilePath(target);
        const quint64 droppedBefore = log->droppedRecords();
        const int total = RuvUbc::MaxQueuedRecords + 5;
        for (int i = 0; i < total; ++i)
            logRecord(QStringLiteral("q"), i);
        QCOMPARE(log->queuedRecords(), int(RuvUbc::MaxQueuedRecords));
        QCOMPARE(log->droppedRecords() - droppedBefore, quint64(5));
        QCOMPARE(g_warnings.size(), 2); // the failure, then the overflow
        unblock();
        QVERIFY(log->flush());
        QCOMPARE(column(readLines(target), QStringLiteral("fnname")), sequence(0, RuvUbc::MaxQueuedRecords));
    }

    void concurrentWritersNeverTearLines()
    {
        // Two threads here, then a forked process killed mid-run.
        constexpr int perThread = 2000;
        const auto worker = [](const QString &code) {
            for (int i = 0; i < perThread; ++i)
                logRecord(code, i);
        };
        std::thread a(worker, QStringLiteral("t0"));
        std::thread b(worker, QStringLiteral("t1"));
        a.join();
        b.join();
        const QList<QByteArray> lines = readLines(m_primary);
        QCOMPARE(lines.size(), 2 * perThread);
        QCOMPARE(column(lines, QStringLiteral("fnname"), QStringLiteral("t0")), sequence(0, perThread));
        QCOMPARE(column(lines, QStringLiteral("fnname"), QStringLiteral("t1")), sequence(0, perThread));

        const QString shared = path(QStringLiteral("shared.jsonl"));
        log->setLogFilePath(shared);
        constexpr int childRecords = 300;
        int ready[2];
        QCOMPARE(pipe(ready), 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            for (int i = 0; i < childRecords; ++i)
                logRecord(QStringLiteral("child"), i);
            (void)!write(ready[1], "k", 1);
            for (;;)
                pause();
        }
        close(ready[1]);
        for (int i = 0; i < 300; ++i)
            logRecord(QStringLiteral("parent"), i);
        char byte = 0;
        const bool childDone = read(ready[0], &byte, 1) == 1;
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(ready[0]);
        QVERIFY(childDone);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        const QList<QByteArray> both = readLines(shared);
        QCOMPARE(both.size(), childRecords + 300);
        QCOMPARE(column(both, QStringLiteral("fnname"), QStringLiteral("child")), sequence(0, childRecords));
        QCOMPARE(column(both, QStringLiteral("fnname"), QStringLiteral("parent")), sequence(0, 300));
    }
};

QTEST_GUILESS_MAIN(TestRuvUbc)
#include "tst_ruvubc.moc"
