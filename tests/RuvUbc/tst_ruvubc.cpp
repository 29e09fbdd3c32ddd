#include "MessageCapture.h"
#include "TestLogs.h"

#include <RuvUbc.h>

#include <QtTest/QtTest>

#include <csignal>
#include <ctime>
#include <functional>
#include <thread>
#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <aclapi.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QStringList values(const UbcDataProtocol &r)
{
    return {r.pcode, r.fncode, r.fnname, r.fngroup, r.trigertime, r.gid, r.vername, r.ver, r.ver2, r.debug, r.usetype,
            r.utype, r.mac, r.hardwareid, r.ip, r.projectid, r.prjfullpath, r.prjtext, r.prjedocnt, r.prjsize, r.prjcost,
            r.regionrule, r.major, r.duration, r.sessionid};
}

// Logs records with this code, numbered from first in fnname; bracket sets
// the filter to 15 before and 0 after each, as KelUbc does.
void logRecords(const QString &code, int count = 1, int first = 0, bool bracket = false)
{
    for (int i = first; i < first + count; ++i) {
        UbcDataProtocol r;
        RuvUbc::instance()->initUbcDataProtocol(r);
        r.fncode = code;
        r.fnname = QString::number(i);
        if (bracket)
            RuvUbc::instance()->setFilterType(15);
        RuvUbc::instance()->logUbcDataProtocol(r);
        if (bracket)
            RuvUbc::instance()->setFilterType(0);
    }
}

// One key's values over the lines (those whose fncode is code, if given); a
// torn line has no fncode and an empty fnname.
QStringList column(const QList<QByteArray> &lines, const QString &key = "fnname", const QString &code = QString())
{
    return TestLogs::column(TestLogs::objects(lines), key, code);
}

using TestLogs::numbers;

// Logs r times over, and appends the line each must make, with "seq" 0.
void logAndExpect(UbcDataProtocol &r, int times, QList<QByteArray> *expected)
{
    for (int i = 0; i < times; ++i) {
        RuvUbc::instance()->logUbcDataProtocol(r);
        expected->append(RuvUbc::toJsonLine(r, 0).chopped(1));
    }
}

// The file's lines with each "seq" made 0.
QList<QByteArray> linesWithSeqZero(const QString &path)
{
    QList<QByteArray> lines = TestLogs::lines(path);
    for (QByteArray &line : lines) {
        const int at = line.indexOf("\"seq\":") + 6;
        line.replace(at, line.indexOf(',', at) - at, "0");
    }
    return lines;
}

// The lines' seqs in the file's order.
QList<qint64> seqs(const QList<QByteArray> &lines)
{
    QList<qint64> out;
    for (const QJsonObject &o : TestLogs::objects(lines))
        out << qint64(o.value(QStringLiteral("seq")).toDouble(-1));
    return out;
}

QStringList warnings() { return MessageCapture::texts(QtWarningMsg); }

} // namespace

class TestRuvUbc : public QObject
{
    Q_OBJECT

    RuvUbc *const log = RuvUbc::instance();
    QTemporaryDir m_root; // the mirror stays for the whole run
    QString m_primary;
    int m_mirrorStart = 0;
    QScopedPointer<MessageCapture> m_capture;

    // Each test's files are named after it.
    QString path(const char *suffix) const { return m_root.filePath(QTest::currentTestFunction() + QString(suffix)); }
    QList<QByteArray> mirrored() const { return TestLogs::lines(m_root.filePath(QStringLiteral("mirror.jsonl"))).mid(m_mirrorStart); }

private slots:
    // Before QTest restores the handler it found: a capture released after
    // the run would put QTest's back, and the library's last flush at exit
    // would log through it.
    void cleanupTestCase() { m_capture.reset(); }

    void initTestCase()
    {
        // A zone west of UTC by a half hour, without tzdata: the time's offset
        // has a sign and minutes to get wrong.
#ifndef Q_OS_WIN // Windows programs take the zone from the system, not from TZ
        qputenv("TZ", "NST3:30");
        tzset();
#endif
        m_capture.reset(new MessageCapture);
        log->addLogFilePath(m_root.filePath(QStringLiteral("mirror.jsonl")));
        log->addLogFilePath(m_root.filePath(QStringLiteral("mirror.jsonl"))); // ignored: the mirror gets each line once
    }

