// The application event watcher with real widgets and windows: location
// labels from presses, the idle rule on mouse moves, quits, and that every
// event still reaches its receiver.

#include "KelUbcPrivate.h"
#include "MessageCapture.h"
#include "TestSupport.h"

#include <KelUbcTranslator.h>
#include <RuvUbcHelper.h>

#include <QtGui/QMouseEvent>
#include <QtGui/QWindow>
#include <QtTest/QtTest>
#include <QtWidgets/QFrame>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>

namespace Qtitan {
class RibbonButton : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;
    QList<QEvent::Type> received;

protected:
    bool event(QEvent *e) override
    {
        received << e->type();
        return QPushButton::event(e);
    }
};
} // namespace Qtitan

class RuvModelInputFrame : public QFrame
{
    Q_OBJECT
public:
    using QFrame::QFrame;
};

class RuvFloatWidget : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
};

class ContextMenu : public QMenu
{
    Q_OBJECT
public:
    using QMenu::QMenu;
};

class EventCounter : public QObject
{
public:
    QList<QEvent::Type> received;
    bool event(QEvent *e) override
    {
        received << e->type();
        return QObject::event(e);
    }
};

class tst_Watcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void pressLocations();
    void otherEventsChangeNothing();
    void idleRule();
    void quit();

private:
    KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
    QString locationAfterPress(QObject *target);
    static void sendMove(QWidget *target)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &move);
    }
    QScopedPointer<MessageCapture> capture;
    KelUbcTranslator translator{KelUbcTranslator::English};
    RuvUbcHelper helper;
};

void tst_Watcher::initTestCase()
{
    capture.reset(new MessageCapture);
    QCoreApplication::installTranslator(&translator);
    QVERIFY(KelUbc::instance());
    RuvUbcHelper::publish(&helper);
}

void tst_Watcher::init()
{
    RecordingLog::reset();
    MessageCapture::messages().clear();
}

