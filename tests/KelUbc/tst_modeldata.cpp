// Project records, the project's running time and the model-data statistics
// with their two commit roads, against the recording behaviour log, a tracker
// whose time the test sets and a helper object that journals what reaches it.

#include "Facade.h"
#include "RecordingTranslator.h"

#include <QtTest/QtTest>

#include <functional>
#include <limits>

typedef QMap<QString, QString> RuvUbcAttrType; // the helper's parameter type, by name

namespace {

UBCMDStateInfo record(quint64 code, int state, int committed = 0, qint64 startTime = -1,
                      const RuvUbcAttrType &attrs = {})
{
    UBCMDStateInfo info;
    info.code = code;
    info.state = state;
    info.committed = committed;
    info.startTime = startTime;
    info.attrs = attrs;
    return info;
}

// "code/state/committed/startTime/attributes;" of a state record.
QString fields(const UBCMDStateInfo &info)
{
    return QStringLiteral("%1/%2/%3/%4/%5;").arg(info.code).arg(info.state).arg(info.committed).arg(info.startTime)
        .arg(pairs(info.attrs, QLatin1Char(',')));
}

UBCMDStateInfo stored(quint64 code) { return ubc()->getProjMDInfo().value(code); }

// Every record waiting for commitMD, in code order.
QString states()
{
    QString out;
    for (const UBCMDStateInfo &info : ubc()->getProjMDInfo())
        out += fields(info);
    return out;
}

void mdEvent(quint64 code, UbcMDEventType type, bool timing = false, QString key = {}, QString value = {})
{
    ubc()->sendMDByEvent(code, type, timing, key, value);
}

void commit(quint64 code, QString key = {}, QString value = {}, bool flag = false)
{
    ubc()->commitMD(code, key, value, flag);
}

RuvUbcAttrType one(const char *key, const char *value) { return {{QLatin1String(key), QLatin1String(value)}}; }

SOperation operation(const QString &id, int count = 0, qint64 size = 0)
{
    return {QStringLiteral("/p/op.prj"), 0, count, size, id};
}

// "fncode|fngroup|fnname|projectid|prjfullpath|prjedocnt|prjsize|duration|attributes"
QString projectFields(const UbcDataProtocol &r)
{
    return QStringList{r.fncode, r.fngroup, r.fnname, r.projectid, r.prjfullpath, r.prjedocnt, r.prjsize,
                       r.duration, pairs(r.attrs, QLatin1Char(','))}.join(QLatin1Char('|'));
}

const quint64 Top = quint64(1) << 63;
const quint64 Max = std::numeric_limits<quint64>::max();
const QString ProjectKey = QStringLiteral("工程-md");

} // namespace

// The host's helper as the library finds it. Only the two-argument sendData
// exists: any other call fails and is missing from the journal. It may react
// inside the call, as a host's helper is free to.
class JournalHelper : public QObject
{
    Q_OBJECT
public:
    QStringList sent;    // "code:attributes"
    QStringList context; // "behaviour-log calls/tracker calls/location label" at each send
    std::function<void(quint64)> reaction;

    Q_INVOKABLE void sendData(quint64 code, RuvUbcAttrType attributes)
    {
        sent << QStringLiteral("%1:%2").arg(code).arg(pairs(attributes, QLatin1Char(',')));
        context << QStringLiteral("%1/%2/%3").arg(RecordingLog::calls().size())
                       .arg(ManualTracker::calls().size()).arg(pendingLocation());
        if (reaction)
            reaction(code);
    }
};

class tst_ModelData : public QObject
{
    Q_OBJECT

