// Project records, the project's running time and the model-data statistics
// with their two commit roads, against the recording behaviour log, a tracker
// whose time the test sets and a helper object that journals what reaches it.

#include "KelUbcPrivate.h"
#include "RecordingTranslator.h"
#include "TestSupport.h"

#include <QtTest/QtTest>

#include <functional>
#include <limits>

typedef QMap<QString, QString> RuvUbcAttrType;
using Attrs = QMap<QString, QString>;

namespace {

KelUbc *ubc() { return KelUbc::instance(); }
KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }

// "key=value,key=value" in key order.
QString text(const Attrs &attrs)
{
    QStringList pairs;
    for (auto it = attrs.cbegin(); it != attrs.cend(); ++it)
        pairs << it.key() + QLatin1Char('=') + it.value();
    return pairs.join(QLatin1Char(','));
}

UBCMDStateInfo stored(quint64 code) { return d()->m_mdStates.value(qint64(code)); }

UBCMDStateInfo record(quint64 code, int state, int committed = 0, qint64 startTime = -1,
                      const Attrs &attrs = {})
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
        .arg(text(info.attrs));
}

void mdEvent(quint64 code, UbcMDEventType type, bool timing = false, QString key = QString(),
             QString value = QString())
{
    ubc()->sendMDByEvent(code, type, timing, key, value);
}

void commit(quint64 code, QString key = QString(), QString value = QString(), bool flag = false)
{
    ubc()->commitMD(code, key, value, flag);
}

Attrs one(const char *key, const char *value) { return {{QLatin1String(key), QLatin1String(value)}}; }

SOperation operation(const QString &projectId, int count = 0, qint64 size = 0)
{
    SOperation op;
    op.prjFullPath = QStringLiteral("/p/op.prj");
    op.prjEdoCnt = count;
    op.prjSize = size;
    op.projectId = projectId;
    return op;
}

// "fncode|fngroup|fnname|projectid|prjfullpath|prjedocnt|prjsize|duration|attributes"
QString projectFields(const UbcDataProtocol &r)
{
    return QStringList{r.fncode, r.fngroup, r.fnname, r.projectid, r.prjfullpath, r.prjedocnt, r.prjsize,
                       r.duration, text(r.attrs)}.join(QLatin1Char('|'));
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
        sent << QStringLiteral("%1:%2").arg(code).arg(text(attributes));
        context << QStringLiteral("%1/%2/%3").arg(RecordingLog::calls().size())
                       .arg(ManualTracker::calls().size()).arg(d()->m_location);
        if (reaction)
            reaction(code);
    }
};

class tst_ModelData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void beforeAnyProject();
    void stateRecords();
    void events();
    void durationArithmetic();
    void commitThroughCodedSend();
    void sentAtMostOnceAcrossRoads();
    void newOpenAndSave();
    void closeProject();

private:
    JournalHelper helper;
    RecordingTranslator translator;
};

void tst_ModelData::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false")); // record lines
    QCoreApplication::installTranslator(&translator);
    QVERIFY(ubc());
    qApp->setProperty("RuvUbcHelper", QVariant::fromValue<QObject *>(&helper));
}

void tst_ModelData::init()
{
    d()->m_mdStates.clear();
    d()->m_layer = QStringLiteral("L1");
    helper.sent.clear();
    helper.context.clear();
    helper.reaction = nullptr;
    ManualTracker::reset();
    RecordingLog::reset();
}

// The first test sees the library as it starts; every later one works in a
// project of a known key.
void tst_ModelData::cleanup() { d()->m_projectId = ProjectKey; }

