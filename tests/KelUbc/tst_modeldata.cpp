// Model-data statistics: the state records, their events and the two commit
// roads, against a tracker whose time the test sets and a helper object that
// journals what reaches it.

#include "KelUbcPrivate.h"
#include "TestSupport.h"

#include <QtTest/QtTest>

#include <functional>
#include <limits>

typedef QMap<QString, QString> RuvUbcAttrType;

// The host's helper object as the library finds it: journals each coded
// event and may react inside the call, as a host's helper is free to.
class JournalHelper : public QObject
{
    Q_OBJECT
public:
    struct Call
    {
        quint64 code;
        bool withAttrs;
        RuvUbcAttrType attrs;
    };
    QList<Call> calls;
    std::function<void(quint64)> reaction;

    QList<quint64> codes() const
    {
        QList<quint64> out;
        for (const Call &c : calls)
            out << c.code;
        return out;
    }

    Q_INVOKABLE void sendData(quint64 code) { journal({code, false, {}}); }
    Q_INVOKABLE void sendData(quint64 code, RuvUbcAttrType attributes) { journal({code, true, attributes}); }
    Q_INVOKABLE void recordTime(quint64 code) { journal({code, false, {{QStringLiteral("recordTime"), {}}}}); }

private:
    void journal(const Call &call)
    {
        calls << call;
        if (reaction)
            reaction(call.code);
    }
};

using Attrs = QMap<QString, QString>;

namespace {

KelUbc *ubc() { return KelUbc::instance(); }
KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }

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
    void recordType();
    void accessors();
    void events();
    void commitRefusals();
    void durationArithmetic();
    void commitThroughCodedSend();
    void helperCallingBack();
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
    RecordingLog::reset();
}

void tst_ModelData::recordType()
{
    const UBCMDStateInfo fresh;
    QCOMPARE(fresh.state, 0);
    QCOMPARE(fresh.committed, 0);
    QCOMPARE(fresh.startTime, qint64(-1));
    QVERIFY(fresh.attrs.isEmpty());

    UBCMDStateInfo source = record(Max, 2, 1, 77, {{QStringLiteral("a"), QStringLiteral("1")}});
    const UBCMDStateInfo copy(source);
    QCOMPARE(copy.code, Max);
    QCOMPARE(copy.attrs, source.attrs);

    // A move takes the attributes and leaves the scalars behind unchanged.
    UBCMDStateInfo moved(std::move(source));
    QCOMPARE(moved.attrs.size(), 1);
    QVERIFY(source.attrs.isEmpty());
    QCOMPARE(source.code, Max);
    QCOMPARE(source.state, 2);
    QCOMPARE(source.committed, 1);
    QCOMPARE(source.startTime, qint64(77));
    UBCMDStateInfo assigned;
    assigned = std::move(moved);
    QVERIFY(moved.attrs.isEmpty());
    QCOMPARE(moved.startTime, qint64(77));
    QCOMPARE(assigned.attrs, copy.attrs);
    assigned = fresh;
    QVERIFY(assigned.attrs.isEmpty());
    QCOMPARE(assigned.startTime, qint64(-1));
}