    JournalHelper helper;
    RecordingTranslator translator;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.info=false")); // record lines
        QCoreApplication::installTranslator(&translator);
        qApp->setProperty("RuvUbcHelper", QVariant::fromValue<QObject *>(&helper));
    }

    void init()
    {
        ubc()->setProjRuningTime(0);
        helper.sent.clear();
        helper.context.clear();
        helper.reaction = nullptr;
        ManualTracker::reset();
        RecordingLog::reset();
    }

    // The first test sees the library as it starts; every later one works in
    // a project of a known key.
    void cleanup() { ubc()->openProject(operation(ProjectKey)); }

    void beforeAnyProject()
    {
        // No project yet: a close measures nothing and ends the empty key.
        ubc()->closeProject(operation(QStringLiteral("X")));
        QCOMPARE(RecordingLog::records().constLast().duration, QStringLiteral("0"));
        QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("remove:")});
    }

    void stateRecords()
    {
        // Only state 1 comes out, committed or not; a code may differ from its
        // key; codes at and above 2^63 are negative keys and come back unchanged.
        ubc()->setProjMDInfo({{1, record(1, 0, 0, 0)}, {2, record(2, 1, 0, 5, one("old", "x"))},
                              {3, record(3, 1, 1, 0)}, {4, record(4, 2, 0, 0)}, {5, record(6, 1, 0, 0)},
                              {7, record(7, 7, 0, 0)}, {Max, record(Max, 1)}});
        const QMap<quint64, UBCMDStateInfo> out = ubc()->getProjMDInfo();
        QCOMPARE(out.keys(), (QList<quint64>{2, 3, 5, Max}));
        QCOMPARE(fields(out.value(3)) + fields(out.value(5)) + fields(out.value(Max)),
                 QStringLiteral("3/1/1/0/;6/1/0/0/;%1/1/0/-1/;").arg(Max));

        // commitMD refuses a missing record, any state but 1, a code that differs
        // from its key and committed 1, touching nothing. Timing began at 0, so a
        // refusal that read the tracker would show.
        const QString before = states();
        for (quint64 code : {1, 3, 4, 5, 7, 8})
            commit(code, QStringLiteral("k"), QStringLiteral("v"), true);
        QCOMPARE(states(), before);
        QVERIFY(helper.sent.isEmpty() && ManualTracker::calls().isEmpty());

        // A record handed in again replaces the stored one whole. Committed values
        // other than 0 and 1 do not stop commitMD, which leaves 1; the bool changes
        // nothing.
        ubc()->setProjMDInfo({{2, record(2, 1, 2, -7, one("new", "y"))}, {10, record(10, 1, -1)}});
        commit(2, QStringLiteral("k"), QStringLiteral("v"), true);
        commit(10, QStringLiteral("k"), QStringLiteral("v"), false);
        QCOMPARE(joined(helper.sent), QStringLiteral("2:k=v,new=y 10:k=v"));
        QCOMPARE(fields(stored(2)) + fields(stored(10)), QStringLiteral("2/1/1/-7/k=v,new=y;10/1/1/-1/k=v;"));

        // Setting the running time drops every record.
        ubc()->setProjRuningTime(-3);
        QVERIFY(ubc()->getProjMDInfo().isEmpty());
        QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("start:%1:-3").arg(ProjectKey)});
    }

    void eventsAndTiming()
    {
        // The type becomes the state, whatever it is; attributes accumulate, the
        // later value wins, an empty key adds nothing. Timing reads the current
        // project's working time, the later reading wins and an event without
        // the flag keeps it. Nothing is sent.
        for (const char *kv : {"a1", "b2", "a3"})
            mdEvent(9, UbcMDEventCommit, false, QString(QLatin1Char(kv[0])), QString(QLatin1Char(kv[1])));
        mdEvent(9, UbcMDEventCommit, false, QLatin1String(""), QStringLiteral("lost"));
        ManualTracker::setWorkingTime(700);
        mdEvent(9, UbcMDEventCommit, true);
        ManualTracker::setWorkingTime(5000000000000);
        mdEvent(9, UbcMDEventCommit, true);
        mdEvent(9, UbcMDEventType(5));
        QCOMPARE(states(), QString());
        mdEvent(9, UbcMDEventCommit);
        QCOMPARE(states(), QStringLiteral("9/1/0/5000000000000/a=3,b=2;"));
        QVERIFY(helper.sent.isEmpty());

        // Whole seconds of working time, truncated toward zero; timing that began
        // at 0 is timing all the same, and it overrides a caller's own "tjsc".
        // Without timing (start -1) nothing is measured and the caller's goes.
        const struct { qint64 start, now; const char *tjsc; } cases[] = {
            {1500, 4499, "2"}, {1500, 1400, "0"}, {1500, 0, "-1"}, {1500, 2500, "1"},
            {0, 2999, "2"}, {1500, 5000001500, "5000000"}, {-1, 9999, "caller"}};
        quint64 code = 100;
        for (const auto &c : cases) {
            ManualTracker::setWorkingTime(c.start);
            mdEvent(++code, UbcMDEventCommit, c.start >= 0, QStringLiteral("tjsc"), QStringLiteral("caller"));
            ManualTracker::setWorkingTime(c.now);
            commit(code);
            QCOMPARE(helper.sent.constLast(), QStringLiteral("%1:tjsc=%2").arg(code).arg(c.tjsc));
        }
        // Two timed events above, then one reading at each timed event and its
        // commit, all under the project's key.
        QCOMPARE(ManualTracker::calls().count(QStringLiteral("get:") + ProjectKey), 14);
    }

    void commitRoads()
    {
        // A statistic is sent at most once across both roads, and later events
        // move it from one road to the other.
        mdEvent(1, UbcMDEventProjectClose); // moved to commitMD
        mdEvent(1, UbcMDEventCommit);
        mdEvent(2, UbcMDEventCommit);       // moved to the close
        mdEvent(2, UbcMDEventProjectClose);
        mdEvent(3, UbcMDEventCommit);       // committed, then made to wait for the close
        commit(3);
        mdEvent(3, UbcMDEventProjectClose);
        mdEvent(4, UbcMDEventProjectClose); // sent at the close, then made committable
        commit(1);
        commit(2);
        QCOMPARE(joined(helper.sent), QStringLiteral("3: 1:"));
        ubc()->closeProject(SOperation());
        mdEvent(4, UbcMDEventCommit);
        commit(4);
        commit(1);
        ubc()->closeProject(SOperation());
        QCOMPARE(joined(helper.sent), QStringLiteral("3: 1: 2: 4:"));

        // The layer rule of the coded send applies; the record holds its result
        // already while the helper runs, and keeps what the helper adds meanwhile.
        ubc()->setCurLayer(QStringLiteral("L7"));
        mdEvent(40, UbcMDEventCommit, false, QStringLiteral("Layer"), QStringLiteral("stale"));
        QString seenInside;
        helper.reaction = [&](quint64 code) {
            seenInside = fields(stored(code));
            mdEvent(code, UbcMDEventCommit, false, QStringLiteral("during"), QStringLiteral("x"));
        };
        commit(40, QStringLiteral("LAYER"), QStringLiteral("kept"));
        QCOMPARE(helper.sent.constLast(), QStringLiteral("40:LAYER=kept,layer=L7"));
        QCOMPARE(seenInside, QStringLiteral("40/1/0/-1/LAYER=kept,layer=L7;"));
        QCOMPARE(fields(stored(40)), QStringLiteral("40/1/1/-1/LAYER=kept,during=x,layer=L7;"));

        // A helper that empties the states ends both roads quietly.
        helper.reaction = [](quint64) { ubc()->setProjRuningTime(0); };
        mdEvent(41, UbcMDEventCommit);
        commit(41);
        mdEvent(42, UbcMDEventProjectClose);
        mdEvent(43, UbcMDEventProjectClose);
        ubc()->closeProject(SOperation());
        QCOMPARE(joined(helper.sent.mid(5)), QStringLiteral("41: 42:"));
    }

    void newOpenAndSave()
    {
        // Both make their project current (their open clock: closeProject()),
        // but do not start its working time; only a new project takes the path
        // and the host's attributes, as they are.
        ubc()->setCurLayer(QStringLiteral("L3"));
        ubc()->newProject(operation(QStringLiteral("N-1"), 3, 4000), {{QStringLiteral("k1"), QStringLiteral("v1")},
                                                                       {QStringLiteral("k2"), QString()}});
        ubc()->getProjRuningTime();
        ubc()->openProject(operation(QStringLiteral("O-1"), 3, 4000));
        ubc()->getProjRuningTime();
        QCOMPARE(ManualTracker::calls(), (QStringList{QStringLiteral("get:N-1"), QStringLiteral("get:O-1")}));

        // Sizes in thousands, truncated toward zero; the record's own projectId.
        // After each save record, the count with the current layer; also when the
        // record is not logged.
        QStringList expected{QStringLiteral("990003|特殊功能|新建工程|N-1|/p/op.prj|||init-duration|k1=v1,k2="),
                             QStringLiteral("990004|特殊功能|打开工程|O-1|init-path|||init-duration|")};
        const struct { qint64 size; const char *logged; } sizes[] = {
            {1999, "1"}, {999, "0"}, {-1500, "-1"}, {5000000000999, "5000000000"}};
        for (const auto &s : sizes) {
            ubc()->saveProject(operation(QStringLiteral("other"), 7, s.size));
            expected << QStringLiteral("990005|特殊功能|保存工程|other|init-path|7|%1|init-duration|").arg(s.logged);
        }
        translator.overrides.insert(QStringLiteral("保存工程"), QLatin1String(""));
        ubc()->saveProject(operation(QStringLiteral("O-1"), -2));
        translator.overrides.clear();
        QStringList logged;
        for (const UbcDataProtocol &r : RecordingLog::records())
            logged << projectFields(r);
        QCOMPARE(logged, expected);
        QCOMPARE(joined(helper.sent),
                 QStringLiteral("%1=7 %1=7 %1=7 %1=7 %1=-2").arg(QLatin1String("580101004:layer=L3,prjedocnt")));
        QCOMPARE(joined(helper.context), QStringLiteral("12/2/ 16/2/ 20/2/ 24/2/ 25/2/"));
    }

    void closeProject()
    {
        ubc()->setProjMDInfo({{20, record(20, 2, 0, 100, one("Layer", "raw"))}, {10, record(10, 2)},
                              {15, record(15, 1)}, {30, record(30, 2, 1)}, {35, record(35, 2, 2)},
                              {5, record(6, 2, 0, -1, one("b", "2"))}, {Top, record(Top, 2)}});
        ubc()->newProject(operation(ProjectKey), {}); // its open clock starts
        advanceClock(125500); // margin against truncation
        pressQuickBar();

        // The record carries its own projectId.
        ubc()->closeProject(operation(QStringLiteral("other"), 3, 2500));
        QCOMPARE(projectFields(RecordingLog::records().constLast()),
                 QStringLiteral("990006|特殊功能|关闭工程|other|init-path|3|2|125|"));

        // The waiting statistics, after the record and the cleared label and
        // before the removal: ascending signed keys, 2^63 the smallest, each under
        // its own code with its attributes as they stand (no layer rule, no
        // duration). Nothing is removed; sent records are committed (the later
        // closes send nothing), the others untouched.
        const QString sent = QString::number(Top) + QStringLiteral(": 6:b=2 10: 20:Layer=raw");
        QCOMPARE(joined(helper.sent), sent);
        QCOMPARE(joined(helper.context), QStringLiteral("8/0/ 8/0/ 8/0/ 8/0/"));
        QCOMPARE(states(), QStringLiteral("15/1/0/-1/;"));

        // A second close measures from the same open; a clock set back gives a
        // negative duration. Each close ends the current project's tracking, and
        // the closed project stays current for the tracker.
        advanceClock(5000);
        ubc()->closeProject(operation(QStringLiteral("other")));
        ubc()->openProject(operation(ProjectKey)); // so does an open's
        advanceClock(-5500);
        ubc()->closeProject(operation(QStringLiteral("other")));
        QCOMPARE(RecordingLog::records()[2].duration + RecordingLog::records()[4].duration, QStringLiteral("130-5"));
        QCOMPARE(joined(helper.sent), sent);
        ManualTracker::setWorkingTime(-1);
        QCOMPARE(ubc()->getProjRuningTime(), qint64(-1));
        QCOMPARE(joined(ManualTracker::calls()),
                 QStringLiteral("remove:%1 remove:%1 remove:%1 get:%1").arg(ProjectKey));
    }
};

QTEST_GUILESS_MAIN(tst_ModelData)
#include "tst_modeldata.moc"