    void init()
    {
        m_primary = path(".jsonl");
        log->setLogFilePath(m_primary);
        log->setFilterType(15);
        log->setCollectionEnabled(true);
        MessageCapture::messages().clear();
        m_mirrorStart = TestLogs::lines(m_root.filePath(QStringLiteral("mirror.jsonl"))).size();
    }
    // Left-over records would move on to the next test's file.
    void cleanup() { QCOMPARE(log->queuedRecords(), 0); }

    void recordsParseBackInProtocolOrder()
    {
        UbcDataProtocol a, other;
        log->setProductCode(QStringLiteral("OTHER"));
        log->initUbcDataProtocol(other);
        // The code as it was set: the caller's data may change or go.
        QChar code[] = {QLatin1Char('K'), QLatin1Char('E'), QLatin1Char('L'), QLatin1Char('T'), QLatin1Char('E'),
                        QLatin1Char('S'), QLatin1Char('T')};
        log->setProductCode(QString::fromRawData(code, 7));
        code[0] = QLatin1Char('X');
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
        const QList<QByteArray> both = TestLogs::lines(m_primary);
        QCOMPARE(mirrored(), both);
        // Each record has its own number, the same in every file: (sessionid, seq) names it.
        const quint64 seq = QJsonDocument::fromJson(both.value(0)).object().value("seq").toVariant().toULongLong();
        QVERIFY(seq >= 1);
        QCOMPARE(both, (QList<QByteArray>{RuvUbc::toJsonLine(a, seq).chopped(1), RuvUbc::toJsonLine(other, seq + 1).chopped(1)}));
        const QByteArray line = both.value(0);
        // Lone surrogates parse back as U+FFFD (the escaping itself: below).
        const QChar bad(0xfffd);
        a.fngroup = QString(bad) + QLatin1Char('x') + bad + bad;
        a.attrs[QStringLiteral("k\"\n")] = bad;

        // Keys as they stand in the line, values as they parse back.
        const QStringList names = QStringLiteral("pcode fncode fnname fngroup trigertime gid vername ver ver2 debug usetype "
                                                 "utype mac hardwareid ip projectid prjfullpath prjtext prjedocnt prjsize "
                                                 "prjcost regionrule major duration sessionid").split(QLatin1Char(' '));
        QCOMPARE(RuvUbc::fieldNames(), names);
        QStringList keys, got;
        for (auto m = QRegularExpression(QStringLiteral("\"(\\w+)\":")).globalMatch(line); m.hasNext();)
            keys << m.next().captured(1);
        QCOMPARE(keys, names + QStringList({"seq", "attrs", "layer", "location"}));
        const QVariantMap o = QJsonDocument::fromJson(line).toVariant().toMap();
        for (const QString &name : names)
            got << o.value(name).toString();
        QCOMPARE(got, values(a));
        QCOMPARE(o.value("attrs").toMap(), (QVariantMap{{"layer", "L1"}, {"location", "Ribbon"}, {"k\"\n", a.attrs["k\"\n"]}}));
    }

