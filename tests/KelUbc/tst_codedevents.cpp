// Coded events to the host's helper object: its lookup, the layer markers,
// direct and queued delivery, and the quiet cases.

#include "HelperProbe.h"
#include "MessageCapture.h"

#include <RuvUbcHelper.h>

#include <QtCore/QThread>
#include <QtTest/QtTest>

typedef QMap<QString, QString> Attrs;

class tst_CodedEvents : public QObject
{
    Q_OBJECT

    QStringList seen;
    QScopedPointer<MessageCapture> capture;
    RuvUbcHelper helper;

    // Notes what the helper gets in the thread of context, as HelperProbe does.
    void watch(RuvUbcHelper *h, QObject *context)
    {
        connect(h, &RuvUbcHelper::dataSent, context, [this](quint64 code, const RuvUbcAttrType &a, bool hasAttrs) {
            seen << (hasAttrs ? QStringLiteral("%1 {%2}").arg(code).arg(pairs(a)) : QString::number(code));
        });
        connect(h, &RuvUbcHelper::timeRecorded, context, [this](quint64 code) { seen << QStringLiteral("time %1").arg(code); });
    }

    // One event of each road: with the attributes given (the caller's map, as
    // the library leaves it), without attributes, and a time record.
    static Attrs sendEach(quint64 coded, quint64 plain, quint64 time, const char *attrs)
    {
        Attrs given = attrsFrom(QString::fromUtf8(attrs));
        ubc()->send(coded, given);
        ubc()->send(plain, false);
        ubc()->recordTime(time);
        return given;
    }

private slots:
    void initTestCase()
    {
        capture.reset(new MessageCapture);
        RuvUbcHelper::publish(&helper);
        watch(&helper, this);
    }

    // No coded operation makes a record or moves the location label.
    void init()
    {
        RecordingLog::reset();
        seen.clear();
        pressQuickBar();
    }
    void cleanup()
    {
        QCOMPARE(RecordingLog::calls(), QStringList());
        QVERIFY(!pendingLocation().isEmpty());
        RuvUbcHelper::publish(&helper);
    }

    void sameThread()
    {
        // Runs first: a layer never set is sent, present and empty. The helper,
        // called directly, has each event before the call returns.
        ubc()->send(7, true);
        QCOMPARE(seen, QStringList{QStringLiteral("7 {layer=}")});

        // send(code, map) normalises the caller's map itself.
        ubc()->setCurLayer(QStringLiteral("L"));
        const char *const maps[][2] = {{"", "1 {}"},
                                       {"Layer=x", "2 {layer=L}"},
                                       {"layer=mine;Layer=x;k=v", "3 {k=v;layer=L}"},
                                       {"LAYER=a; layer=b;layer =c", "4 { layer=b;LAYER=a;layer =c}"}};
        for (quint64 code = 1; code <= 4; ++code) {
            Attrs given = attrsFrom(QString::fromUtf8(maps[code - 1][0]));
            ubc()->send(code, given);
            QCOMPARE(seen.constLast(), QString::fromUtf8(maps[code - 1][1]));
        }

        // A map that is const, or a braced list: the same rule on a copy.
        const Attrs constant = attrsFrom(QStringLiteral("Layer=x;k=v"));
        ubc()->send(9, constant);
        ubc()->send(10, {{QStringLiteral("layer"), QStringLiteral("mine")}, {QStringLiteral("k"), QStringLiteral("v")}});
        QCOMPARE(seen.mid(seen.size() - 2), (QStringList{QStringLiteral("9 {k=v;layer=L}"),
                                                         QStringLiteral("10 {k=v;layer=L}")}));
        QCOMPARE(constant, attrsFrom(QStringLiteral("Layer=x;k=v")));

        // The other forms; every quint64 passes unchanged.
        seen.clear();
        ubc()->send(5, QStringLiteral("k"), QStringLiteral("v"), false);
        ubc()->send(6, QStringLiteral("Layer"), QStringLiteral("x"), true);
        ubc()->send(7, false);
        ubc()->send(8, true);
        ubc()->recordTime(0);
        ubc()->send(std::numeric_limits<quint64>::max(), false);
        QCOMPARE(seen.join(QLatin1Char('|')),
                 QStringLiteral("5 {k=v}|6 {layer=L}|7|8 {layer=L}|time 0|18446744073709551615"));
    }

    void helperInAnotherThread()
    {
        QThread thread;
        RuvUbcHelper *remote = new RuvUbcHelper;
        remote->moveToThread(&thread);
        connect(&thread, &QThread::finished, remote, &QObject::deleteLater);
        thread.start();
        RuvUbcHelper::publish(remote);
        watch(remote, this); // through Qt's queue: the helper emits in its own thread
        ubc()->setCurLayer(QStringLiteral("L3"));

        sendEach(11, 12, 13, "Layer=;k=v");
        QVERIFY(seen.isEmpty()); // a call in this thread would have run by now
        QTRY_COMPARE(seen.join(QLatin1Char('|')), QStringLiteral("11 {k=v;layer=L3}|12|time 13"));

        RuvUbcHelper::publish(nullptr);
        thread.quit();
        QVERIFY(thread.wait(5000));
    }

    void quietWithoutHelper()
    {
        ubc()->setCurLayer(QStringLiteral("L4"));
        // Absent, null, or not a QObject pointer: nothing to invoke, nothing said.
        // An object without the methods, found as any QObject pointer: only Qt's
        // own diagnostics, one per call.
        QObject plain;
        const QPair<QVariant, int> helpers[] = {{QVariant(), 0}, {QVariant::fromValue<QObject *>(nullptr), 0},
                                               {QVariant(42), 0}, {QVariant::fromValue(&plain), 3}};
        for (const auto &h : helpers) {
            qApp->setProperty("RuvUbcHelper", h.first);
            MessageCapture::messages().clear();
            // Each way to the helper once; the caller's map is still normalised.
            QCOMPARE(sendEach(1, 2, 3, "Layer=x"), attrsFrom(QStringLiteral("layer=L4")));
            QCOMPARE(MessageCapture::messages().size(), h.second);
            QCOMPARE(MessageCapture::texts(QtWarningMsg)
                         .filter(QStringLiteral("QMetaObject::invokeMethod: No such method QObject::")).size(), h.second);
        }
        QVERIFY(seen.isEmpty()); // no cached helper either
    }

    // The helper is found once, and anew when the property changes or the
    // helper is destroyed; a destroyed one is never called again.
    void helperChanges()
    {
        MessageCapture::messages().clear();
        ubc()->setCurLayer(QStringLiteral("L5"));
        HelperProbe first;
        auto *second = new HelperProbe;
        const auto publish = [](QObject *h) { qApp->setProperty("RuvUbcHelper", QVariant::fromValue(h)); };
        const auto sendAll = [](quint64 code) { sendEach(code, code, code, "k=v"); };
        publish(&first);
        sendAll(1);
        publish(second);
        sendAll(2);
        delete second; // the property still names it
        sendAll(3);
        publish(&first);
        sendAll(4);
        QCOMPARE(first.got.join(QLatin1Char('|')), QStringLiteral("1 {k=v}|1|time 1|4 {k=v}|4|time 4"));
        QCOMPARE(MessageCapture::texts(QtWarningMsg), QStringList());
        QVERIFY(seen.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_CodedEvents)
#include "tst_codedevents.moc"
