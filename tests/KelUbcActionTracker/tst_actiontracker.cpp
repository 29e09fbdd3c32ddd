// The action tracker: one record per trigger, located by where the trigger
// came from, with real mouse and key events delivered through the application.

#include "TestLogs.h"

#include <KelUbc.h>
#include <KelUbcActionTracker.h>
#include <KelUbcTranslator.h>
#include <RuvUbc.h>

#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QToolBar>
#include <QtWidgets/QToolButton>
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtGui/QAction>
#else
#include <QtWidgets/QAction>
#endif

// A tool button class of the host's own.
class FancyButton : public QToolButton
{
    Q_OBJECT
};

class tst_ActionTracker : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString log;
    int seen = 0; // records read by newRecords()
    KelUbcTranslator *translator = nullptr;

    // The records written since the last call, as "fncode@location".
    QStringList newRecords()
    {
        const QList<QJsonObject> all = TestLogs::objects(log);
        QStringList records;
        for (const QJsonObject &o : all.mid(seen))
            records << o.value(QLatin1String("fncode")).toString() + QLatin1Char('@')
                           + o.value(QLatin1String("attrs")).toObject().value(QLatin1String("location")).toString();
        seen = all.size();
        return records;
    }

    static void clickMenuItem(QMenu *menu, QAction *action)
    {
        QTRY_VERIFY(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    }

private slots:
    void initTestCase()
    {
        translator = new KelUbcTranslator(KelUbcTranslator::English, qApp);
        qApp->installTranslator(translator);
        log = dir.filePath(QStringLiteral("records.jsonl"));
        KelUbc::instance()->setLogFilePath(log);
    }

    void locations()
    {
        KelUbcActionTracker tracker(qApp);
        QMainWindow window;
        auto *draw = new QAction(QStringLiteral("&Draw wall..."), &window);
        auto *copy = new QAction(QStringLiteral("Copy"), &window);
        auto *fancy = new QAction(QStringLiteral("Fancy"), &window);
        auto *popup = new QAction(QStringLiteral("From tool menu"), &window);
        tracker.track(draw, QStringLiteral("210101"));
        tracker.track(fancy, QStringLiteral("210103"));
        draw->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
        // By property, before and after the action joins a widget.
        copy->setProperty("kelubcCode", QStringLiteral("210102"));
        QMenu *file = window.menuBar()->addMenu(QStringLiteral("File"));
        file->addAction(draw);
        QMenu *more = file->addMenu(QStringLiteral("More"));
        more->addAction(copy);
        QToolBar *bar = window.addToolBar(QStringLiteral("Tools"));
        bar->addAction(draw); // shared with the menu
        auto *button = new FancyButton;
        button->setDefaultAction(fancy);
        bar->addWidget(button);
        auto *toolMenu = new QMenu(&window);
        toolMenu->addAction(popup);
        popup->setProperty("kelubcCode", QStringLiteral("210104"));
        auto *menuButton = new QToolButton;
        menuButton->setMenu(toolMenu);
        menuButton->setPopupMode(QToolButton::InstantPopup);
        bar->addWidget(menuButton);
        QCOMPARE(tracker.code(copy), QStringLiteral("210102"));
        QCOMPARE(tracker.code(popup), QStringLiteral("210104"));

        auto *canvas = new QWidget;
        canvas->setProperty("kelubcLocation", QStringLiteral("Canvas"));
        auto *canvasButton = new QToolButton(canvas);
        canvasButton->setDefaultAction(copy);
        auto *context = new QMenu(canvas);
        context->addAction(copy);
        window.setCentralWidget(canvas);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        newRecords();


        QTest::mouseClick(bar->widgetForAction(draw), Qt::LeftButton);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210101@Toolbar")});

        QTest::mouseClick(window.menuBar(), Qt::LeftButton, {}, window.menuBar()->actionGeometry(file->menuAction()).center());
        clickMenuItem(file, draw);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210101@Menu bar")});

        // A submenu of the menu bar's menu.
        QTest::mouseClick(window.menuBar(), Qt::LeftButton, {}, window.menuBar()->actionGeometry(file->menuAction()).center());
        QTRY_VERIFY(file->isVisible());
        file->setActiveAction(more->menuAction());
        QTRY_VERIFY(more->isVisible());
        clickMenuItem(more, copy);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210102@Menu bar")});

        QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210101@Shortcut key")});

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210103@Toolbar")});

        // The tool button's menu runs its own event loop.
        QTimer::singleShot(0, toolMenu, [toolMenu, popup] { clickMenuItem(toolMenu, popup); });
        QTest::mousePress(menuButton, Qt::LeftButton);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210104@Toolbar")});

        // A context menu, as the window system asks for one.
        QTest::mousePress(canvas, Qt::RightButton, {}, QPoint(5, 5));
        QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5), canvas->mapToGlobal(QPoint(5, 5)));
        QObject::connect(canvas, &QWidget::customContextMenuRequested, context,
                         [context, canvas](const QPoint &at) { context->popup(canvas->mapToGlobal(at)); });
        canvas->setContextMenuPolicy(Qt::CustomContextMenu);
        QApplication::sendEvent(canvas, &request);
        clickMenuItem(context, copy);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210102@Right-click menu")});

        // The host's own label; then a trigger from code, which no input explains.
        QTest::mouseClick(canvasButton, Qt::LeftButton);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210102@Canvas")});
        draw->trigger();
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210101@")});

        // Untracked, the action logs nothing; labels follow the translator.
        tracker.track(fancy, QString());
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(newRecords(), QStringList());
        translator->setLanguage(KelUbcTranslator::Chinese);
        QTest::mouseClick(bar->widgetForAction(draw), Qt::LeftButton);
        QCOMPARE(newRecords(), QStringList{QStringLiteral("210101@工具栏")});
        translator->setLanguage(KelUbcTranslator::English);
    }

    void nameAndOverride()
    {
        KelUbcActionTracker tracker(qApp);
        QToolBar bar;
        auto *action = bar.addAction(QStringLiteral("&Save..."));
        tracker.track(action, QStringLiteral("110102"));
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        newRecords();
        QTest::mouseClick(bar.widgetForAction(action), Qt::LeftButton);
        QCOMPARE(TestLogs::column(TestLogs::objects(log), QStringLiteral("fnname")).constLast(), QStringLiteral("Save"));
        // The location replaced for the tracker's record only: the next record of
        // the facade carries the watcher's label (none) again.
        KelUbc::instance()->sendActionExecute(QStringLiteral("110103"), QStringLiteral("Print"), false);
        QCOMPARE(newRecords(), (QStringList{QStringLiteral("110102@Toolbar"), QStringLiteral("110103@")}));
    }
};

QTEST_MAIN(tst_ActionTracker)
#include "tst_actiontracker.moc"