void tst_ModelData::accessors()
{
    QVERIFY(ubc()->getProjMDInfo().isEmpty());
    ubc()->setProjMDInfo({});
    QVERIFY(d()->m_mdStates.isEmpty());

    // Only state 1 comes out, committed or not; a code may differ from its key.
    ubc()->setProjMDInfo({{1, record(1, 0)},
                          {2, record(2, 1, 0, 5, {{QStringLiteral("old"), QStringLiteral("x")}})},
                          {3, record(3, 1, 1)},
                          {4, record(4, 2)},
                          {5, record(6, 1)},
                          {7, record(7, 7)}});
    QMap<quint64, UBCMDStateInfo> out = ubc()->getProjMDInfo();
    QCOMPARE(out.keys(), (QList<quint64>{2, 3, 5}));
    QCOMPARE(out.value(3).committed, 1);
    QCOMPARE(out.value(5).code, quint64(6));
    QCOMPARE(out.value(2).startTime, qint64(5));

    // A record handed in again replaces the stored one whole.
    ubc()->setProjMDInfo({{2, record(2, 1, 2, -7, {{QStringLiteral("new"), QStringLiteral("y")}})}});
    const UBCMDStateInfo replaced = d()->m_mdStates.value(2);
    QCOMPARE(replaced.attrs, (Attrs{{QStringLiteral("new"), QStringLiteral("y")}}));
    QCOMPARE(replaced.committed, 2);
    QCOMPARE(replaced.startTime, qint64(-7));
    QCOMPARE(d()->m_mdStates.size(), 6);
    QCOMPARE(d()->m_mdStates.value(4).state, 2);

    // Codes at and above 2^63 are negative keys and come back unchanged.
    ubc()->setProjMDInfo({{Top, record(Top, 1)}, {Max, record(Max, 1)}});
    QCOMPARE(d()->m_mdStates.firstKey(), std::numeric_limits<qint64>::min());
    QVERIFY(d()->m_mdStates.contains(-1));
    out = ubc()->getProjMDInfo();
    QVERIFY(out.contains(Top));
    QVERIFY(out.contains(Max));
    QCOMPARE(out.value(Max).code, Max);
    QVERIFY(ManualTracker::calls().isEmpty());
    QVERIFY(helper.calls.isEmpty());
}

void tst_ModelData::events()
{
    // A first event: the type becomes the state, nothing else is set or sent.
    mdEvent(Max, UbcMDEventProjectClose);
    const UBCMDStateInfo first = d()->m_mdStates.value(-1);
    QCOMPARE(first.code, Max);
    QCOMPARE(first.state, 2);
    QCOMPARE(first.committed, 0);
    QCOMPARE(first.startTime, qint64(-1));
    QVERIFY(first.attrs.isEmpty());
    QVERIFY(ManualTracker::calls().isEmpty());

    // Attributes accumulate, the later value wins, an empty key adds nothing.
    mdEvent(9, UbcMDEventCommit, false, QStringLiteral("a"), QStringLiteral("1"));
    mdEvent(9, UbcMDEventCommit, false, QStringLiteral("b"), QStringLiteral("2"));
    mdEvent(9, UbcMDEventCommit, false, QStringLiteral("a"), QStringLiteral("3"));
    mdEvent(9, UbcMDEventCommit, false, QLatin1String(""), QStringLiteral("lost"));
    mdEvent(9, UbcMDEventCommit, false, QString(), QStringLiteral("lost"));
    QCOMPARE(d()->m_mdStates.value(9).attrs,
             (Attrs{{QStringLiteral("a"), QStringLiteral("3")}, {QStringLiteral("b"), QStringLiteral("2")}}));

    // Timing reads the current project's working time; the later reading wins,
    // and an event without the flag keeps it.
    ManualTracker::setWorkingTime(700);
    mdEvent(9, UbcMDEventCommit, true);
    QCOMPARE(d()->m_mdStates.value(9).startTime, qint64(700));
    ManualTracker::setWorkingTime(5000000000000);
    mdEvent(9, UbcMDEventCommit, true);
    ManualTracker::setWorkingTime(1);
    mdEvent(9, UbcMDEventCommit, false);
    QCOMPARE(d()->m_mdStates.value(9).startTime, qint64(5000000000000));
    QCOMPARE(ManualTracker::calls(), (QStringList{QStringLiteral("get:") + ProjectKey, QStringLiteral("get:") + ProjectKey}));

    // Any type is stored; a committed record takes events and stays committed.
    mdEvent(9, UbcMDEventType(5));
    QCOMPARE(d()->m_mdStates.value(9).state, 5);
    QVERIFY(!ubc()->getProjMDInfo().contains(9));
    ubc()->setProjMDInfo({{9, record(9, 1, 1)}});
    mdEvent(9, UbcMDEventCommit, true, QStringLiteral("c"), QStringLiteral("4"));
    QCOMPARE(d()->m_mdStates.value(9).committed, 1);
    QCOMPARE(d()->m_mdStates.value(9).startTime, qint64(1));
    commit(9);
    QVERIFY(helper.calls.isEmpty());
}

