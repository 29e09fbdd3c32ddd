// Coded events to the host's helper object: its lookup, the layer markers,
// direct and queued delivery, and the quiet cases.

#include "KelUbcPrivate.h"
#include "MessageCapture.h"
#include "TestSupport.h"

#include <RuvUbcHelper.h>

#include <QtCore/QThread>
#include <QtTest/QtTest>

typedef QMap<QString, QString> Attrs;

class tst_CodedEvents : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void helperLookup();
    void layerMarkers_data();
    void layerMarkers();
    void overloads();
    void helperInAnotherThread();
    void quietWithoutHelper();

private:
    KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
    // What the helper saw: code, attributes, two-argument form.
    struct Delivery
    {
        quint64 code;
        Attrs attrs;
        bool hasAttrs;
    };
    static Delivery delivery(const QSignalSpy &spy, int i)
    {
        const QList<QVariant> &args = spy.at(i);
        return {args.at(0).toULongLong(), args.at(1).value<RuvUbcAttrType>(), args.at(2).toBool()};
    }
    QScopedPointer<MessageCapture> capture;
    RuvUbcHelper helper;
};

void tst_CodedEvents::initTestCase()
{
    capture.reset(new MessageCapture);
    QVERIFY(KelUbc::instance());
    RuvUbcHelper::publish(&helper);
}

// No coded operation makes a record or moves the location label.
void tst_CodedEvents::init()
{
    RecordingLog::reset();
    d()->m_location = QStringLiteral("from a press");
}

void tst_CodedEvents::cleanup()
{
    QCOMPARE(d()->m_location, QStringLiteral("from a press"));
    QCOMPARE(RecordingLog::calls(), QStringList());
    RuvUbcHelper::publish(&helper);
}

void tst_CodedEvents::helperLookup()
{
    KelUbc *ubc = KelUbc::instance();
    // Runs first: a layer never set is sent, present and empty, to the
    // helper publish() stored, by a direct call.
    QSignalSpy sent(&helper, &RuvUbcHelper::dataSent);
    ubc->send(7, true);
    QCOMPARE(sent.count(), 1);
    QCOMPARE(delivery(sent, 0).attrs, (Attrs{{QStringLiteral("layer"), QString()}}));

    // The property is read anew at every call, in any QObject pointer form.
    RuvUbcHelper other;
    qApp->setProperty("RuvUbcHelper", QVariant::fromValue<QObject *>(&other));
    ubc->recordTime(42);
    ubc->send(43, false);
    QCOMPARE(other.timeRecords(), (QMap<quint64, int>{{42, 1}}));
    QCOMPARE(other.eventCount(), 1);
    QCOMPARE(helper.timeRecordCount(), 0);

    // Every quint64 passes unchanged.
    RuvUbcHelper::publish(&helper);
    const quint64 largest = std::numeric_limits<quint64>::max();
    ubc->recordTime(0);
    ubc->recordTime(largest);
    Attrs none;
    ubc->send(largest, none);
    QCOMPARE(helper.timeRecords(), (QMap<quint64, int>{{0, 1}, {largest, 1}}));
    QCOMPARE(delivery(sent, 1).code, largest);
}

void tst_CodedEvents::layerMarkers_data()
{
    QTest::addColumn<Attrs>("given");
    QTest::addColumn<Attrs>("expected");
    const QString l = QStringLiteral("layer"), L = QStringLiteral("Layer");
    const QString current = QStringLiteral("L-current");
    QTest::newRow("empty map") << Attrs() << Attrs();
    QTest::newRow("Layer only") << Attrs{{L, QStringLiteral("x")}} << Attrs{{l, current}};
    QTest::newRow("layer, Layer and other")
        << Attrs{{l, QStringLiteral("mine")}, {L, QStringLiteral("x")}, {QStringLiteral("k"), QStringLiteral("v")}}
        << Attrs{{l, current}, {QStringLiteral("k"), QStringLiteral("v")}};
    QTest::newRow("other spellings")
        << Attrs{{QStringLiteral("LAYER"), QStringLiteral("a")}, {QStringLiteral(" layer"), QStringLiteral("b")},
                 {QStringLiteral("layer "), QStringLiteral("c")}}
        << Attrs{{QStringLiteral("LAYER"), QStringLiteral("a")}, {QStringLiteral(" layer"), QStringLiteral("b")},
                 {QStringLiteral("layer "), QStringLiteral("c")}};
}

void tst_CodedEvents::layerMarkers()
{
    QFETCH(Attrs, given);
    QFETCH(Attrs, expected);
    KelUbc::instance()->setCurLayer(QStringLiteral("L-current"));

    // The helper's method runs before send returns and sees the caller's map.
    Attrs attrs = given;
    Attrs seenInside;
    QMetaObject::Connection c = connect(&helper, &RuvUbcHelper::dataSent,
                                        [&](quint64, const RuvUbcAttrType &) { seenInside = attrs; });
    QSignalSpy sent(&helper, &RuvUbcHelper::dataSent);
    KelUbc::instance()->send(580101004, attrs);
    disconnect(c);

    QCOMPARE(sent.count(), 1);
    const Delivery got = delivery(sent, 0);
    QCOMPARE(got.code, quint64(580101004));
    QVERIFY(got.hasAttrs);
    QCOMPARE(got.attrs, expected);
    QCOMPARE(attrs, expected); // the normalisation stays in the caller's map
    QCOMPARE(seenInside, expected);
}