// The label after a press delivered the way Qt delivers it; "unchanged" when
// the press left the earlier label alone.
QString tst_Watcher::locationAfterPress(QObject *target)
{
    d()->m_location = QStringLiteral("unchanged");
    if (target->isWidgetType())
        QTest::mousePress(static_cast<QWidget *>(target), Qt::LeftButton);
    else
        QTest::mousePress(static_cast<QWindow *>(target), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    return d()->m_location;
}

void tst_Watcher::pressLocations()
{
    const QString unchanged = QStringLiteral("unchanged");

    // Rule 1, also ahead of rule 2; the button still gets its press.
    Qtitan::RibbonButton button;
    QCOMPARE(locationAfterPress(&button), QStringLiteral("Ribbon toolbar"));
    QVERIFY(button.isDown());
    button.setObjectName(QStringLiteral("RibbonMainWindowWindow"));
    QCOMPARE(locationAfterPress(&button), QStringLiteral("Ribbon toolbar"));

    // Rule 2: the window Qt makes for a top-level widget named "RibbonMainWindow".
    QWidget mainWindow;
    mainWindow.setObjectName(QStringLiteral("RibbonMainWindow"));
    mainWindow.resize(200, 100);
    mainWindow.show();
    QWindow *mainHandle = mainWindow.windowHandle();
    QVERIFY(mainHandle);
    QCOMPARE(mainHandle->objectName(), QStringLiteral("RibbonMainWindowWindow"));
    QCOMPARE(locationAfterPress(mainHandle), QStringLiteral("Ribbon quick-access bar"));
    QCOMPARE(locationAfterPress(&mainWindow), unchanged); // the widget itself is no match

    // Rule 3: the class name exactly "QMenu", its parent a "RuvModelInputFrame".
    RuvModelInputFrame inputFrame;
    QFrame otherFrame;
    QMenu menu(&inputFrame), orphanMenu, strayMenu(&otherFrame);
    ContextMenu subclassMenu(&inputFrame);
    QCOMPARE(locationAfterPress(&menu), QStringLiteral("Right-click menu"));
    QCOMPARE(locationAfterPress(&orphanMenu), unchanged);
    QCOMPARE(locationAfterPress(&strayMenu), unchanged);
    QCOMPARE(locationAfterPress(&subclassMenu), unchanged);

    // Rule 4: a native RuvFloatWidget two windows below a top-level widget.
    // All built before any is made native: a widget that becomes native inside
    // its QWidget constructor gets a window named "QWidgetClassWindow".
    QWidget host;
    host.resize(200, 200);
    QWidget middle(&host);
    middle.setGeometry(0, 0, 150, 150);
    RuvFloatWidget panel(&middle);
    panel.setGeometry(0, 0, 100, 100);
    RuvFloatWidget shallowPanel(&host); // grandparent window missing
    for (QWidget *w : {&middle, static_cast<QWidget *>(&panel), static_cast<QWidget *>(&shallowPanel)})
        w->setAttribute(Qt::WA_NativeWindow);
    host.show();
    QWindow *panelWindow = panel.windowHandle();
    QVERIFY(panelWindow && panelWindow->parent() && panelWindow->parent()->parent());
    QCOMPARE(panelWindow->objectName(), QStringLiteral("RuvFloatWidgetClassWindow"));
    QCOMPARE(panelWindow->parent()->parent(), static_cast<QObject *>(host.windowHandle()));
    QCOMPARE(host.windowHandle()->metaObject()->className(), "QWidgetWindow");
    QCOMPARE(locationAfterPress(panelWindow), QStringLiteral("View panel"));
    QCOMPARE(locationAfterPress(&panel), unchanged);

    QWindow *shallowWindow = shallowPanel.windowHandle();
    QCOMPARE(shallowWindow->objectName(), QStringLiteral("RuvFloatWidgetClassWindow"));
    QCOMPARE(locationAfterPress(shallowWindow), unchanged);
    RuvFloatWidget topPanel; // its window has no parent at all
    topPanel.show();
    QCOMPARE(topPanel.windowHandle()->objectName(), QStringLiteral("RuvFloatWidgetClassWindow"));
    QCOMPARE(locationAfterPress(topPanel.windowHandle()), unchanged);
    QWidget namedLikePanel(&panel); // grandparent is a widget, not a window
    namedLikePanel.setObjectName(QStringLiteral("RuvFloatWidgetClassWindow"));
    QCOMPARE(locationAfterPress(&namedLikePanel), unchanged);

    // A label from a press stays until a record takes it.
    QPushButton plain;
    QCOMPARE(locationAfterPress(&menu), QStringLiteral("Right-click menu"));
    QTest::mousePress(&plain, Qt::LeftButton);
    QCOMPARE(d()->m_location, QStringLiteral("Right-click menu"));
    QVERIFY(RecordingLog::calls().isEmpty());
}

void tst_Watcher::otherEventsChangeNothing()
{
    Qtitan::RibbonButton button;
    button.show();
    d()->m_location = QStringLiteral("kept");
    const QDateTime lastActivity = d()->m_lastActivity;
    QSignalSpy sent(&helper, &RuvUbcHelper::dataSent);
    QSignalSpy timed(&helper, &RuvUbcHelper::timeRecorded);

    // Near relatives of the handled types included.
    const QEvent::Type mouseTypes[] = {QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                       QEvent::NonClientAreaMouseButtonPress,
                                       QEvent::NonClientAreaMouseMove};
    for (QEvent::Type type : mouseTypes) {
        QMouseEvent e(type, QPointF(2, 2), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&button, &e);
    }
    QTest::keyClick(&button, Qt::Key_A);
    QCOMPARE(d()->m_location, QStringLiteral("kept"));
    QCOMPARE(d()->m_lastActivity, lastActivity);
    QCOMPARE(sent.count() + timed.count(), 0);
    QVERIFY(RecordingLog::calls().isEmpty());
    for (QEvent::Type type : mouseTypes)
        QVERIFY2(button.received.contains(type), QByteArray::number(type));
    QVERIFY(button.received.contains(QEvent::KeyPress));
}

void tst_Watcher::idleRule()
{
    Qtitan::RibbonButton target;
    target.setMouseTracking(true); // otherwise only the filters see a plain move
    QSignalSpy sent(&helper, &RuvUbcHelper::dataSent);
    const quint64 active = 580101003;

    // Idle gaps in milliseconds, and whether the return is reported.
    const QList<QPair<qint64, bool>> gaps{{0, false}, {600000, false}, {600900, false},
                                          {601000, true}, {0, false}, {3600000, true}};
    int timeRecords = helper.timeRecords().value(active);
    for (const auto &gap : gaps) {
        sent.clear();
        const QDateTime before = KelUbcPrivate::now();
        d()->m_lastActivity = before.addMSecs(-gap.first);
        sendMove(&target);
        const QDateTime after = KelUbcPrivate::now();

        QList<quint64> codes;
        for (const QList<QVariant> &args : qAsConst(sent)) {
            codes << args.at(0).toULongLong();
            QVERIFY(!args.at(2).toBool()); // one-argument sendData
        }
        const QList<quint64> expected = gap.second ? QList<quint64>{580101002, active}
                                                   : QList<quint64>{};
        QCOMPARE(codes, expected);
        QCOMPARE(helper.timeRecords().value(active), ++timeRecords);
        QVERIFY(d()->m_lastActivity >= before && d()->m_lastActivity <= after);
    }
    QCOMPARE(target.received.count(QEvent::MouseMove), gaps.size());
    QCOMPARE(helper.timeRecords().keys(), QList<quint64>{active});

    // Without a helper the clock is still kept.
    RuvUbcHelper::publish(nullptr);
    d()->m_lastActivity = KelUbcPrivate::now().addSecs(-700);
    sendMove(&target);
    QVERIFY(d()->m_lastActivity.secsTo(KelUbcPrivate::now()) < 5);
    RuvUbcHelper::publish(&helper);
    QCOMPARE(helper.timeRecords().value(active), timeRecords);
    QVERIFY(RecordingLog::calls().isEmpty());
}

// Last: a quit on the application closes its windows.
void tst_Watcher::quit()
{
    KelUbcPrivate *p = d();
    p->m_appStartTime = KelUbcPrivate::now().addSecs(-100);

    // Quit events on any object of the main thread, and on the application
    // the way Qt posts them.
    EventCounter receiver;
    QEvent quitEvent(QEvent::Quit);
    QCoreApplication::sendEvent(&receiver, &quitEvent);
    QCOMPARE(receiver.received, QList<QEvent::Type>{QEvent::Quit});
    QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
    QCoreApplication::sendPostedEvents(qApp, QEvent::Quit);

    const QList<UbcDataProtocol> records = RecordingLog::records();
    QCOMPARE(records.size(), 2);
    for (const UbcDataProtocol &r : records) {
        QCOMPARE(r.fncode, QStringLiteral("990002"));
        QCOMPARE(r.fnname, QStringLiteral("Close software"));
        QCOMPARE(r.duration, QStringLiteral("100"));
    }
    // Each record's info line, then the quit line without a source context.
    QStringList sequence;
    for (const MessageCapture::Message &m : MessageCapture::messages()) {
        sequence << QString::number(m.type) + QLatin1Char(':') + m.text;
        if (m.text == QLatin1String("Tavo>> quit application")) {
            QVERIFY(m.file.isEmpty());
            QCOMPARE(m.line, 0);
            QVERIFY(m.function.isEmpty());
        }
    }
    const QString info = QString::number(QtInfoMsg) + QStringLiteral(":\"Close software\"");
    const QString debug = QString::number(QtDebugMsg) + QStringLiteral(":Tavo>> quit application");
    QCOMPARE(sequence, (QStringList{info, debug, info, debug}));

    // A facade the host builds itself watches too, but reports through the
    // one instance: its own start time is null, the instance's is 100 s ago.
    {
        KelUbc own;
        RecordingLog::reset();
        QCoreApplication::sendEvent(&receiver, &quitEvent);
        QCOMPARE(RecordingLog::records().size(), 2);
        for (const UbcDataProtocol &r : RecordingLog::records())
            QCOMPARE(r.duration, QStringLiteral("100"));
    }
    QCOMPARE(receiver.received.size(), 2);
}

QTEST_MAIN(tst_Watcher)
#include "tst_watcher.moc"
