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

// Stand-ins known to the watcher only by their class names.
class RuvModelInputFrame : public QFrame { Q_OBJECT public: using QFrame::QFrame; };
class RuvFloatWidget : public QWidget { Q_OBJECT public: using QWidget::QWidget; };
class ContextMenu : public QMenu { Q_OBJECT public: using QMenu::QMenu; };

class tst_Watcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { RecordingLog::reset(); }
    void pressLocations();
    void idleRule();
    void quit();

private:
    KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
    QString locationAfterPress(QObject *target);
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
    mainWindow.show();
    QCOMPARE(locationAfterPress(mainWindow.windowHandle()), QStringLiteral("Ribbon quick-access bar"));

    // Rule 3: the class name exactly "QMenu", its parent a "RuvModelInputFrame".
    RuvModelInputFrame inputFrame;
    QFrame otherFrame;
    QMenu menu(&inputFrame), orphanMenu, strayMenu(&otherFrame);
    ContextMenu subclassMenu(&inputFrame);
    QCOMPARE(locationAfterPress(&menu), QStringLiteral("Right-click menu"));
    for (QObject *miss : {&orphanMenu, &strayMenu, static_cast<QMenu *>(&subclassMenu)})
        QCOMPARE(locationAfterPress(miss), unchanged);

    // Rule 4: a native RuvFloatWidget two windows below a top-level widget.
    // All built before any is made native: a widget that becomes native inside
    // its QWidget constructor gets a window named "QWidgetClassWindow".
    QWidget host, middle(&host);
    RuvFloatWidget panel(&middle), shallowPanel(&host), topPanel;
    for (QWidget *w : std::initializer_list<QWidget *>{&middle, &panel, &shallowPanel})
        w->setAttribute(Qt::WA_NativeWindow);
    host.show();
    topPanel.show();
    QWindow *panelWindow = panel.windowHandle();
    QVERIFY(panelWindow->parent()->parent() == host.windowHandle());
    QCOMPARE(locationAfterPress(panelWindow), QStringLiteral("View panel"));
    // Misses: the grandparent missing, no parent window at all, a grandparent
    // that is a widget and not a window.
    QWidget namedLikePanel(&panel);
    namedLikePanel.setObjectName(QStringLiteral("RuvFloatWidgetClassWindow"));
    for (QObject *miss : {static_cast<QObject *>(shallowPanel.windowHandle()),
                          static_cast<QObject *>(topPanel.windowHandle()),
                          static_cast<QObject *>(&namedLikePanel)}) {
        QCOMPARE(miss->objectName(), QStringLiteral("RuvFloatWidgetClassWindow"));
        QCOMPARE(locationAfterPress(miss), unchanged);
    }

    // Near relatives of the handled types set no label and are no move.
    const QDateTime lastActivity = d()->m_lastActivity;
    const int helperCalls = helper.eventCount() + helper.timeRecordCount();
    for (QEvent::Type type : {QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::NonClientAreaMouseButtonPress, QEvent::NonClientAreaMouseMove}) {
        QMouseEvent e(type, QPointF(2, 2), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&button, &e);
        QVERIFY2(button.received.contains(type), QByteArray::number(type));
    }
    QCOMPARE(d()->m_location, unchanged);
    QCOMPARE(d()->m_lastActivity, lastActivity);
    QCOMPARE(helper.eventCount() + helper.timeRecordCount(), helperCalls);
    QVERIFY(RecordingLog::calls().isEmpty());
}

void tst_Watcher::idleRule()
{
    Qtitan::RibbonButton target;
    target.setMouseTracking(true); // otherwise only the filters see a plain move
    QSignalSpy sent(&helper, &RuvUbcHelper::dataSent);
    const quint64 active = 580101003;

    // Idle gaps in milliseconds, and whether the return is reported.
    const QList<QPair<qint64, bool>> gaps{{0, false}, {600000, false}, {600900, false}, {601000, true}};
    int timeRecords = helper.timeRecords().value(active);
    for (const auto &gap : gaps) {
        sent.clear();
        const QDateTime before = KelUbcPrivate::now();
        d()->m_lastActivity = before.addMSecs(-gap.first);
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&target, &move);

        QList<quint64> codes;
        for (const QList<QVariant> &args : qAsConst(sent)) {
            codes << args.at(0).toULongLong();
            QVERIFY(!args.at(2).toBool()); // one-argument sendData
        }
        QCOMPARE(codes, (gap.second ? QList<quint64>{580101002, active} : QList<quint64>{}));
        QCOMPARE(helper.timeRecords().value(active), ++timeRecords);
        QVERIFY(d()->m_lastActivity >= before && d()->m_lastActivity <= KelUbcPrivate::now());
    }
    QCOMPARE(target.received.count(QEvent::MouseMove), gaps.size());
    QVERIFY(RecordingLog::calls().isEmpty());
}

void tst_Watcher::quit()
{
    d()->m_appStartTime = KelUbcPrivate::now().addSecs(-100);
    MessageCapture::messages().clear();
    Qtitan::RibbonButton receiver;
    QEvent quitEvent(QEvent::Quit);
    QCoreApplication::sendEvent(&receiver, &quitEvent);
    QCOMPARE(receiver.received.count(QEvent::Quit), 1);

    QCOMPARE(RecordingLog::records().size(), 1);
    QCOMPARE(RecordingLog::records().constFirst().fncode, QStringLiteral("990002"));
    QCOMPARE(RecordingLog::records().constFirst().duration, QStringLiteral("100"));
    // The record's info line, then the quit line without a source context.
    QStringList lines;
    for (const MessageCapture::Message &m : MessageCapture::messages())
        lines << QStringLiteral("%1|%2|%3|%4|%5").arg(m.type).arg(m.text, m.file).arg(m.line).arg(m.function);
    QCOMPARE(lines, (QStringList{
        QStringLiteral("%1|\"Close software\"|src/KelUbc/KelUbc|302|KelUbcPrivate::writeLog").arg(QtInfoMsg),
        QStringLiteral("%1|Tavo>> quit application||0|").arg(QtDebugMsg)}));

    // A facade the host builds itself watches too, but reports through the
    // one instance: its own start time is null, the instance's is 100 s ago.
    KelUbc own;
    RecordingLog::reset();
    QCoreApplication::sendEvent(&receiver, &quitEvent);
    QCOMPARE(RecordingLog::records().size(), 2);
    for (const UbcDataProtocol &r : RecordingLog::records())
        QCOMPARE(r.duration, QStringLiteral("100"));
}

QTEST_MAIN(tst_Watcher)
#include "tst_watcher.moc"