    // ASCII is copied by blocks of units: a unit of every kind at every place
    // in strings around the block sizes is written as one unit at a time would.
    void escapingAtEveryPosition()
    {
        const auto expected = [](const QString &s) {
            QByteArray out;
            for (int i = 0; i < s.size(); ++i) {
                const char16_t c = s[i].unicode();
                const int named = QByteArray("\"\\\b\f\n\r\t").indexOf(char(c));
                if (c < 0x80 && named >= 0)
                    out += QByteArray("\\") + QByteArray("\"\\bfnrt").at(named);
                else if (c < 0x20 || c == 0xfeff)
                    out += "\\u" + QByteArray::number(c, 16).rightJustified(4, '0');
                else if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s[i + 1].isLowSurrogate())
                    out += s.mid(i++, 2).toUtf8();
                else if (QChar::isSurrogate(c))
                    out += "\xEF\xBF\xBD";
                else
                    out += QString(QChar(c)).toUtf8();
            }
            return out;
        };
        const QString odd[] = {"\"", "\\", "\n", QChar(1), QChar(0x1f), QChar(0x7f), QChar(0x80), QChar(0xff),
                               QChar(0x7ff), QChar(0x800), QChar(0x4e2d), QChar(0x8000), QChar(0xfeff), QChar(0xffff),
                               QChar(0xd800), QChar(0xdc00), QString::fromUcs4(U"😀")};
        UbcDataProtocol r;
        const QByteArray empty = RuvUbc::toJsonLine(r);
        for (const QString &unit : odd) {
            for (int size = 1; size <= 40; ++size) {
                for (int at = 0; at < size; ++at) {
                    QString s;
                    for (int i = 0; i < size; ++i)
                        s += i == at ? unit : QString(QChar('a' + i % 26));
                    r.fnname = s;
                    QByteArray line = empty;
                    line.replace("\"fnname\":\"\"", "\"fnname\":\"" + expected(s) + '"');
                    QCOMPARE(RuvUbc::toJsonLine(r), line);
                }
            }
        }
    }

    // A text that filled a field in the last records is written from bytes
    // kept for its string: each line must still hold what its record held.
    void sharedTextsFollowTheirStrings()
    {
        UbcDataProtocol r;
        log->initUbcDataProtocol(r);
        QString name = QString::fromUtf8("绘制轴网"), place = QString::fromUtf8("Ribbon工具栏");
        r.fnname = name;
        r.attrs.insert(QStringLiteral("location"), place);
        QList<QByteArray> expected; // with "seq" 0
        const auto send = [&](int times) { logAndExpect(r, times, &expected); };
        send(3);
        name[0] = QChar(0x753b); // copied before it changes: shared with the record
        r.fnname = name;
        send(3);
        r.fnname[1] = QLatin1Char('x');
        r.attrs[QStringLiteral("location")] = place.left(6);
        send(3);
        // The attributes kept whole (their value shared, as the facade's
        // are), then the same value under another key of the same size, one
        // more attribute, one fewer.
        const QString kept = r.attrs.value(QStringLiteral("location"));
        send(3);
        r.attrs.insert(QStringLiteral("locality"), r.attrs.take(QStringLiteral("location")));
        send(3);
        r.attrs.insert(QStringLiteral("zone"), kept);
        send(3);
        r.attrs.remove(QStringLiteral("zone"));
        send(3);
        r.attrs[QStringLiteral("locality")] = place;
        send(1);
        // A value Qt does not own is compared by its text: raw data changed
        // in place, under the very same string.
        QChar units[2] = {QLatin1Char('L'), QLatin1Char('1')};
        r.attrs.insert(QStringLiteral("layer"), QString::fromRawData(units, 2));
        send(3);
        units[1] = QLatin1Char('2');
        send(1);
        r.attrs.remove(QStringLiteral("layer"));
        // A kept text's string gone, and a new one of its size made where it
        // was: a field's own text, and a command's code among the recent
        // commands' texts.
        for (QString UbcDataProtocol::*field : {&UbcDataProtocol::pcode, &UbcDataProtocol::fncode}) {
            QString kept = QString::fromUtf8("AAAAAAA");
            r.*field = kept;
            send(3);
            r.*field = kept = QString();
            r.*field = kept = QString::fromUtf8("BBBBBBB");
            send(1);
        }
        // The same within the runs of fields kept whole: at a run's start, in
        // its middle and at its end. The field's first string is let go while
        // a run may still hold it: the field has moved on, and a change of
        // another field has put off making the runs again.
        const QString product = QString::fromUtf8("KELTEST");
        for (QString UbcDataProtocol::*field : {&UbcDataProtocol::gid, &UbcDataProtocol::ver, &UbcDataProtocol::sessionid}) {
            QString first = QString::fromUtf8("CCCCCCC"), second = QString::fromUtf8("DDDDDDD");
            r.pcode = product;
            r.*field = first;
            send(4); // kept by the second record, shared by the third, in a run from the fourth
            r.*field = second;
            send(1);
            r.pcode = product + QLatin1Char('x');
            send(1);
            r.*field = first = QString();
            r.*field = QString::fromUtf8("EEEEEEE");
            send(2);
        }
        // Strings Qt does not own join a run by their text: literals, as a
        // host names itself, and raw data changed in place under the very
        // same string, at a run's start, in its middle and at its end.
        r.vername = QStringLiteral("ubc-demo");
        r.ver = QStringLiteral("1.0.0");
        send(4);
        for (QString UbcDataProtocol::*field : {&UbcDataProtocol::gid, &UbcDataProtocol::ver, &UbcDataProtocol::sessionid}) {
            QChar units[3] = {QLatin1Char('R'), QLatin1Char('a'), QLatin1Char('w')};
            r.*field = QString::fromRawData(units, 3);
            send(4);
            units[1] = QChar(0x6570);
            send(2);
            r.*field = QString();
            send(1);
        }
        // And among a command's names.
        r.fnname = QStringLiteral("命令");
        QChar code[4] = {QLatin1Char('C'), QLatin1Char('O'), QLatin1Char('D'), QLatin1Char('E')};
        r.fncode = QString::fromRawData(code, 4);
        send(4);
        code[2] = QLatin1Char('X');
        send(2);
        r.fncode = QString();

        const QList<QByteArray> lines = linesWithSeqZero(m_primary);
        QCOMPARE(lines, expected);
    }

    // Texts kept by copy are compared by words from both ends, or whole when
    // long: a unit changed in place at any position of raw data of any length
    // up to past the longest kept, in a run's field, a command's code and an
    // attribute's value, makes a line of the new text.
    void textsComparedAtEveryUnit()
    {
        UbcDataProtocol r;
        log->initUbcDataProtocol(r);
        r.fnname = QStringLiteral("命令");
        QList<QByteArray> expected;
        const auto send = [&](int times) { logAndExpect(r, times, &expected); };
        // Each place with its longest text kept by copy, and two units past.
        const std::pair<std::function<void(const QString &)>, int> places[] = {
            {[&](const QString &s) { r.gid = s; }, 66},
            {[&](const QString &s) { r.fncode = s; }, 32},
            // The last of two attributes: each is compared, not only the first.
            {[&](const QString &s) { r.attrs = {{QStringLiteral("area"), QStringLiteral("A")}, {QStringLiteral("zone"), s}}; }, 18},
        };
        QChar units[66];
        for (const auto &[put, longest] : places) {
            for (int size = 1; size <= longest; ++size) {
                for (int at = 0; at < size; ++at) {
                    for (int i = 0; i < size; ++i)
                        units[i] = QChar(0x41 + (i + size) % 26);
                    put(QString::fromRawData(units, size));
                    send(4);
                    units[at] = QLatin1Char('#');
                    send(1);
                }
            }
            put(QString());
        }
        const QList<QByteArray> lines = linesWithSeqZero(m_primary);
        QCOMPARE(lines.size(), expected.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i] == expected[i], expected[i].constData());
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
        QVERIFY(log->filterType() == 15 && !log->isCollectionEnabled() && log->queuedRecords() == 0 && warnings().isEmpty());
        for (int id : ids)
            log->removeListener(id);
        QCOMPARE(heard, QStringList({"4", "15", "a", "self", "b", "b+"}));
        QCOMPARE(column(TestLogs::lines(m_primary), "fncode"), QStringList({"1", "15", "a", "b"}));
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
        log->setMaxQueuedBytes(qint64(64) << 20); // the record count binds here
        logRecords(QStringLiteral("kept"), RuvUbc::MaxQueuedRecords + 5);
        // No test before drops any.
        QVERIFY(!log->flush() && log->queuedRecords() == RuvUbc::MaxQueuedRecords && log->droppedRecords() == 5);
        // The failure, then the overflow.
        QVERIFY2(warnings().size() == 2 && warnings()[0].contains(target), qPrintable(warnings().join('\n')));
        QVERIFY(QFile::remove(path(".blocker")) && log->flush());
        log->setMaxQueuedBytes(RuvUbc::DefaultMaxQueuedBytes);
        QCOMPARE(column(TestLogs::lines(target)), numbers(0, RuvUbc::MaxQueuedRecords));

