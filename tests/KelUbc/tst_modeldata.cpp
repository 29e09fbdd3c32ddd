// Model-data statistics: the state records, their events and the two commit
// roads, against a tracker whose time the test sets and a helper object that
// journals what reaches it.

#include "KelUbcPrivate.h"
#include "TestSupport.h"

#include <QtTest/QtTest>

#include <functional>
#include <limits>

typedef QMap<QString, QString> RuvUbcAttrType;
using Attrs = QMap<QString, QString>;

// The host's helper as the library finds it. Only the two-argument sendData
// exists: any other call fails and is missing from the journal. It may react
// inside the call, as a host's helper is free to.
class JournalHelper : public QObject
{
    Q_OBJECT
public:
    QList<QPair<quint64, Attrs>> calls;
    std::function<void(quint64)> reaction;

    QList<quint64> codes() const
    {
        QList<quint64> out;
        for (const auto &c : calls)
            out << c.first;
        return out;
    }
    Q_INVOKABLE void sendData(quint64 code, RuvUbcAttrType attributes)
    {
        calls.append({code, attributes});
        if (reaction)
            reaction(code);
    }
};

namespace {

KelUbc *ubc() { return KelUbc::instance(); }
KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
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
Attrs two(const char *k1, const char *v1, const char *k2, const char *v2)
{
    Attrs map = one(k1, v1);
    map.insert(QLatin1String(k2), QLatin1String(v2));
    return map;
}

const quint64 Top = quint64(1) << 63;
const quint64 Max = std::numeric_limits<quint64>::max();
const QString ProjectKey = QStringLiteral("工程-md");

} // namespace

class tst_ModelData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void recordTypeAndAccessors();
    void events();
    void commitRefusals();
    void durationArithmetic();
    void commitThroughCodedSend();
    void commitAtClose();
    void sentAtMostOnceAcrossRoads();
    void runningTimeEmptiesStates();

private:
    JournalHelper helper;
};

void tst_ModelData::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false")); // record lines
    QVERIFY(ubc());
    qApp->setProperty("RuvUbcHelper", QVariant::fromValue<QObject *>(&helper));
}

void tst_ModelData::init()
{
    d()->m_mdStates.clear();
    d()->m_projectId = ProjectKey;
    d()->m_layer = QStringLiteral("L1");
    helper.calls.clear();
    helper.reaction = nullptr;
    ManualTracker::reset();
}

void tst_ModelData::recordTypeAndAccessors()
{
    const UBCMDStateInfo fresh;
    QCOMPARE(fresh.state, 0);
    QCOMPARE(fresh.committed, 0);
    QCOMPARE(fresh.startTime, qint64(-1));
    QVERIFY(fresh.attrs.isEmpty());
    // A move takes the attributes and leaves the scalars behind.
    UBCMDStateInfo source = record(Max, 2, 1, 77, one("a", "1"));
    UBCMDStateInfo moved(std::move(source));
    QVERIFY(source.attrs.isEmpty());
    QCOMPARE(source.code, Max);
    QCOMPARE(source.startTime, qint64(77));
    UBCMDStateInfo assigned;
    assigned = std::move(moved);
    QVERIFY(moved.attrs.isEmpty());
    QCOMPARE(assigned.attrs, one("a", "1"));

    QVERIFY(ubc()->getProjMDInfo().isEmpty());
    // Only state 1 comes out, committed or not; a code may differ from its key.
    ubc()->setProjMDInfo({{1, record(1, 0)}, {2, record(2, 1, 0, 5, one("old", "x"))},
                          {3, record(3, 1, 1)}, {4, record(4, 2)}, {5, record(6, 1)}, {7, record(7, 7)}});
    QMap<quint64, UBCMDStateInfo> out = ubc()->getProjMDInfo();
    QCOMPARE(out.keys(), (QList<quint64>{2, 3, 5}));
    QCOMPARE(out.value(3).committed, 1);
    QCOMPARE(out.value(5).code, quint64(6));

    // A record handed in again replaces the stored one whole.
    ubc()->setProjMDInfo({{2, record(2, 1, 2, -7, one("new", "y"))}});
    QCOMPARE(stored(2).attrs, one("new", "y"));
    QCOMPARE(stored(2).committed, 2);
    QCOMPARE(stored(2).startTime, qint64(-7));
    QCOMPARE(d()->m_mdStates.size(), 6);

    // Codes at and above 2^63 are negative keys and come back unchanged.
    ubc()->setProjMDInfo({{Top, record(Top, 1)}, {Max, record(Max, 1)}});
    QCOMPARE(d()->m_mdStates.firstKey(), std::numeric_limits<qint64>::min());
    QVERIFY(d()->m_mdStates.contains(-1));
    out = ubc()->getProjMDInfo();
    QVERIFY(out.contains(Top));
    QCOMPARE(out.value(Max).code, Max);
    QVERIFY(ManualTracker::calls().isEmpty());
    QVERIFY(helper.calls.isEmpty());
}

