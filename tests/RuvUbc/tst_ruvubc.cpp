#include <RuvUbc.h>

#include <QtTest/QtTest>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <thread>

namespace {

QStringList g_warnings;

// The whole lines of a file; nothing for a missing one.
QList<QByteArray> readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeLast(); // what follows the last newline
    return lines;
}

QStringList values(const UbcDataProtocol &r)
{
    return {r.pcode, r.fncode, r.fnname, r.fngroup, r.trigertime, r.gid, r.vername, r.ver, r.ver2, r.debug, r.usetype,
            r.utype, r.mac, r.hardwareid, r.ip, r.projectid, r.prjfullpath, r.prjtext, r.prjedocnt, r.prjsize, r.prjcost,
            r.regionrule, r.major, r.duration, r.sessionid};
}

// Logs records with this code, numbered from first in fnname.
void logRecords(const QString &code, int count = 1, int first = 0)
{
    for (int i = first; i < first + count; ++i) {
        UbcDataProtocol r;
        RuvUbc::instance()->initUbcDataProtocol(r);
        r.fncode = code;
        r.fnname = QString::number(i);
        RuvUbc::instance()->logUbcDataProtocol(r);
    }
}

// One key's values over the lines (those whose fncode is code, if given).
QStringList column(const QList<QByteArray> &lines, const QString &key = "fnname", const QString &code = QString())
{
    QStringList out;
    for (const QByteArray &line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object(); // a torn line has no fncode and an empty fnname
        if (code.isNull() || o.value(QStringLiteral("fncode")).toString() == code)
            out << o.value(key).toString();
    }
    return out;
}

QStringList sequence(int from, int to)
{
    QStringList out;
    while (from < to)
        out << QString::number(from++);
    return out;
}

} // namespace

class TestRuvUbc : public QObject
{
    Q_OBJECT

    RuvUbc *const log = RuvUbc::instance();
    QTemporaryDir m_root; // the mirror stays for the whole run
    QString m_primary;
    int m_mirrorStart = 0;