#ifdef Q_OS_WIN
        QSKIP("no device files and no file size limit on Windows");
#else
        // A new failure after recovery warns again: a device at the path is refused.
        QVERIFY(log->flush() && QFile::remove(target) && QFile::link(QStringLiteral("/dev/full"), target) && log->flush());
        logRecords(QStringLiteral("full"), 1, 6);
        QVERIFY(log->queuedRecords() == 1 && warnings().size() == 3);
        QVERIFY(QFile::remove(target) && log->flush());
        QCOMPARE(column(TestLogs::lines(target)), QStringList{"6"});

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
        QCOMPARE(column(TestLogs::lines(target)), QStringList({"6", "", "7"}));
#endif
    }

    // A link, FIFO or someone else's file at the path is refused with one
    // warning, never written through; the records wait for the real file.
    void onlyOwnRegularFilesAreWritten()
    {
        const QString target = path(".target"), fifo = path(".fifo");
        QVERIFY(QFile(target).open(QIODevice::WriteOnly));
        const auto refused = [&](const QString &stage) {
            logRecords(stage, 2);
            QVERIFY2(log->queuedRecords() == 2 && warnings().size() == 1 && warnings()[0].contains(m_primary),
                     qPrintable(stage + warnings().join('\n')));
            QVERIFY(QFile::remove(m_primary) && log->flush() && warnings().size() == 1);
            QCOMPARE(column(TestLogs::lines(m_primary), "fncode"), QStringList({stage, stage}));
            QVERIFY(QFile::remove(m_primary) && log->flush());
            MessageCapture::messages().clear();
        };
#ifdef Q_OS_WIN
        // New folders and the file grant this user alone, nothing inherited.
        const auto ownerOnly = [](const QString &file, QByteArray *why) {
            PACL dacl = nullptr;
            PSECURITY_DESCRIPTOR sd = nullptr;
            SECURITY_DESCRIPTOR_CONTROL control = 0;
            DWORD revision = 0;
            const bool read = GetNamedSecurityInfoW(QDir::toNativeSeparators(file).toStdWString().c_str(), SE_FILE_OBJECT,
                                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd)
                              == ERROR_SUCCESS && GetSecurityDescriptorControl(sd, &control, &revision);
            *why = file.toUtf8() + ": " + QByteArray::number(dacl ? dacl->AceCount : -1) + " entries, control "
                   + QByteArray::number(control, 16);
            LocalFree(sd);
            return read && dacl && dacl->AceCount == 1 && (control & SE_DACL_PROTECTED);
        };
        // Wine, for one, keeps no DACL but makes one up from the file's mode.
        QByteArray why;
        QVERIFY(QDir().mkdir(path(".probe")));
        if (!ownerOnly(path(".probe"), &why)) {
            HANDLE probe = CreateFileW(QDir::toNativeSeparators(path(".probe")).toStdWString().c_str(), READ_CONTROL | WRITE_DAC,
                                       0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            PACL dacl = nullptr;
            PSECURITY_DESCRIPTOR sd = nullptr;
            GetSecurityInfo(probe, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd);
            // Set a DACL of one entry; a file system that keeps it reads it back so.
            EXPLICIT_ACCESS_W one = {};
            BuildExplicitAccessWithNameW(&one, const_cast<wchar_t *>(L"CURRENT_USER"), GENERIC_ALL, SET_ACCESS, NO_INHERITANCE);
            PACL mine = nullptr;
            SetEntriesInAclW(1, &one, nullptr, &mine);
            SetSecurityInfo(probe, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, mine, nullptr);
            CloseHandle(probe);
            LocalFree(mine);
            LocalFree(sd);
            if (!ownerOnly(path(".probe"), &why))
                QSKIP("this file system keeps no DACLs");
        }
        log->setLogFilePath(path(".new/a/records.jsonl"));
        logRecords(QStringLiteral("acl"));
        for (const char *made : {".new", ".new/a", ".new/a/records.jsonl"})
            QVERIFY2(ownerOnly(path(made), &why), why.constData());
        log->setLogFilePath(m_primary);
        QFile::remove(m_primary);
        // A symbolic link (QFile::link makes a shortcut there), dangling:
        // refused, its target not made.
        const std::wstring linkPath = QDir::toNativeSeparators(m_primary).toStdWString();
        const std::wstring nothing = QDir::toNativeSeparators(path(".nothing")).toStdWString();
        const DWORD linkAttributes = CreateSymbolicLinkW(linkPath.c_str(), nothing.c_str(), 0)
                                         ? GetFileAttributesW(linkPath.c_str()) : INVALID_FILE_ATTRIBUTES;
        if (linkAttributes == INVALID_FILE_ATTRIBUTES || !(linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            QSKIP("symbolic links cannot be made here (Wine makes none)");
        refused(QStringLiteral("dangling"));
        QVERIFY(!QFile::exists(path(".nothing")));
#else
        // Planted before the first open, dangling: refused, its target not made.
        QVERIFY(QFile::link(path(".nothing"), m_primary));
        refused(QStringLiteral("dangling"));
        QVERIFY(!QFile::exists(path(".nothing")));
        // Swapped in while the file is open: noticed at the next check.
        logRecords(QStringLiteral("open"));
        QVERIFY(QFile::rename(m_primary, path(".old")) && QFile::link(target, m_primary) && log->flush());
        refused(QStringLiteral("swapped"));
        QCOMPARE(QFileInfo(target).size(), 0);
        // A FIFO with a reader (without one it cannot even be opened).
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0 && QFile::rename(fifo, m_primary));
        refused(QStringLiteral("fifo"));
        char byte;
        QCOMPARE(::read(reader, &byte, 1), ssize_t(0));
        ::close(reader);
        if (geteuid() == 0) { // another user's file
            QVERIFY(QFile(m_primary).open(QIODevice::WriteOnly) && ::chown(QFile::encodeName(m_primary).constData(), 65534, 65534) == 0);
            refused(QStringLiteral("foreign"));
        }

        // New folders are 0700 and the file 0600, whatever the umask.
        const mode_t saved = ::umask(0);
        log->setLogFilePath(path(".new/a/records.jsonl"));
        logRecords(QStringLiteral("umask"));
        ::umask(saved);
        QList<int> modes;
        for (const char *made : {".new", ".new/a", ".new/a/records.jsonl"})
            modes << (int(QFileInfo(path(made)).permissions()) & 0x7777);
        QCOMPARE(modes, (QList<int>{0x7700, 0x7700, 0x6600}));

        // Mirrors reaching the primary or the first mirror through a linked
        // folder: one line per record in each file.
        log->setLogFilePath(m_primary);
        QVERIFY(QFile::link(m_root.path(), path(".alias")));
        log->addLogFilePath(path(".alias/") + QFileInfo(m_primary).fileName());
        log->addLogFilePath(path(".alias/mirror.jsonl"));
        logRecords(QStringLiteral("alias"), 3);
        QCOMPARE(column(TestLogs::lines(m_primary), "fnname", "alias"), numbers(0, 3));
        QCOMPARE(column(mirrored(), "fnname", "alias"), numbers(0, 3));
#endif
    }

    // Long, heavily escaped records: a failing path's queue stays under its
    // byte bound, and what it drops is counted.
    void queueBoundedInBytes()
    {
        QVERIFY(QFile(path(".blocker")).open(QIODevice::WriteOnly));
        log->setLogFilePath(path(".blocker/records.jsonl"));
        log->setFilterType(RuvUbc::FilterPrimary | RuvUbc::FilterRetry);
        const quint64 droppedBefore = log->droppedRecords();
        UbcDataProtocol r;
        r.fnname = QString(10000, QChar(1)); // 60,000 bytes escaped
        const qint64 lineSize = RuvUbc::toJsonLine(r, 1).size();
        for (int i = 0; i < 200; ++i)
            log->logUbcDataProtocol(r);
        const int queued = log->queuedRecords();
        QVERIFY2(queued > 0 && queued * lineSize <= RuvUbc::DefaultMaxQueuedBytes, qPrintable(QString::number(queued)));
        QCOMPARE(log->droppedRecords() - droppedBefore, quint64(200 - queued));
        log->setMaxQueuedBytes(3 * lineSize + 100); // a lower bound drops the newest at once
        QCOMPARE(log->queuedRecords(), 3);
        log->setMaxQueuedBytes(RuvUbc::DefaultMaxQueuedBytes);
        QVERIFY(QFile::remove(path(".blocker")) && log->flush());
        QCOMPARE(TestLogs::lines(path(".blocker/records.jsonl")).size(), 3);
    }

    // Records written into a removed file before the check notices are
    // counted and warned about; the next record goes to a new file.
    void removedFileCounted()
    {
        logRecords(QStringLiteral("before"));
        QVERIFY(log->flush());
        const quint64 droppedBefore = log->droppedRecords();
        QVERIFY(QFile::remove(m_primary));
#ifdef Q_OS_WIN
        // Older Windows, and Wine, keep a removed file's name until its last
        // handle closes; nothing tells it from the live file then.
        if (GetFileAttributesW(QDir::toNativeSeparators(m_primary).toStdWString().c_str()) != INVALID_FILE_ATTRIBUTES)
            QSKIP("a removed file keeps its name while open here");
#endif
        logRecords(QStringLiteral("gone"), 5); // within the check's second
        QVERIFY(log->flush());
        QCOMPARE(log->droppedRecords() - droppedBefore, quint64(5));
        QVERIFY2(warnings().size() == 1 && warnings()[0].contains(QStringLiteral("removed")), qPrintable(warnings().join('\n')));
        logRecords(QStringLiteral("after"));
        QCOMPARE(column(TestLogs::lines(m_primary), "fncode"), QStringList{"after"});
    }

    // A file put in place of a mirror's, ending in part of a line: the check
    // that keeps each file written once opens it, and the next line still
    // starts on a line of its own.
    void replacedMirrorEndingInFragment()
    {
        const QString mirror = m_root.filePath(QStringLiteral("mirror.jsonl"));
        logRecords(QStringLiteral("before"));
        QVERIFY(QFile::rename(mirror, mirror + QStringLiteral(".old")));
        QFile fragment(mirror);
        QVERIFY(fragment.open(QIODevice::WriteOnly) && fragment.write("{\"fncode\":\"cut") > 0);
        fragment.close();
        QTest::qWait(1100); // past the check's second
        logRecords(QStringLiteral("after"), 2);
        const QList<QByteArray> lines = TestLogs::lines(mirror);
        QCOMPARE(lines.value(0), QByteArray("{\"fncode\":\"cut"));
        QCOMPARE(column(lines.mid(1)), numbers(0, 2));
        QCOMPARE(column(TestLogs::lines(m_primary), "fncode"), QStringList({"before", "after", "after"}));
    }

    void seqPutRightWhenAnotherThreadCameBetween()
    {
        // A thread's line is written with the seq after its own last one;
        // another thread's line in between takes that one, and the line gets
        // the next, here a digit longer: up to a power of ten, one line of
        // another thread, then this thread's.
        logRecords(QStringLiteral("up"));
        qint64 last = seqs(TestLogs::lines(m_primary)).constLast();
        qint64 ten = 10;
        while (ten < last + 3)
            ten *= 10;
        logRecords(QStringLiteral("up"), int(ten - 2 - last));
        std::thread other(logRecords, QStringLiteral("other"), 1, 0, false);
        other.join();
        logRecords(QStringLiteral("after"));
        const QList<QByteArray> lines = TestLogs::lines(m_primary);
        QCOMPARE(seqs(lines.mid(lines.size() - 3)), QList<qint64>({ten - 2, ten - 1, ten}));
        QCOMPARE(column(lines.mid(lines.size() - 2), "fncode"), QStringList({"other", "after"}));
    }

    void concurrentWritersNeverTearLines()
    {
        // Lines of two threads never mix, and each thread's arrive in order.
        // Other processes on one file, killed or not: tst_logfaults.
        std::thread a(logRecords, QStringLiteral("t0"), 2000, 0, false), b(logRecords, QStringLiteral("t1"), 2000, 0, false);
        a.join();
        b.join();
        for (const char *code : {"t0", "t1"})
            QCOMPARE(column(TestLogs::lines(m_primary), "fnname", code), numbers(0, 2000));
        // A line takes its seq as it reaches the file: they follow one
        // another in the file's order, whichever thread wrote them.
        const QList<qint64> taken = seqs(TestLogs::lines(m_primary));
        QCOMPARE(taken.size(), 4000);
        for (int i = 1; i < taken.size(); ++i)
            QCOMPARE(taken[i], taken[i - 1] + 1);

        // Each thread has its own filter: a thread that never set one logs
        // while this one holds 0, and brackets never swallow each other's records.
        log->setFilterType(0);
        std::thread fresh(logRecords, QStringLiteral("fresh"), 10, 0, false);
        fresh.join();
        logRecords(QStringLiteral("held"));
        std::thread c(logRecords, QStringLiteral("b0"), 3000, 0, true), d(logRecords, QStringLiteral("b1"), 3000, 0, true);
        c.join();
        d.join();
        QCOMPARE(log->filterType(), 0);
        const QList<QByteArray> lines = TestLogs::lines(m_primary);
        QCOMPARE(column(lines, "fnname", "fresh"), numbers(0, 10));
        QCOMPARE(column(lines, "fnname", "held"), QStringList());
        for (const char *code : {"b0", "b1"})
            QCOMPARE(column(lines, "fnname", code), numbers(0, 3000));
    }
};

QTEST_GUILESS_MAIN(TestRuvUbc)
#include "tst_ruvubc.moc"