void tst_CodedEvents::overloads()
{
    KelUbc *ubc = KelUbc::instance();
    ubc->setCurLayer(QStringLiteral("L2"));
    const QString l = QStringLiteral("layer");
    QSignalSpy sent(&helper, &RuvUbcHelper::dataSent);

    ubc->send(1, QStringLiteral("k"), QStringLiteral("v"), false);
    ubc->send(2, QStringLiteral("k"), QStringLiteral("v"), true);
    ubc->send(3, l, QStringLiteral("caller's"), false);
    ubc->send(4, QStringLiteral("Layer"), QStringLiteral("x"), false);
    ubc->send(5, QString(), QStringLiteral("v"), false);
    ubc->send(6, false);
    ubc->send(7, true);

    QCOMPARE(sent.count(), 7);
    const Attrs expected[] = {
        {{QStringLiteral("k"), QStringLiteral("v")}},
        {{QStringLiteral("k"), QStringLiteral("v")}, {l, QStringLiteral("L2")}},
        {{l, QStringLiteral("L2")}},
        {{l, QStringLiteral("L2")}},
        {{QString(), QStringLiteral("v")}},
        {},
        {{l, QStringLiteral("L2")}},
    };
    for (int i = 0; i < 7; ++i) {
        const Delivery got = delivery(sent, i);
        QCOMPARE(got.code, quint64(i + 1));
        QCOMPARE(got.attrs, expected[i]);
        QCOMPARE(got.hasAttrs, i != 5); // send(code, false): one-argument sendData
    }
    QCOMPARE(helper.timeRecordCount(), 2); // from helperLookup only
}

void tst_CodedEvents::helperInAnotherThread()
{
    QThread thread;
    RuvUbcHelper *remote = new RuvUbcHelper;
    remote->moveToThread(&thread);
    thread.start();
    RuvUbcHelper::publish(remote);
    KelUbc::instance()->setCurLayer(QStringLiteral("L3"));

    // Collected in this thread, through Qt's queue: the helper emits in its own.
    QAtomicInt elsewhere; // deliveries outside the helper's thread
    auto checkThread = [&] {
        if (QThread::currentThread() != &thread)
            elsewhere.ref();
    };
    connect(remote, &RuvUbcHelper::dataSent, remote, checkThread, Qt::DirectConnection);
    connect(remote, &RuvUbcHelper::timeRecorded, remote, checkThread, Qt::DirectConnection);
    QList<Delivery> sent;
    QList<quint64> timed;
    QObject receiver;
    connect(remote, &RuvUbcHelper::dataSent, &receiver,
            [&](quint64 code, const RuvUbcAttrType &attrs, bool hasAttrs) {
                sent.append({code, attrs, hasAttrs});
            });
    connect(remote, &RuvUbcHelper::timeRecorded, &receiver, [&](quint64 code) { timed << code; });

    Attrs attrs{{QStringLiteral("Layer"), QString()}, {QStringLiteral("k"), QStringLiteral("v")}};
    KelUbc::instance()->send(11, attrs);
    attrs.insert(QStringLiteral("k"), QStringLiteral("changed later")); // the queued copy is Qt's own
    KelUbc::instance()->send(12, false);
    KelUbc::instance()->recordTime(13);

    QTRY_COMPARE(sent.size(), 2);
    QTRY_COMPARE(timed, QList<quint64>{13});
    QCOMPARE(elsewhere.loadAcquire(), 0);
    QCOMPARE(sent[0].code, quint64(11));
    QCOMPARE(sent[0].attrs, (Attrs{{QStringLiteral("k"), QStringLiteral("v")},
                                   {QStringLiteral("layer"), QStringLiteral("L3")}}));
    QCOMPARE(sent[1].code, quint64(12));
    QVERIFY(!sent[1].hasAttrs);
    QCOMPARE(remote->eventCount(), 2);

    RuvUbcHelper::publish(nullptr);
    connect(&thread, &QThread::finished, remote, &QObject::deleteLater);
    thread.quit();
    QVERIFY(thread.wait(5000));
}

void tst_CodedEvents::quietWithoutHelper()
{
    KelUbc *ubc = KelUbc::instance();
    ubc->setCurLayer(QStringLiteral("L4"));
    auto sendAll = [ubc] {
        Attrs attrs{{QStringLiteral("Layer"), QStringLiteral("x")}};
        ubc->send(1, attrs);
        ubc->send(2, QStringLiteral("k"), QStringLiteral("v"), true);
        ubc->send(3, true);
        ubc->send(4, false);
        ubc->recordTime(5);
        return attrs;
    };

    const int eventsBefore = helper.eventCount();
    // Absent, null, or not a QObject pointer: nothing to invoke, nothing said.
    const QVariant unpublished[] = {QVariant(), QVariant::fromValue<QObject *>(nullptr),
                                    QVariant(QStringLiteral("helper")), QVariant(42)};
    for (const QVariant &value : unpublished) {
        qApp->setProperty("RuvUbcHelper", value);
        MessageCapture::messages().clear();
        const Attrs attrs = sendAll();
        QVERIFY(MessageCapture::messages().isEmpty());
        QCOMPARE(attrs, (Attrs{{QStringLiteral("layer"), QStringLiteral("L4")}}));
    }
    QCOMPARE(helper.eventCount(), eventsBefore);

    // An object without the methods: only Qt's own diagnostics, one per call.
    QObject plain;
    qApp->setProperty("RuvUbcHelper", QVariant::fromValue(&plain));
    MessageCapture::messages().clear();
    sendAll();
    const QStringList warnings = MessageCapture::texts(QtWarningMsg);
    QCOMPARE(warnings.size(), 5);
    QCOMPARE(MessageCapture::messages().size(), 5);
    for (const QString &w : warnings)
        QVERIFY2(w.startsWith(QStringLiteral("QMetaObject::invokeMethod: No such method QObject::")),
                 qPrintable(w));
}

QTEST_GUILESS_MAIN(tst_CodedEvents)
#include "tst_codedevents.moc"