void tst_ModelData::commitRefusals()
{
    const QString key = QStringLiteral("k");
    const QString value = QStringLiteral("v");

    commit(1, key, value);
    QVERIFY(d()->m_mdStates.isEmpty());

    ubc()->setProjMDInfo({{2, record(2, 0, 0, 0)}, {3, record(3, 2, 0, 0)},
                          {5, record(6, 1, 0, 0)}, {7, record(7, 1, 1, 0)}});
    for (quint64 code : {2, 3, 5, 7})
        commit(code, key, value, true);
    QVERIFY(helper.calls.isEmpty());
    QVERIFY(ManualTracker::calls().isEmpty());
    for (const UBCMDStateInfo &info : qAsConst(d()->m_mdStates)) {
        QVERIFY(info.attrs.isEmpty());
        QVERIFY(info.committed == 0 || info.code == 7);
    }

    // Committed values other than 0 and 1 do not stop commitMD; it leaves 1.
    ubc()->setProjMDInfo({{8, record(8, 1, 2)}, {10, record(10, 1, -1)}});
    commit(8, key, value, true);
    commit(10, key, value, false);
    QCOMPARE(helper.codes(), (QList<quint64>{8, 10}));
    QCOMPARE(d()->m_mdStates.value(8).committed, 1);
    QCOMPARE(d()->m_mdStates.value(10).committed, 1);
    QCOMPARE(helper.calls[0].attrs, helper.calls[1].attrs); // the bool changes nothing

    // A second commit sends nothing and keeps its attribute out.
    commit(8, QStringLiteral("late"), value);
    QCOMPARE(helper.calls.size(), 2);
    QVERIFY(!d()->m_mdStates.value(8).attrs.contains(QStringLiteral("late")));
}

void tst_ModelData::durationArithmetic()
{
    // Whole seconds of working time, truncated toward zero.
    // {start, commit, "tjsc"}; timing that began at 0 is timing all the same.
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
        const QString expected = QLatin1String(c.tjsc);
        QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("get:") + ProjectKey});
        QCOMPARE(helper.calls.constLast().code, code);
        QCOMPARE(helper.calls.constLast().attrs.value(QStringLiteral("tjsc")), expected);
        QCOMPARE(d()->m_mdStates.value(qint64(code)).attrs.value(QStringLiteral("tjsc")), expected);
    }

    // Without timing no duration is measured; a caller's own "tjsc" goes as given.
    ManualTracker::calls().clear();
    mdEvent(200, UbcMDEventCommit);
    commit(200, QStringLiteral("tjsc"), QStringLiteral("mine"));
    mdEvent(201, UbcMDEventCommit);
    commit(201);
    QVERIFY(ManualTracker::calls().isEmpty());
    QCOMPARE(helper.calls[helper.calls.size() - 2].attrs,
             (Attrs{{QStringLiteral("tjsc"), QStringLiteral("mine")}}));
    QVERIFY(helper.calls.constLast().withAttrs);
    QVERIFY(helper.calls.constLast().attrs.isEmpty());
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
    const Attrs normalised{{QStringLiteral("a"), QStringLiteral("1")}, {QStringLiteral("layer"), QStringLiteral("L7")}};
    QCOMPARE(helper.calls.size(), 2);
    QVERIFY(helper.calls[0].withAttrs);
    QCOMPARE(helper.calls[0].attrs, normalised);
    QCOMPARE(d()->m_mdStates.value(30).attrs, normalised);
    const Attrs second{{QStringLiteral("LAYER"), QStringLiteral("kept")}, {QStringLiteral("layer"), QStringLiteral("L7")}};
    QCOMPARE(helper.calls[1].attrs, second);
    QCOMPARE(d()->m_mdStates.value(31).attrs, second);
    QCOMPARE(d()->m_mdStates.value(31).state, 1);
    QCOMPARE(ubc()->getProjMDInfo().value(31).committed, 1);
}