void tst_ModelData::beforeAnyProject()
{
    // No project yet: the empty key, and a close measures nothing.
    QVERIFY(d()->m_projectId.isEmpty() && d()->m_projectOpenTime.isNull());
    ManualTracker::setWorkingTime(4321);
    ubc()->setProjRuningTime(5000);
    QCOMPARE(ubc()->getProjRuningTime(), qint64(4321));
    ubc()->closeProject(operation(QStringLiteral("X")));
    QCOMPARE(ManualTracker::calls().join(QLatin1Char(' ')), QStringLiteral("start::5000 get: remove:"));
    QCOMPARE(RecordingLog::records().constLast().duration, QStringLiteral("0"));
    QVERIFY(d()->m_projectId.isEmpty()); // a close never makes a project current
}

void tst_ModelData::stateRecords()
{
    QCOMPARE(fields(UBCMDStateInfo()).section(QLatin1Char('/'), 1), QStringLiteral("0/0/-1/;"));
    const QString key = QStringLiteral("k"), value = QStringLiteral("v");
    commit(1, key, value);
    QVERIFY(d()->m_mdStates.isEmpty());

    // Only state 1 comes out, committed or not; a code may differ from its key.
    // Timing began at 0, so a refused commit that read the tracker would show.
    ubc()->setProjMDInfo({{1, record(1, 0, 0, 0)}, {2, record(2, 1, 0, 5, one("old", "x"))},
                          {3, record(3, 1, 1, 0)}, {4, record(4, 2, 0, 0)}, {5, record(6, 1, 0, 0)},
                          {7, record(7, 7, 0, 0)}});
    QMap<quint64, UBCMDStateInfo> out = ubc()->getProjMDInfo();
    QCOMPARE(out.keys(), (QList<quint64>{2, 3, 5}));
    QCOMPARE(fields(out.value(3)) + fields(out.value(5)), QStringLiteral("3/1/1/0/;6/1/0/0/;"));

    // commitMD refuses any state but 1, a code that differs from its key and
    // committed 1, without reading the time or adding the attribute.
    for (quint64 code : {1, 3, 4, 5, 7})
        commit(code, key, value, true);
    QVERIFY(helper.sent.isEmpty());
    QVERIFY(ManualTracker::calls().isEmpty());
    for (const UBCMDStateInfo &info : qAsConst(d()->m_mdStates))
        QVERIFY(!info.attrs.contains(key));

    // A record handed in again replaces the stored one whole. Committed values
    // other than 0 and 1 do not stop commitMD, which leaves 1; the bool changes
    // nothing; a second commit sends nothing and keeps its attribute out.
    ubc()->setProjMDInfo({{2, record(2, 1, 2, -7, one("new", "y"))}, {10, record(10, 1, -1)}});
    QCOMPARE(fields(stored(2)), QStringLiteral("2/1/2/-7/new=y;"));
    QCOMPARE(d()->m_mdStates.size(), 7);
    commit(2, key, value, true);
    commit(10, key, value, false);
    commit(2, QStringLiteral("late"), value);
    QCOMPARE(helper.sent, (QStringList{QStringLiteral("2:k=v,new=y"), QStringLiteral("10:k=v")}));
    QCOMPARE(fields(stored(2)) + fields(stored(10)), QStringLiteral("2/1/1/-7/k=v,new=y;10/1/1/-1/k=v;"));

    // Codes at and above 2^63 are negative keys and come back unchanged.
    ubc()->setProjMDInfo({{Top, record(Top, 1)}, {Max, record(Max, 1)}});
    out = ubc()->getProjMDInfo();
    QCOMPARE(fields(out.value(Top)) + fields(out.value(Max)),
             QStringLiteral("%1/1/0/-1/;%2/1/0/-1/;").arg(Top).arg(Max));

    // Setting the running time drops every record; one handed in afterwards
    // stays, and is sendable again.
    ubc()->setProjRuningTime(-3);
    QVERIFY(d()->m_mdStates.isEmpty());
    QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("start:%1:-3").arg(ProjectKey)});
    ubc()->setProjMDInfo({{2, record(2, 1)}});
    commit(2);
    QCOMPARE(helper.sent.constLast(), QStringLiteral("2:"));
}

