// Project records, the project's running time and the close with its
// statistics, against the recording behaviour log, a tracker whose time the
// test sets and a helper object that journals what reaches it.

#include "KelUbcPrivate.h"
#include "RecordingTranslator.h"
#include "TestSupport.h"

#include <QtTest/QtTest>

typedef QMap<QString, QString> RuvUbcAttrType;

// Journals each coded event with what the behaviour log and the tracker had
// been asked by then, so that the order of effects can be checked. Only the
// two-argument sendData exists: any other call fails and is missing here.
class JournalHelper : public QObject
{
    Q_OBJECT
public:
    struct Call
    {
        quint64 code;
        RuvUbcAttrType attrs;
        int logCallsBefore;
        int trackerCallsBefore;
        QString location;
    };
    QList<Call> calls;

    Q_INVOKABLE void sendData(quint64 code, RuvUbcAttrType attributes)
    {
        calls.append({code, attributes, RecordingLog::calls().size(), ManualTracker::calls().size(),
                      KelUbcPrivate::get(KelUbc::instance())->m_location});
    }
};

using Attrs = QMap<QString, QString>;

namespace {

KelUbc *ubc() { return KelUbc::instance(); }
KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }

SOperation operation(const QString &projectId, int count = 0, qint64 size = 0,
                     const QString &path = QString())
{
    SOperation op;
    op.prjFullPath = path;
    op.prjEdoCnt = count;
    op.prjSize = size;
    op.projectId = projectId;
    return op;
}

const QStringList Bracket{QStringLiteral("init"), QStringLiteral("filter:15"),
                          QStringLiteral("log"), QStringLiteral("filter:0")};

} // namespace

class tst_Projects : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void beforeAnyProject();
    void newAndOpen();
    void save();
    void closeWithStatistics();

private:
    JournalHelper helper;
    RecordingTranslator translator;
};

void tst_Projects::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false")); // record lines
    QCoreApplication::installTranslator(&translator);
    QVERIFY(ubc());
    qApp->setProperty("RuvUbcHelper", QVariant::fromValue<QObject *>(&helper));
}

void tst_Projects::init()
{
    helper.calls.clear();
    translator.overrides.clear();
    ManualTracker::reset();
    RecordingLog::reset();
}

void tst_Projects::beforeAnyProject()
{
    // No project yet: the empty key, and a close measures nothing.
    QVERIFY(d()->m_projectId.isEmpty());
    QVERIFY(d()->m_projectOpenTime.isNull());
    ManualTracker::setWorkingTime(4321);
    ubc()->setProjRuningTime(5000);
    QCOMPARE(ubc()->getProjRuningTime(), qint64(4321));
    ubc()->closeProject(operation(QStringLiteral("X")));
    QCOMPARE(ManualTracker::calls(), (QStringList{QStringLiteral("start::5000"), QStringLiteral("get:"),
                                                  QStringLiteral("remove:")}));
    QCOMPARE(RecordingLog::records().size(), 1);
    QCOMPARE(RecordingLog::records()[0].duration, QStringLiteral("0"));
    QCOMPARE(RecordingLog::records()[0].projectid, QStringLiteral("X"));
    QVERIFY(d()->m_projectId.isEmpty()); // a close never makes a project current
}