void tst_ModelData::helperCallingBack()
{
    // What the helper does to the statistic while it is being sent stays, on
    // top of the record as it was sent.
    d()->m_layer = QStringLiteral("L2");
    mdEvent(40, UbcMDEventCommit, false, QStringLiteral("Layer"), QString());
    Attrs seenInside;
    helper.reaction = [&](quint64 code) {
        seenInside = d()->m_mdStates.value(qint64(code)).attrs;
        mdEvent(code, UbcMDEventCommit, false, QStringLiteral("during"), QStringLiteral("x"));
    };
    commit(40);
    QCOMPARE(seenInside, (Attrs{{QStringLiteral("layer"), QStringLiteral("L2")}}));
    QCOMPARE(d()->m_mdStates.value(40).attrs,
             (Attrs{{QStringLiteral("during"), QStringLiteral("x")}, {QStringLiteral("layer"), QStringLiteral("L2")}}));
    QCOMPARE(d()->m_mdStates.value(40).committed, 1);

    // A helper that empties the states ends both roads quietly.
    helper.reaction = [](quint64) { ubc()->setProjRuningTime(0); };
    mdEvent(41, UbcMDEventCommit);
    commit(41);
    QVERIFY(d()->m_mdStates.isEmpty());
    mdEvent(42, UbcMDEventProjectClose);
    mdEvent(43, UbcMDEventProjectClose);
    ubc()->closeProject(SOperation());
    QCOMPARE(helper.codes(), (QList<quint64>{40, 41, 42}));
    QVERIFY(d()->m_mdStates.isEmpty());
}

void tst_ModelData::commitAtClose()
{
    d()->m_layer = QStringLiteral("L9");
    ubc()->setProjMDInfo({{20, record(20, 2, 0, 100, {{QStringLiteral("Layer"), QStringLiteral("raw")}})},
                          {10, record(10, 2)},
                          {15, record(15, 1)},
                          {30, record(30, 2, 1)},
                          {35, record(35, 2, 2)},
                          {5, record(6, 2, 0, -1, {{QStringLiteral("b"), QStringLiteral("2")}})},
                          {Top, record(Top, 2)}});
    ManualTracker::setWorkingTime(99000);
    ubc()->closeProject(SOperation());

    // Ascending signed keys: 2^63 is the smallest; each is sent under its own code.
    QCOMPARE(helper.codes(), (QList<quint64>{Top, 6, 10, 20}));
    for (const auto &call : qAsConst(helper.calls))
        QVERIFY(call.withAttrs);
    QCOMPARE(helper.calls[1].attrs, (Attrs{{QStringLiteral("b"), QStringLiteral("2")}}));
    QCOMPARE(helper.calls[3].attrs, (Attrs{{QStringLiteral("Layer"), QStringLiteral("raw")}}));
    QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("remove:") + ProjectKey});

    // Nothing is removed; sent records are committed, the others untouched.
    QCOMPARE(d()->m_mdStates.size(), 7);
    for (qint64 key : {qint64(Top), qint64(5), qint64(10), qint64(20)})
        QCOMPARE(d()->m_mdStates.value(key).committed, 1);
    QCOMPARE(d()->m_mdStates.value(15).committed, 0);
    QCOMPARE(d()->m_mdStates.value(35).committed, 2);
    QCOMPARE(d()->m_mdStates.value(20).attrs, (Attrs{{QStringLiteral("Layer"), QStringLiteral("raw")}}));

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
    QVERIFY(d()->m_mdStates.isEmpty());
    QVERIFY(ubc()->getProjMDInfo().isEmpty());
    QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("start:%1:-3").arg(ProjectKey)});
    commit(50);
    commit(51);
    ubc()->closeProject(SOperation());
    QVERIFY(helper.calls.isEmpty());
    QVERIFY(d()->m_mdStates.isEmpty());

    // Records handed in after the restart stay, and are sendable again.
    ubc()->setProjMDInfo({{50, record(50, 1)}});
    QCOMPARE(ubc()->getProjMDInfo().size(), 1);
    commit(50);
    QCOMPARE(helper.codes(), QList<quint64>{50});
}

QTEST_GUILESS_MAIN(tst_ModelData)
#include "tst_modeldata.moc"