void tst_ModelData::events()
{
    // A first event: the type becomes the state, nothing else is set or sent.
    mdEvent(Max, UbcMDEventProjectClose);
    QCOMPARE(fields(stored(Max)), QString::number(Max) + QStringLiteral("/2/0/-1/;"));

    // Attributes accumulate, the later value wins, an empty key adds nothing.
    for (const char *kv : {"a1", "b2", "a3"})
        mdEvent(9, UbcMDEventCommit, false, QString(QLatin1Char(kv[0])), QString(QLatin1Char(kv[1])));
    mdEvent(9, UbcMDEventCommit, false, QLatin1String(""), QStringLiteral("lost"));
    QCOMPARE(fields(stored(9)), QStringLiteral("9/1/0/-1/a=3,b=2;"));

    // Timing reads the current project's working time; the later reading
    // wins, and an event without the flag keeps it.
    ManualTracker::setWorkingTime(700);
    mdEvent(9, UbcMDEventCommit, true);
    ManualTracker::setWorkingTime(5000000000000);
    mdEvent(9, UbcMDEventCommit, true);
    mdEvent(9, UbcMDEventCommit, false);
    QCOMPARE(ManualTracker::calls().join(QLatin1Char(' ')), QStringLiteral("get:%1 get:%1").arg(ProjectKey));

    // Any type is stored; a committed record takes events and stays committed.
    mdEvent(9, UbcMDEventType(5));
    QCOMPARE(fields(stored(9)), QStringLiteral("9/5/0/5000000000000/a=3,b=2;"));
    QVERIFY(!ubc()->getProjMDInfo().contains(9));
    ubc()->setProjMDInfo({{9, record(9, 1, 1)}});
    mdEvent(9, UbcMDEventCommit, true, QStringLiteral("c"), QStringLiteral("4"));
    QCOMPARE(fields(stored(9)), QStringLiteral("9/1/1/5000000000000/c=4;"));
    commit(9);
    QVERIFY(helper.sent.isEmpty());
}

void tst_ModelData::durationArithmetic()
{
    // Whole seconds of working time, truncated toward zero; timing that began
    // at 0 is timing all the same, and it overrides a caller's own "tjsc".
    const struct { qint64 start, now; const char *tjsc; } cases[] = {
        {1500, 4499, "2"}, {1500, 1400, "0"}, {1500, 0, "-1"}, {1500, 2500, "1"},
        {0, 2999, "2"}, {1500, 5000001500, "5000000"}};
    quint64 code = 100;
    for (const auto &c : cases) {
        ManualTracker::setWorkingTime(c.start);
        mdEvent(++code, UbcMDEventCommit, true, QStringLiteral("tjsc"), QStringLiteral("caller"));
        ManualTracker::setWorkingTime(c.now);
        ManualTracker::calls().clear();
        commit(code);
        QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("get:") + ProjectKey});
        QCOMPARE(helper.sent.constLast(), QStringLiteral("%1:tjsc=%2").arg(code).arg(c.tjsc));
    }

    // Without timing nothing is measured; a caller's own "tjsc" goes as given.
    ManualTracker::calls().clear();
    mdEvent(200, UbcMDEventCommit);
    commit(200, QStringLiteral("tjsc"), QStringLiteral("mine"));
    QVERIFY(ManualTracker::calls().isEmpty());
    QCOMPARE(helper.sent.constLast(), QStringLiteral("200:tjsc=mine"));
}