void tst_ModelData::events()
{
    // A first event: the type becomes the state, nothing else is set or sent.
    mdEvent(Max, UbcMDEventProjectClose);
    QCOMPARE(stored(Max).code, Max);
    QCOMPARE(stored(Max).state, 2);
    QCOMPARE(stored(Max).startTime, qint64(-1));
    QVERIFY(stored(Max).attrs.isEmpty());
    QVERIFY(ManualTracker::calls().isEmpty());

    // Attributes accumulate, the later value wins, an empty key adds nothing.
    mdEvent(9, UbcMDEventCommit, false, QStringLiteral("a"), QStringLiteral("1"));
    mdEvent(9, UbcMDEventCommit, false, QStringLiteral("b"), QStringLiteral("2"));
    mdEvent(9, UbcMDEventCommit, false, QStringLiteral("a"), QStringLiteral("3"));
    mdEvent(9, UbcMDEventCommit, false, QLatin1String(""), QStringLiteral("lost"));
    mdEvent(9, UbcMDEventCommit, false, QString(), QStringLiteral("lost"));
    QCOMPARE(stored(9).attrs, two("a", "3", "b", "2"));

    // Timing reads the current project's working time; the later reading
    // wins, and an event without the flag keeps it.
    ManualTracker::setWorkingTime(700);
    mdEvent(9, UbcMDEventCommit, true);
    QCOMPARE(stored(9).startTime, qint64(700));
    ManualTracker::setWorkingTime(5000000000000);
    mdEvent(9, UbcMDEventCommit, true);
    mdEvent(9, UbcMDEventCommit, false);
    QCOMPARE(stored(9).startTime, qint64(5000000000000));
    const QString get = QStringLiteral("get:") + ProjectKey;
    QCOMPARE(ManualTracker::calls(), (QStringList{get, get}));

    // Any type is stored; a committed record takes events and stays committed.
    mdEvent(9, UbcMDEventType(5));
    QCOMPARE(stored(9).state, 5);
    QVERIFY(!ubc()->getProjMDInfo().contains(9));
    ubc()->setProjMDInfo({{9, record(9, 1, 1)}});
    mdEvent(9, UbcMDEventCommit, true, QStringLiteral("c"), QStringLiteral("4"));
    QCOMPARE(stored(9).committed, 1);
    QCOMPARE(stored(9).attrs, one("c", "4"));
    commit(9);
    QVERIFY(helper.calls.isEmpty());
}

void tst_ModelData::commitRefusals()
{
    const QString key = QStringLiteral("k"), value = QStringLiteral("v");
    commit(1, key, value);
    QVERIFY(d()->m_mdStates.isEmpty());

    // No record, state 0, state 2, a code that differs from its key, committed 1.
    ubc()->setProjMDInfo({{2, record(2, 0, 0, 0)}, {3, record(3, 2, 0, 0)},
                          {5, record(6, 1, 0, 0)}, {7, record(7, 1, 1, 0)}});
    for (quint64 code : {2, 3, 5, 7})
        commit(code, key, value, true);
    QVERIFY(helper.calls.isEmpty());
    QVERIFY(ManualTracker::calls().isEmpty());
    for (const UBCMDStateInfo &info : qAsConst(d()->m_mdStates))
        QVERIFY(info.attrs.isEmpty());
    QCOMPARE(stored(5).committed, 0);

    // Committed values other than 0 and 1 do not stop commitMD; it leaves 1.
    ubc()->setProjMDInfo({{8, record(8, 1, 2)}, {10, record(10, 1, -1)}});
    commit(8, key, value, true);
    commit(10, key, value, false);
    QCOMPARE(helper.codes(), (QList<quint64>{8, 10}));
    QCOMPARE(helper.calls[0].second, helper.calls[1].second); // the bool changes nothing
    QCOMPARE(stored(8).committed, 1);
    QCOMPARE(stored(10).committed, 1);

    // A second commit sends nothing and keeps its attribute out.
    commit(8, QStringLiteral("late"), value);
    QCOMPARE(helper.calls.size(), 2);
    QVERIFY(!stored(8).attrs.contains(QStringLiteral("late")));
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
        QCOMPARE(helper.calls.constLast().first, code);
        QCOMPARE(helper.calls.constLast().second, one("tjsc", c.tjsc));
        QCOMPARE(stored(code).attrs, one("tjsc", c.tjsc));
    }

    // Without timing nothing is measured; a caller's own "tjsc" goes as given.
    ManualTracker::calls().clear();
    mdEvent(200, UbcMDEventCommit);
    commit(200, QStringLiteral("tjsc"), QStringLiteral("mine"));
    mdEvent(201, UbcMDEventCommit);
    commit(201);
    QVERIFY(ManualTracker::calls().isEmpty());
    QCOMPARE(helper.calls[helper.calls.size() - 2].second, one("tjsc", "mine"));
    QCOMPARE(helper.calls.constLast(), qMakePair(quint64(201), Attrs()));
}