void tst_Projects::newAndOpen()
{
    const UbcDataProtocol initial = RecordingLog::initialRecord();
    const Attrs attributes{{QStringLiteral("k1"), QStringLiteral("v1")}, {QStringLiteral("k2"), QString()}};
    d()->m_layer = QStringLiteral("L1");
    d()->m_location = QStringLiteral("somewhere");

    const QDateTime before = KelUbcPrivate::now();
    ubc()->newProject(operation(QStringLiteral("N-1"), 3, 4000, QStringLiteral("/p/n.prj")), attributes);
    QVERIFY(d()->m_projectOpenTime >= before);
    QVERIFY(d()->m_projectOpenTime <= KelUbcPrivate::now());
    QCOMPARE(d()->m_projectId, QStringLiteral("N-1"));
    QVERIFY(d()->m_location.isEmpty());
    ubc()->newProject(operation(QStringLiteral("N-2")), {});
    d()->m_projectOpenTime = QDateTime();
    ubc()->openProject(operation(QStringLiteral("O-1"), 3, 4000, QStringLiteral("/p/o.prj")));
    QVERIFY(d()->m_projectOpenTime.isValid());
    QCOMPARE(d()->m_projectId, QStringLiteral("O-1"));

    QCOMPARE(RecordingLog::calls(), Bracket + Bracket + Bracket);
    const QList<UbcDataProtocol> records = RecordingLog::records();
    QCOMPARE(records[0].fncode, QStringLiteral("990003"));
    QCOMPARE(records[0].fnname, QStringLiteral("新建工程"));
    QCOMPARE(records[0].projectid, QStringLiteral("N-1"));
    QCOMPARE(records[0].prjfullpath, QStringLiteral("/p/n.prj"));
    QCOMPARE(records[0].attrs, attributes); // exactly the host's, no layer
    QVERIFY(records[1].attrs.isEmpty());
    QCOMPARE(records[2].fncode, QStringLiteral("990004"));
    QCOMPARE(records[2].fnname, QStringLiteral("打开工程"));
    QCOMPARE(records[2].projectid, QStringLiteral("O-1"));
    QCOMPARE(records[2].prjfullpath, initial.prjfullpath);
    QVERIFY(records[2].attrs.isEmpty());
    for (const UbcDataProtocol &r : records) {
        QCOMPARE(r.fngroup, QStringLiteral("特殊功能"));
        QCOMPARE(r.prjedocnt, initial.prjedocnt);
        QCOMPARE(r.prjsize, initial.prjsize);
        QCOMPARE(r.duration, initial.duration);
    }
    // Neither starts the working time nor sends anything.
    QVERIFY(ManualTracker::calls().isEmpty());
    QVERIFY(helper.calls.isEmpty());
}

void tst_Projects::save()
{
    d()->m_layer = QStringLiteral("L3");
    ubc()->openProject(operation(QStringLiteral("S-1")));
    RecordingLog::reset();

    // Sizes in thousands, truncated toward zero; the record's own projectId.
    const struct { qint64 size; const char *logged; } sizes[] = {
        {1999, "1"}, {999, "0"}, {-1500, "-1"}, {5000000000999, "5000000000"}};
    for (const auto &s : sizes)
        ubc()->saveProject(operation(QStringLiteral("other"), 7, s.size, QStringLiteral("/p")));
    QCOMPARE(RecordingLog::records().size(), 4);
    for (int i = 0; i < 4; ++i) {
        const UbcDataProtocol &r = RecordingLog::records()[i];
        QCOMPARE(r.fncode, QStringLiteral("990005"));
        QCOMPARE(r.fnname, QStringLiteral("保存工程"));
        QCOMPARE(r.projectid, QStringLiteral("other"));
        QCOMPARE(r.prjedocnt, QStringLiteral("7"));
        QCOMPARE(r.prjsize, QLatin1String(sizes[i].logged));
        QCOMPARE(r.prjfullpath, RecordingLog::initialRecord().prjfullpath);
        QVERIFY(r.attrs.isEmpty());
    }

    // After each record, the count with the current layer.
    const Attrs sent{{QStringLiteral("layer"), QStringLiteral("L3")}, {QStringLiteral("prjedocnt"), QStringLiteral("7")}};
    QCOMPARE(helper.calls.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(helper.calls[i].code, quint64(580101004));
        QCOMPARE(helper.calls[i].attrs, sent);
        QCOMPARE(helper.calls[i].logCallsBefore, Bracket.size() * (i + 1));
    }
    QCOMPARE(d()->m_projectId, QStringLiteral("S-1"));
    QVERIFY(ManualTracker::calls().isEmpty());

    // Also when the record is not logged; a negative count goes as it is.
    translator.overrides.insert(QStringLiteral("保存工程"), QLatin1String(""));
    ubc()->saveProject(operation(QStringLiteral("S-1"), -2));
    QCOMPARE(RecordingLog::records().size(), 4);
    QCOMPARE(helper.calls.constLast().attrs.value(QStringLiteral("prjedocnt")), QStringLiteral("-2"));
}

