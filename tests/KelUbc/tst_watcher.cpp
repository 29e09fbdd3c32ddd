// The application event watcher with real widgets and windows: location
// labels from presses, the idle rule on mouse moves, quits, and that every
// event still reaches its receiver.

#include "HelperProbe.h"
#include "MessageCapture.h"

#include <KelUbcTranslator.h>

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
    bool event(QEvent *e) override { received << e->type(); return QPushButton::event(e); }
};
} // namespace Qtitan

// Stand-ins known to the watcher only by their class names.
class RuvModelInputFrame : public QFrame { Q_OBJECT public: using QFrame::QFrame; };
class RuvFloatWidget : public QWidget { Q_OBJECT public: using QWidget::QWidget; };
class ContextMenu : public QMenu { Q_OBJECT public: using QMenu::QMenu; };

// A mouse event of type with the left button held, through Qt's delivery.
static void mouse(QObject *target, QEvent::Type type)
{
    QMouseEvent e(type, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &e);
}

class tst_Watcher : public QObject
{
    Q_OBJECT

    QScopedPointer<MessageCapture> capture;
    KelUbcTranslator translator{KelUbcTranslator::English};
    HelperProbe probe;

private slots:
    void initTestCase()
    {
        capture.reset(new MessageCapture);
        QCoreApplication::installTranslator(&translator);
        QVERIFY(KelUbc::instance());
        qApp->setProperty("RuvUbcHelper", QVariant::fromValue<QObject *>(&probe));
    }
    void init() { RecordingLog::reset(); probe.got.clear(); }

    void pressLocations()
    {
        // The label after a press delivered the way Qt delivers it, over the
        // label of a press on the ribbon's button.
        Qtitan::RibbonButton button;
        const QString unchanged = QStringLiteral("Ribbon toolbar");
        auto locationAfterPress = [&](QObject *target) {
            mouse(&button, QEvent::MouseButtonPress);
            mouse(target, QEvent::MouseButtonPress);
            return pendingLocation();
        };

        // Rule 1, also ahead of rule 2.
        QCOMPARE(locationAfterPress(&button), QStringLiteral("Ribbon toolbar"));
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

        // Rule 4: a native RuvFloatWidget two windows below a top-level widget.
        // All built before any is made native: a widget that becomes native inside
        // its QWidget constructor gets a window named "QWidgetClassWindow".
        QWidget host, middle(&host);
        RuvFloatWidget panel(&middle), shallowPanel(&host), topPanel;
        for (QWidget *w : std::initializer_list<QWidget *>{&middle, &panel, &shallowPanel})
            w->setAttribute(Qt::WA_NativeWindow);
        host.show();
        topPanel.show();
        QCOMPARE(locationAfterPress(panel.windowHandle()), QStringLiteral("View panel"));

        // Misses of rule 3: no parent, a parent of another class, a subclass of
        // QMenu. Of rule 4, all with the window's name: the grandparent missing,
        // no parent window at all, a grandparent that is a widget, not a window.
        QWidget namedLikePanel(&panel);
        namedLikePanel.setObjectName(QStringLiteral("RuvFloatWidgetClassWindow"));
        QCOMPARE(shallowPanel.windowHandle()->objectName() + topPanel.windowHandle()->objectName(),
                 namedLikePanel.objectName().repeated(2));
        for (QObject *miss : std::initializer_list<QObject *>{&orphanMenu, &strayMenu, &subclassMenu,
                 shallowPanel.windowHandle(), topPanel.windowHandle(), &namedLikePanel})
            QCOMPARE(locationAfterPress(miss), unchanged);

        // Near relatives of the handled types set no label and are no move, and
        // reach the receiver.
        for (QEvent::Type type : {QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                  QEvent::NonClientAreaMouseButtonPress, QEvent::NonClientAreaMouseMove}) {
            mouse(&button, type);
            QVERIFY2(button.received.contains(type), QByteArray::number(type));
        }
        QVERIFY(probe.got.isEmpty());
        QVERIFY(RecordingLog::calls().isEmpty());
        QCOMPARE(pendingLocation(), QString());
    }

    void idleRule()
    {
        Qtitan::RibbonButton target;

        // Idle gaps in milliseconds between two moves; only more than 600 whole
        // seconds report the return. Each move restarts the gap.
        const QList<QPair<qint64, QString>> gaps{{601000, QStringLiteral("580101002 580101003 ")}, {0, QString()},
                                                 {600000, QString()}, {600900, QString()}};
        for (const auto &gap : gaps) {
            mouse(&target, QEvent::MouseMove);
            probe.got.clear();
            advanceClock(gap.first);
            mouse(&target, QEvent::MouseMove);
            QCOMPARE(joined(probe.got), gap.second + QStringLiteral("time 580101003"));
        }
        QCOMPARE(target.received.count(QEvent::MouseMove), 2 * gaps.size());
    }

    void quit()
    {
        // A facade the host builds itself watches too, but reports through the
        // one instance: its own start time is null, the instance's is 100 s ago.
        KelUbc own;
        ubc()->startApp();
        advanceClock(100500);
        RecordingLog::reset();
        MessageCapture::messages().clear();
        Qtitan::RibbonButton receiver;
        QEvent quitEvent(QEvent::Quit);
        QCoreApplication::sendEvent(&receiver, &quitEvent);
        QCOMPARE(receiver.received.count(QEvent::Quit), 1);
        QCOMPARE(RecordingLog::records().size(), 2);
        for (const UbcDataProtocol &r : RecordingLog::records())
            QCOMPARE(r.fncode + QLatin1Char('/') + r.duration, QStringLiteral("990002/100"));
        // Each watcher: the record's info line, then the quit line.
        QStringList lines;
        for (const MessageCapture::Message &m : MessageCapture::messages())
            lines << QString::number(m.type) + m.text;
        const QStringList once{QString::number(QtInfoMsg) + QStringLiteral("\"Close software\""),
                               QString::number(QtDebugMsg) + QStringLiteral("Tavo>> quit application")};
        QCOMPARE(lines, once + once);
    }
};

QTEST_MAIN(tst_Watcher)
#include "tst_watcher.moc"