void tst_ModelData::commitThroughCodedSend()
{
    // The layer rule of the coded send applies; the record holds its result
    // already while the helper runs, and keeps what the helper adds meanwhile.
    d()->m_layer = QStringLiteral("L7");
    mdEvent(40, UbcMDEventCommit, false, QStringLiteral("Layer"), QStringLiteral("stale"));
    QString seenInside;
    helper.reaction = [&](quint64 code) {
        seenInside = fields(stored(code));
        mdEvent(code, UbcMDEventCommit, false, QStringLiteral("during"), QStringLiteral("x"));
    };
    commit(40, QStringLiteral("LAYER"), QStringLiteral("kept"));
    QCOMPARE(helper.sent, QStringList{QStringLiteral("40:LAYER=kept,layer=L7")});
    QCOMPARE(seenInside, QStringLiteral("40/1/0/-1/LAYER=kept,layer=L7;"));
    QCOMPARE(fields(stored(40)), QStringLiteral("40/1/1/-1/LAYER=kept,during=x,layer=L7;"));

    // A helper that empties the states ends both roads quietly.
    helper.reaction = [](quint64) { ubc()->setProjRuningTime(0); };
    mdEvent(41, UbcMDEventCommit);
    commit(41);
    mdEvent(42, UbcMDEventProjectClose);
    mdEvent(43, UbcMDEventProjectClose);
    ubc()->closeProject(SOperation());
    QCOMPARE(helper.sent.mid(1), (QStringList{QStringLiteral("41:"), QStringLiteral("42:")}));
    QVERIFY(d()->m_mdStates.isEmpty());
}

void tst_ModelData::sentAtMostOnceAcrossRoads()
{
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
    QCOMPARE(helper.sent, (QStringList{QStringLiteral("3:"), QStringLiteral("1:")}));
    ubc()->closeProject(SOperation());
    QCOMPARE(helper.sent.size(), 4);
    mdEvent(4, UbcMDEventCommit);
    commit(4);
    commit(1);
    ubc()->closeProject(SOperation());
    QCOMPARE(helper.sent, (QStringList{QStringLiteral("3:"), QStringLiteral("1:"), QStringLiteral("2:"),
                                       QStringLiteral("4:")}));
}

void tst_ModelData::newOpenAndSave()
{
    d()->m_layer = QStringLiteral("L3");

    // Both make their project current and start its open clock; only a new
    // project takes the path and the host's attributes, as they are.
    const QDateTime before = KelUbcPrivate::now();
    ubc()->newProject(operation(QStringLiteral("N-1"), 3, 4000), {{QStringLiteral("k1"), QStringLiteral("v1")},
                                                                   {QStringLiteral("k2"), QString()}});
    QVERIFY(d()->m_projectOpenTime >= before && d()->m_projectOpenTime <= KelUbcPrivate::now());
    QCOMPARE(d()->m_projectId, QStringLiteral("N-1"));
    d()->m_projectOpenTime = QDateTime();
    ubc()->openProject(operation(QStringLiteral("O-1"), 3, 4000));
    QVERIFY(d()->m_projectOpenTime.isValid());
    QCOMPARE(d()->m_projectId, QStringLiteral("O-1"));
    QVERIFY(ManualTracker::calls().isEmpty()); // neither starts the working time

    // Sizes in thousands, truncated toward zero; the record's own projectId.
    const struct { qint64 size; const char *logged; } sizes[] = {
        {1999, "1"}, {999, "0"}, {-1500, "-1"}, {5000000000999, "5000000000"}};
    for (const auto &s : sizes)
        ubc()->saveProject(operation(QStringLiteral("other"), 7, s.size));
    const QList<UbcDataProtocol> records = RecordingLog::records();
    QCOMPARE(records.size(), 6);
    QCOMPARE(projectFields(records[0]), QStringLiteral("990003|特殊功能|新建工程|N-1|/p/op.prj|||init-duration|k1=v1,k2="));
    QCOMPARE(projectFields(records[1]), QStringLiteral("990004|特殊功能|打开工程|O-1|init-path|||init-duration|"));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(projectFields(records[2 + i]),
                 QStringLiteral("990005|特殊功能|保存工程|other|init-path|7|%1|init-duration|").arg(sizes[i].logged));

    // After each save record, the count with the current layer; also when
    // the record is not logged.
    translator.overrides.insert(QStringLiteral("保存工程"), QLatin1String(""));
    ubc()->saveProject(operation(QStringLiteral("O-1"), -2));
    translator.overrides.clear();
    const QString count = QStringLiteral("580101004:layer=L3,prjedocnt=7");
    QCOMPARE(helper.sent, (QStringList{count, count, count, count, QStringLiteral("580101004:layer=L3,prjedocnt=-2")}));
    QCOMPARE(helper.context, (QStringList{QStringLiteral("12/0/"), QStringLiteral("16/0/"), QStringLiteral("20/0/"),
                                          QStringLiteral("24/0/"), QStringLiteral("25/0/")}));
}

