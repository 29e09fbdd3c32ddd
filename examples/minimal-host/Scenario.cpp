#include "Scenario.h"

#include "MainWindow.h"

#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QToolBar>

#include <cstdio>

namespace {

void step(const char *what)
{
    std::printf("> %s\n", what);
    std::fflush(stdout);
}

void clickItem(QMenu *menu, QAction *action)
{
    QTest::qWait(20);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
}

void fromMenuBar(MainWindow *w, QMenu *menu, QAction *action)
{
    QMenuBar *bar = w->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    clickItem(menu, action);
}

void fromToolBar(MainWindow *w, QAction *action)
{
    QTest::mouseClick(w->toolBar->widgetForAction(action), Qt::LeftButton);
}

void fromContextMenu(MainWindow *w, QAction *action)
{
    // The menu runs its own loop: the item is clicked from inside it.
    QTimer::singleShot(50, w, [w, action] { clickItem(w->canvasMenu, action); });
    const QPoint at(20, 20);
    QTest::mousePress(w->canvas, Qt::RightButton, {}, at);
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, w->canvas->mapToGlobal(at));
    QApplication::sendEvent(w->canvas, &request);
    QTest::mouseRelease(w->canvas, Qt::RightButton, {}, at);
}

} // namespace

void Scenario::answerConsent(const QString &answer)
{
    const QString level = answer.isEmpty() ? QStringLiteral("local") : answer;
    QTimer::singleShot(0, [level] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        std::printf("> consent: %s\n", qPrintable(level));
        dialog->findChild<QRadioButton *>(level)->click();
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
}

void Scenario::play(MainWindow *w)
{
    QTimer::singleShot(0, w, [w] {
        QTest::qWaitForWindowExposed(w);
        step("new project (menu bar)");
        fromMenuBar(w, w->fileMenu, w->newAction);
        step("draw line (tool bar)");
        fromToolBar(w, w->drawAction);
        step("draw line (menu bar)");
        fromMenuBar(w, w->editMenu, w->drawAction);
        step("draw line (Ctrl+D)");
        QTest::keyClick(w, Qt::Key_D, Qt::ControlModifier);
        step("draw line (context menu)");
        fromContextMenu(w, w->drawAction);
        step("copy (context menu)");
        fromContextMenu(w, w->copyAction);
        step("copy (tool bar)");
        fromToolBar(w, w->copyAction);
        step("copy (menu bar)");
        fromMenuBar(w, w->editMenu, w->copyAction);
        step("copy (Ctrl+C)");
        QTest::keyClick(w, Qt::Key_C, Qt::ControlModifier);
        step("export PDF (menu bar)");
        fromMenuBar(w, w->fileMenu, w->exportAction);
        step("close project, quit");
        fromMenuBar(w, w->fileMenu, w->closeAction);
        w->close();
    });
}