void tst_ModelData::commitThroughCodedSend()
{
    // The layer rule of the coded send applies, and the record keeps its result.
    d()->m_layer = QStringLiteral("L7");
    mdEvent(30, UbcMDEventCommit, false, QStringLiteral("Layer"), QStringLiteral("stale"));
    mdEvent(30, UbcMDEventCommit, false, QStringLiteral("a"), QStringLiteral("1"));
    mdEvent(31, UbcMDEventCommit, false, QStringLiteral("layer"), QStringLiteral("stale"));
    commit(30);
    commit(31, QStringLiteral("LAYER"), QStringLiteral("kept"));
    const Attrs first = two("a", "1", "layer", "L7");
    const Attrs second = two("LAYER", "kept", "layer", "L7");
    QCOMPARE(helper.calls, (QList<QPair<quint64, Attrs>>{{30, first}, {31, second}}));
    QCOMPARE(stored(30).attrs, first);
    QCOMPARE(ubc()->getProjMDInfo().value(31).attrs, second);

    // While the helper runs the record already holds the normalised map, and
    // what the helper adds to it meanwhile stays.
    d()->m_layer = QStringLiteral("L2");
    mdEvent(40, UbcMDEventCommit, false, QStringLiteral("Layer"), QString());
    Attrs seenInside;
    helper.reaction = [&](quint64 code) {
        seenInside = stored(code).attrs;
        mdEvent(code, UbcMDEventCommit, false, QStringLiteral("during"), QStringLiteral("x"));
    };
    commit(40);
    QCOMPARE(seenInside, one("layer", "L2"));
    QCOMPARE(stored(40).attrs, two("during", "x", "layer", "L2"));
    QCOMPARE(stored(40).committed, 1);

    // A helper that empties the states ends both roads quietly.
    helper.reaction = [](quint64) { ubc()->setProjRuningTime(0); };
    mdEvent(41, UbcMDEventCommit);
    commit(41);
    QVERIFY(d()->m_mdStates.isEmpty());
    mdEvent(42, UbcMDEventProjectClose);
    mdEvent(43, UbcMDEventProjectClose);
    ubc()->closeProject(SOperation());
    QCOMPARE(helper.codes(), (QList<quint64>{30, 31, 40, 41, 42}));
    QVERIFY(d()->m_mdStates.isEmpty());
}

void tst_ModelData::commitAtClose()
{
    d()->m_layer = QStringLiteral("L9");
    ubc()->setProjMDInfo({{20, record(20, 2, 0, 100, one("Layer", "raw"))}, {10, record(10, 2)},
                          {15, record(15, 1)}, {30, record(30, 2, 1)}, {35, record(35, 2, 2)},
                          {5, record(6, 2, 0, -1, one("b", "2"))}, {Top, record(Top, 2)}});
    ubc()->closeProject(SOperation());

    // Ascending signed keys, 2^63 the smallest; each under its own code, its
    // attributes as they stand: no layer rule, no duration.
    QCOMPARE(helper.calls, (QList<QPair<quint64, Attrs>>{
                               {Top, {}}, {6, one("b", "2")}, {10, {}}, {20, one("Layer", "raw")}}));
    QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("remove:") + ProjectKey});

    // Nothing is removed; sent records are committed, the others untouched.
    QCOMPARE(d()->m_mdStates.size(), 7);
    for (quint64 code : {Top, quint64(5), quint64(10), quint64(20)})
        QCOMPARE(stored(code).committed, 1);
    QCOMPARE(stored(15).committed, 0);
    QCOMPARE(stored(35).committed, 2);
    QCOMPARE(stored(20).attrs, one("Layer", "raw"));

    ubc()->closeProject(SOperation());
    QCOMPARE(helper.calls.size(), 4);
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
    QCOMPARE(helper.codes(), (QList<quint64>{3, 1}));
    ubc()->closeProject(SOperation());
    QCOMPARE(helper.codes(), (QList<quint64>{3, 1, 2, 4}));

    mdEvent(4, UbcMDEventCommit);
    commit(4);
    commit(1);
    ubc()->closeProject(SOperation());
    QCOMPARE(helper.calls.size(), 4);
}

void tst_ModelData::runningTimeEmptiesStates()
{
    ubc()->setProjMDInfo({{50, record(50, 1)}, {Top, record(Top, 2)}});
    mdEvent(51, UbcMDEventCommit, true);
    ManualTracker::calls().clear();
    ubc()->setProjRuningTime(-3);
    QVERIFY(ubc()->getProjMDInfo().isEmpty());
    QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("start:%1:-3").arg(ProjectKey)});
    commit(50);
    commit(51);
    ubc()->closeProject(SOperation());
    QVERIFY(helper.calls.isEmpty());
    QVERIFY(d()->m_mdStates.isEmpty());

    // Records handed in after the restart stay, and are sendable again.
    ubc()->setProjMDInfo({{50, record(50, 1)}});
    commit(50);
    QCOMPARE(helper.codes(), QList<quint64>{50});
}

QTEST_GUILESS_MAIN(tst_ModelData)
#include "tst_modeldata.moc"