    // Each test's files are named after it.
    QString path(const char *suffix) const { return m_root.filePath(QTest::currentTestFunction() + QString(suffix)); }
    QList<QByteArray> mirrored() const { return readLines(m_root.filePath(QStringLiteral("mirror.jsonl"))).mid(m_mirrorStart); }

private slots:
    void initTestCase()
    {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                g_warnings << text;
        });
        log->addLogFilePath(m_root.filePath(QStringLiteral("mirror.jsonl")));
        log->addLogFilePath(m_root.filePath(QStringLiteral("mirror.jsonl"))); // ignored: the mirror gets each line once
    }

    void init()
    {
        m_primary = path(".jsonl");
        log->setLogFilePath(m_primary);
        log->setFilterType(15);
        log->setCollectionEnabled(true);
        g_warnings.clear();
        m_mirrorStart = mirrored().size();
    }
    // Left-over records would move on to the next test's file.
    void cleanup() { QCOMPARE(log->queuedRecords(), 0); }

    void recordsParseBackInProtocolOrder()
    {
        UbcDataProtocol a, other;
        log->setProductCode(QStringLiteral("OTHER"));
        log->initUbcDataProtocol(other);
        log->setProductCode(QStringLiteral("KELTEST"));
        log->initUbcDataProtocol(a);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"))
                     .match(a.trigertime).hasMatch(), qPrintable(a.trigertime));
        QVERIFY(qAbs(QDateTime::fromString(a.trigertime, Qt::ISODateWithMs).msecsTo(QDateTime::currentDateTime())) < 5000);
        QCOMPARE((QStringList{a.pcode, a.sessionid, a.ver2, a.vername, a.mac + a.ip, a.hardwareid}),
                 (QStringList{"KELTEST", log->sessionId(), qVersion(), QCoreApplication::applicationName(), "", a.gid}));
        QVERIFY(!QUuid::fromString(a.sessionid).isNull());
        // The machine digest is salted per product: not the plain digest, not another product's.
        const QByteArray id = QSysInfo::machineUniqueId();
        QVERIFY(id.isEmpty() || (a.gid.size() == 64 && a.gid != other.gid
                                 && a.gid.toLatin1() != QCryptographicHash::hash(id, QCryptographicHash::Sha256).toHex()));

        // Control characters, quotes, a character beyond the BMP, lone surrogates.
        a.fncode = QStringLiteral("q\"b\\s/\n\t\r\b\f") + QChar(0x01) + QChar(0x1f) + QChar(0x7f) + QChar(0);
        a.fnname = QString::fromUcs4(U"启动应用 😀");
        a.fngroup = QString(QChar(0xd800)) + QLatin1Char('x') + QChar(0xdc00) + QChar(0xdbff);
        a.attrs = {{"layer", "L1"}, {"location", "Ribbon"}, {"k\"\n", QString(QChar(0xdfff))}};
        log->logUbcDataProtocol(a);
        log->logUbcDataProtocol(other);
        const QList<QByteArray> both = readLines(m_primary);
        QCOMPARE(mirrored(), both);
        // Each record has its own number, the same in every file: (sessionid, seq) names it.
        const quint64 seq = QJsonDocument::fromJson(both.value(0)).object().value("seq").toVariant().toULongLong();
        QVERIFY(seq >= 1);
        QCOMPARE(both, (QList<QByteArray>{RuvUbc::toJsonLine(a, seq).chopped(1), RuvUbc::toJsonLine(other, seq + 1).chopped(1)}));
        const QList<QByteArray> lines = both.mid(0, 1);
        QVERIFY(std::all_of(lines[0].begin(), lines[0].end(), [](char c) { return uchar(c) >= 0x20; }));
        QVERIFY(lines[0].contains("\xF0\x9F\x98\x80") && lines[0].contains("\\ud800x\\udc00\\udbff"));

        // Keys as they stand in the line, values as they parse back.
        const QStringList names = QStringLiteral("pcode fncode fnname fngroup trigertime gid vername ver ver2 debug usetype "
                                                 "utype mac hardwareid ip projectid prjfullpath prjtext prjedocnt prjsize "
                                                 "prjcost regionrule major duration sessionid").split(QLatin1Char(' '));
        QCOMPARE(RuvUbc::fieldNames(), names);
        QStringList keys, got;
        for (auto m = QRegularExpression(QStringLiteral("\"(\\w+)\":")).globalMatch(lines[0]); m.hasNext();)
            keys << m.next().captured(1);
        QCOMPARE(keys, names + QStringList({"seq", "attrs", "layer", "location"}));
        const QVariantMap o = QJsonDocument::fromJson(lines[0]).toVariant().toMap();
        for (const QString &name : names)
            got << o.value(name).toString();
        QCOMPARE(got, values(a));
        QCOMPARE(o.value("attrs").toMap(), (QVariantMap{{"layer", "L1"}, {"location", "Ribbon"}, {"k\"\n", a.attrs["k\"\n"]}}));
    }

    void filterBitsSwitchAndListeners()
    {
        QStringList heard;
        QList<int> ids{log->addListener([&](const UbcDataProtocol &r) { heard << r.fncode; })};
        for (int bits : {0, int(RuvUbc::FilterPrimary), int(RuvUbc::FilterMirrors), int(RuvUbc::FilterListeners), 15}) {
            log->setFilterType(bits);
            logRecords(QString::number(bits));
        }

        // A listener may remove itself and add another while being called.
        const int self = log->addListener([&](const UbcDataProtocol &) {
            heard << QStringLiteral("self");
            log->removeListener(self);
            ids << log->addListener([&](const UbcDataProtocol &r) { heard << r.fncode + QLatin1Char('+'); });
        });
        logRecords(QStringLiteral("a"));
        logRecords(QStringLiteral("b"));
        // Off: nothing written, queued or heard, even for a failing path.
        log->setCollectionEnabled(false);
        log->setLogFilePath(QStringLiteral("/dev/null/records.jsonl")); // unwritable even for root
        logRecords(QStringLiteral("off"));
        QVERIFY(log->filterType() == 15 && !log->isCollectionEnabled() && log->queuedRecords() == 0 && g_warnings.isEmpty());
        for (int id : ids)
            log->removeListener(id);
        QCOMPARE(heard, QStringList({"4", "15", "a", "self", "b", "b+"}));
        QCOMPARE(column(readLines(m_primary), "fncode"), QStringList({"1", "15", "a", "b"}));
        QCOMPARE(column(mirrored(), "fncode"), QStringList({"2", "15", "a", "b"}));
    }

    void failingPathKeepsRecordsAndWarnsOnce()
    {
        // A regular file where the folder should be: unwritable even for root, until it goes.
        const QString target = path(".blocker/records.jsonl");
        QVERIFY(QFile(path(".blocker")).open(QIODevice::WriteOnly));
        log->setLogFilePath(target);
        log->setFilterType(RuvUbc::FilterPrimary); // not kept without the retry bit
        logRecords(QStringLiteral("lost"), 1, -1);
        log->setFilterType(15);
        logRecords(QStringLiteral("kept"), RuvUbc::MaxQueuedRecords + 5);
        // No test before drops any.
        QVERIFY(!log->flush() && log->queuedRecords() == RuvUbc::MaxQueuedRecords && log->droppedRecords() == 5);
        // The failure, then the overflow.
        QVERIFY2(g_warnings.size() == 2 && g_warnings[0].contains(target), qPrintable(g_warnings.join('\n')));
        QVERIFY(QFile::remove(path(".blocker")) && log->flush());
        QCOMPARE(column(readLines(target)), sequence(0, RuvUbc::MaxQueuedRecords));

        // A new failure after recovery warns again: the file becomes a full disk.
        QVERIFY(QFile::remove(target) && QFile::link(QStringLiteral("/dev/full"), target) && log->flush());
        logRecords(QStringLiteral("full"), 1, 6);
        QVERIFY(log->queuedRecords() == 1 && g_warnings.size() == 3);
        QVERIFY(QFile::remove(target) && log->flush());
        QCOMPARE(column(readLines(target)), QStringList{"6"});

        // A line cut short by the file size limit: the fragment gets a line of
        // its own and the record is written again whole.
        struct rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const struct rlimit tight{rlim_t(QFileInfo(target).size() + 10), saved.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN); // the failed write is enough
        log->setFilterType(RuvUbc::FilterPrimary | RuvUbc::FilterRetry); // the limit binds the mirror too
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        logRecords(QStringLiteral("cut"), 1, 7);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
        QVERIFY(log->queuedRecords() == 1 && log->flush());
        QCOMPARE(column(readLines(target)), QStringList({"6", "", "7"}));
    }

    void concurrentWritersNeverTearLines()
    {
        // Lines of two threads never mix, and each thread's arrive in order.
        // Other processes on one file, killed or not: tst_logfaults.
        std::thread a(logRecords, QStringLiteral("t0"), 2000, 0), b(logRecords, QStringLiteral("t1"), 2000, 0);
        a.join();
        b.join();
        for (const char *code : {"t0", "t1"})
            QCOMPARE(column(readLines(m_primary), "fnname", code), sequence(0, 2000));
    }
};

QTEST_GUILESS_MAIN(TestRuvUbc)
#include "tst_ruvubc.moc"
