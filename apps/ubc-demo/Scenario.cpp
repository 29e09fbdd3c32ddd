#include "Scenario.h"
#include "DemoLogging.h"
#include "FloatWidget.h"
#include "MainWindow.h"
#include "ModelInputFrame.h"
#include "PropertyTable.h"
#include "RibbonBar.h"
#include "RibbonButton.h"

#include <QtCore/QFile>
#include <QtGui/QWindow>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QMenu>

#include <cstdio>

namespace {

void say(const QString &line)
{
    // UTF-8 whatever the locale's code page.
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QPoint midpoint(const DemoElement &element)
{
    return element.line.center().toPoint();
}

} // namespace

Scenario::Scenario(MainWindow *window, QObject *parent)
    : QObject(parent),
      m_window(window)
{
    // A step that hangs must not hang the run.
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(30000);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("the session did not end in time"));
        QCoreApplication::exit(1);
    });
    script();
}

void Scenario::start()
{
    m_watchdog.start();
    if (!QTest::qWaitForWindowActive(m_window)) {
        fail(QStringLiteral("the main window did not become active"));
        return;
    }
    // KelUbc knows the view panel by its window: named after the class, two
    // native windows below the main window's.
    QStringList chain;
    for (const QObject *o = m_window->viewPanel()->windowHandle(); o; o = o->parent())
        chain << QStringLiteral("%1 (%2)").arg(o->objectName(), QLatin1String(o->metaObject()->className()));
    say(QStringLiteral("view panel window: ") + chain.join(QStringLiteral(" < ")));
    if (chain.size() != 3 || !chain.first().startsWith(QLatin1String("RuvFloatWidgetClassWindow ("))) {
        fail(QStringLiteral("the view panel is not a native window two levels below the main window"));
        return;
    }
    runNext();
}

void Scenario::script()
{
    MainWindow *w = m_window;
    RibbonBar *ribbon = w->ribbon();
    RuvModelInputFrame *frame = w->modelFrame();
    auto elements = [w] { return w->project().elements().size(); };
    auto name = [w](const char *id) { return w->action(QLatin1String(id))->text(); };

    add(QStringLiteral("ribbon: ") + name("new"), [=] {
        click(ribbon->button(QStringLiteral("new")));
        return w->project().isOpen();
    });
    add(QStringLiteral("layer box: Down"), [=] {
        QComboBox *layer = ribbon->layerBox();
        const int before = layer->currentIndex();
        layer->setFocus(Qt::TabFocusReason);
        key(Qt::Key_Down);
        return layer->currentIndex() == before + 1;
    });
    add(QStringLiteral("ribbon: ") + name("wall"), [=] {
        click(ribbon->button(QStringLiteral("wall")));
        return frame->isPicking();
    });
    // The user takes a moment to pick the points: the statistic's duration.
    add(QStringLiteral("drawing: pick the start point"), [=] {
        click(frame, QPoint(120, 200));
        return frame->isPicking();
    }, 1100);
    add(QStringLiteral("drawing: pick the end point"), [=] {
        click(frame, QPoint(420, 200));
        return elements() == 1;
    });
    add(QStringLiteral("drawing: right-click the wall"), [=] {
        click(frame, midpoint(w->project().elements().at(0)), Qt::RightButton);
        return frame->contextMenu()->isVisible();
    });
    add(QStringLiteral("context menu: ") + name("copy"), [=] {
        QMenu *menu = frame->contextMenu();
        click(menu, menu->actionGeometry(w->action(QStringLiteral("copy"))).center());
        return elements() == 2 && !menu->isVisible();
    });
    add(QStringLiteral("view panel: ") + name("view3d"), [=] {
        click(w->viewPanel()->button(w->action(QStringLiteral("view3d"))));
        return true;
    });
    add(QStringLiteral("keyboard: Ctrl+Z (") + name("undo") + QLatin1Char(')'), [=] {
        key(Qt::Key_Z, Qt::ControlModifier);
        return elements() == 1;
    });
    add(QStringLiteral("quick-access bar: ") + name("redo"), [=] {
        click(ribbon->quickButton(QStringLiteral("redo")));
        return elements() == 2;
    });
    add(QStringLiteral("keyboard: F9 (") + name("quantities") + QLatin1Char(')'), [=] {
        key(Qt::Key_F9);
        return true;
    });
    add(QStringLiteral("drawing: select the first wall"), [=] {
        click(frame, midpoint(w->project().elements().at(0)));
        return w->selectedElement() == 0;
    });
    add(QStringLiteral("property table: edit the first value"), [=] {
        PropertyTable *table = w->propertyTable();
        const QRect cell = table->visualItemRect(table->item(0, 1));
        click(table->viewport(), cell.center());
        key(Qt::Key_F2);
        key(Qt::Key_A, Qt::ControlModifier);
        type(QStringLiteral("200"));
        key(Qt::Key_Return);
        return w->project().elements().at(0).properties.at(0).second == QLatin1String("200");
    });
    add(QStringLiteral("mouse: move over the drawing twice"), [=] {
        move(frame, QPoint(300, 260));
        move(frame, QPoint(320, 270));
        return true;
    });
    add(QStringLiteral("keyboard: Ctrl+S (") + name("save") + QLatin1Char(')'), [=] {
        key(Qt::Key_S, Qt::ControlModifier);
        return QFile::exists(w->project().path());
    });
    add(QStringLiteral("ribbon: ") + name("close"), [=] {
        click(ribbon->button(QStringLiteral("close")));
        return !w->project().isOpen();
    });
    add(QStringLiteral("ribbon: ") + name("open"), [=] {
        click(ribbon->button(QStringLiteral("open")));
        return elements() == 2;
    });
    add(QStringLiteral("ribbon: ") + name("exit"), [=] {
        click(ribbon->button(QStringLiteral("exit")));
        return !w->isVisible();
    });
}

void Scenario::add(const QString &text, const std::function<bool()> &act, int delay)
{
    m_steps.append({text, delay, act});
}

void Scenario::runNext()
{
    if (m_failed || m_next >= m_steps.size())
        return;
    const Step &step = m_steps.at(m_next++);
    QTimer::singleShot(step.delay, this, [this, step] {
        say(QStringLiteral("> ") + step.text);
        if (!step.act())
            fail(QStringLiteral("no response to \"%1\"").arg(step.text));
        else
            runNext();
    });
}

void Scenario::fail(const QString &why)
{
    if (m_failed)
        return;
    m_failed = true;
    qCWarning(lcDemo, "ubc-demo: scenario failed: %s", qPrintable(why));
    // Closing still ends the session the normal way.
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    m_window->close();
}

void Scenario::click(QWidget *widget, QPoint pos, Qt::MouseButton button)
{
    if (pos.isNull())
        pos = widget->rect().center();
    // Into the nearest native window, as the platform would deliver it.
    QWidget *native = widget->internalWinId() ? widget : widget->nativeParentWidget();
    QTest::mouseClick(native->windowHandle(), button, Qt::NoModifier, widget->mapTo(native, pos));
}

void Scenario::key(int key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(m_window->windowHandle(), Qt::Key(key), modifiers);
}

void Scenario::type(const QString &text)
{
    for (const QChar c : text)
        QTest::keyClick(m_window->windowHandle(), c.toLatin1());
}

void Scenario::move(QWidget *widget, QPoint pos)
{
    QWidget *native = widget->internalWinId() ? widget : widget->nativeParentWidget();
    QTest::mouseMove(native->windowHandle(), widget->mapTo(native, pos));
}