void tst_ModelData::closeProject()
{
    ubc()->openProject(operation(ProjectKey));
    ubc()->setProjMDInfo({{20, record(20, 2, 0, 100, one("Layer", "raw"))}, {10, record(10, 2)},
                          {15, record(15, 1)}, {30, record(30, 2, 1)}, {35, record(35, 2, 2)},
                          {5, record(6, 2, 0, -1, one("b", "2"))}, {Top, record(Top, 2)}});
    d()->m_projectOpenTime = KelUbcPrivate::now().addMSecs(-125500); // margin against truncation
    d()->m_location = QStringLiteral("somewhere");
    ManualTracker::reset();
    RecordingLog::reset();

    // The record carries its own projectId; the current project's tracking ends.
    ubc()->closeProject(operation(QStringLiteral("other"), 3, 2500));
    QCOMPARE(RecordingLog::calls().join(QLatin1Char(' ')), QStringLiteral("init filter:15 log filter:0"));
    QCOMPARE(projectFields(RecordingLog::records().constLast()),
             QStringLiteral("990006|特殊功能|关闭工程|other|init-path|3|2|125|"));
    QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("remove:") + ProjectKey});

    // The waiting statistics, after the record and the cleared label and
    // before the removal: ascending signed keys, 2^63 the smallest, each under
    // its own code with its attributes as they stand (no layer rule, no duration).
    QCOMPARE(helper.sent, (QStringList{QString::number(Top) + QLatin1Char(':'), QStringLiteral("6:b=2"),
                                       QStringLiteral("10:"), QStringLiteral("20:Layer=raw")}));
    QCOMPARE(helper.context.join(QLatin1Char(' ')), QStringLiteral("4/0/ 4/0/ 4/0/ 4/0/"));
    // Nothing is removed; sent records are committed, the others untouched.
    QString committed; // in key order: 2^63, 5, 10, 15, 20, 30, 35
    for (const UBCMDStateInfo &info : qAsConst(d()->m_mdStates))
        committed += QString::number(info.committed);
    QCOMPARE(committed, QStringLiteral("1110112"));

    // A second close measures from the same open, sends nothing again and
    // removes the same key; the closed project stays current for the tracker.
    d()->m_projectOpenTime = d()->m_projectOpenTime.addSecs(-5);
    ubc()->closeProject(operation(QStringLiteral("other")));
    QCOMPARE(RecordingLog::records().constLast().duration, QStringLiteral("130"));
    QCOMPARE(helper.sent.size(), 4);
    ManualTracker::setWorkingTime(-1);
    QCOMPARE(ubc()->getProjRuningTime(), qint64(-1));
    QCOMPARE(ManualTracker::calls().join(QLatin1Char(' ')),
             QStringLiteral("remove:%1 remove:%1 get:%1").arg(ProjectKey));
    // A clock set back gives a negative duration.
    d()->m_projectOpenTime = KelUbcPrivate::now().addMSecs(5500);
    ubc()->closeProject(operation(ProjectKey));
    QCOMPARE(RecordingLog::records().constLast().duration, QStringLiteral("-5"));
}

QTEST_GUILESS_MAIN(tst_ModelData)
#include "tst_modeldata.moc"