void tst_Projects::closeWithStatistics()
{
    const QString key = QStringLiteral("工程-7");
    ubc()->openProject(operation(key));
    ManualTracker::setWorkingTime(900);
    ubc()->setProjRuningTime(900);
    QString none;
    ubc()->sendMDByEvent(20, UbcMDEventProjectClose, true, none, none);
    ubc()->sendMDByEvent(10, UbcMDEventProjectClose, false, none, none);
    ubc()->sendMDByEvent(15, UbcMDEventCommit, false, none, none);
    d()->m_projectOpenTime = KelUbcPrivate::now().addMSecs(-125500); // margin against truncation
    d()->m_location = QStringLiteral("somewhere");
    ManualTracker::reset();
    RecordingLog::reset();

    // The record's own projectId, the current project's tracking ends.
    ubc()->closeProject(operation(QStringLiteral("other"), 3, 2500, QStringLiteral("/p")));
    QCOMPARE(RecordingLog::calls(), Bracket);
    const UbcDataProtocol r = RecordingLog::records().constFirst();
    QCOMPARE(r.fncode, QStringLiteral("990006"));
    QCOMPARE(r.fnname, QStringLiteral("关闭工程"));
    QCOMPARE(r.fngroup, QStringLiteral("特殊功能"));
    QCOMPARE(r.duration, QStringLiteral("125"));
    QCOMPARE(r.projectid, QStringLiteral("other"));
    QCOMPARE(r.prjsize, QStringLiteral("2"));
    QCOMPARE(r.prjedocnt, QStringLiteral("3"));
    QCOMPARE(r.prjfullpath, RecordingLog::initialRecord().prjfullpath);
    QVERIFY(r.attrs.isEmpty());

    // Record logged and location cleared, then the statistics, then the removal.
    QCOMPARE(helper.calls.size(), 2);
    QCOMPARE(helper.calls[0].code, quint64(10));
    QCOMPARE(helper.calls[1].code, quint64(20));
    for (const auto &call : qAsConst(helper.calls)) {
        QCOMPARE(call.logCallsBefore, Bracket.size());
        QCOMPARE(call.trackerCallsBefore, 0);
        QVERIFY(call.location.isEmpty());
        QVERIFY(call.attrs.isEmpty());
    }
    QCOMPARE(ManualTracker::calls(), QStringList{QStringLiteral("remove:") + key});

    // A second close measures from the same open, sends nothing again and
    // removes the same key; the closed project stays current for the tracker.
    d()->m_projectOpenTime = d()->m_projectOpenTime.addSecs(-5);
    ubc()->closeProject(operation(QStringLiteral("other")));
    QCOMPARE(RecordingLog::records().constLast().duration, QStringLiteral("130"));
    QCOMPARE(helper.calls.size(), 2);
    ManualTracker::setWorkingTime(-1);
    QCOMPARE(ubc()->getProjRuningTime(), qint64(-1));
    QCOMPARE(ManualTracker::calls(), (QStringList{QStringLiteral("remove:") + key, QStringLiteral("remove:") + key,
                                                  QStringLiteral("get:") + key}));
    QCOMPARE(d()->m_mdStates.size(), 3);

    // A clock set back gives a negative duration.
    d()->m_projectOpenTime = KelUbcPrivate::now().addMSecs(5500);
    ubc()->closeProject(operation(key));
    QCOMPARE(RecordingLog::records().constLast().duration, QStringLiteral("-5"));
}

QTEST_GUILESS_MAIN(tst_Projects)
#include "tst_projects.moc"
