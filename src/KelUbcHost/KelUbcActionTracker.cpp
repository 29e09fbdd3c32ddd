#include "KelUbcActionTracker.h"

#include <KelUbc.h>
#include <KelUbcLabels.h>
#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtGui/QActionEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QToolBar>
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtGui/QAction>
#else
#include <QtWidgets/QAction>
#endif

namespace {

const char CodeProperty[] = "kelubcCode";
const char LocationProperty[] = "kelubcLocation";

QString label(KelUbcLabels::Label label)
{
    return QCoreApplication::translate("KelUbc", KelUbcLabels::labelSource(label));
}

// Where an input event came from: a known place, a shortcut of one action, or
// nothing known (KelUbc's watcher then has the say).
struct Origin
{
    enum Kind { Unknown, Place, Shortcut } kind = Unknown;
    QString label;              // Place
    QPointer<QAction> action;   // Shortcut
};

Origin place(const QString &text)
{
    Origin origin;
    origin.kind = Origin::Place;
    origin.label = text;
    return origin;
}

} // namespace

class KelUbcActionTrackerPrivate
{
public:
    explicit KelUbcActionTrackerPrivate(KelUbcActionTracker *q) : q(q) {}

    void pickUp(QAction *action);
    void triggered(QAction *action);
    Origin placeOf(QWidget *widget) const;
    Origin menuOrigin(QMenu *menu) const;

    KelUbcActionTracker *const q;
    QHash<const QAction *, QString> codes;
    QHash<const QAction *, QMetaObject::Connection> connections;
    QHash<const QMenu *, Origin> menus;   // where each menu was last opened from
    Origin pending;                       // the latest input event's origin
    QPointer<QWidget> opener;             // the latest pressed widget
    bool contextRequested = false;        // a context-menu event since the latest press
};

void KelUbcActionTrackerPrivate::pickUp(QAction *action)
{
    const QString code = action->property(CodeProperty).toString();
    if (codes.value(action) != code)
        q->track(action, code);
}

Origin KelUbcActionTrackerPrivate::placeOf(QWidget *widget) const
{
    if (auto *menu = qobject_cast<QMenu *>(widget))
        return menus.value(menu);
    // KelUbc's watcher labels its ribbon's buttons itself.
    if (qstrcmp(widget->metaObject()->className(), "Qtitan::RibbonButton") == 0)
        return Origin();
    for (QWidget *w = widget; w; w = w->parentWidget()) {
        const QString own = w->property(LocationProperty).toString();
        if (!own.isEmpty())
            return place(own);
        if (qobject_cast<QToolBar *>(w))
            return place(label(KelUbcLabels::LabelToolbar));
        if (qobject_cast<QMenuBar *>(w))
            return place(label(KelUbcLabels::LabelMenuBar));
        if (w->isWindow())
            break;
    }
    return Origin();
}

Origin KelUbcActionTrackerPrivate::menuOrigin(QMenu *menu) const
{
    // A submenu comes from where its parent menu came from.
    QAction *self = menu->menuAction();
    const auto topLevels = QApplication::topLevelWidgets();
    for (QWidget *w : topLevels) {
        auto *parentMenu = qobject_cast<QMenu *>(w);
        if (parentMenu && parentMenu != menu && parentMenu->isVisible() && parentMenu->actions().contains(self))
            return menus.value(parentMenu);
    }
    if (contextRequested)
        return place(label(KelUbcLabels::LabelContextMenu));
    return opener ? placeOf(opener) : Origin();
}

void KelUbcActionTrackerPrivate::triggered(QAction *action)
{
    const Origin origin = pending;
    pending = Origin(); // one trigger per input event
    KelUbc *ubc = KelUbc::instance();
    if (!ubc)
        return;
    QString name = action->iconText(); // the text without "&" and "..."
    if (name.isEmpty())
        name = action->objectName();
    const QString code = codes.value(action);
    if (origin.kind == Origin::Shortcut && origin.action == action) {
        ubc->sendActionExecute(code, name, true);
    } else if (origin.kind == Origin::Place) {
        RuvUbc::instance()->setAttributeOverride(QStringLiteral("location"), origin.label);
        ubc->sendActionExecute(code, name, false);
        RuvUbc::instance()->clearAttributeOverride();
    } else {
        ubc->sendActionExecute(code, name, false);
    }
}

KelUbcActionTracker::KelUbcActionTracker(QObject *parent)
    : QObject(parent), d(new KelUbcActionTrackerPrivate(this))
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

KelUbcActionTracker::~KelUbcActionTracker()
{
    for (const QMetaObject::Connection &connection : qAsConst(d->connections))
        disconnect(connection);
    delete d;
}

void KelUbcActionTracker::track(QAction *action, const QString &fncode)
{
    if (!action)
        return;
    const bool known = d->connections.contains(action);
    disconnect(d->connections.take(action));
    d->codes.remove(action);
    if (fncode.isEmpty())
        return;
    d->codes.insert(action, fncode);
    d->connections.insert(action, connect(action, &QAction::triggered, this, [this, action] {
        d->triggered(action);
    }));
    if (!known) // the action is only a key here once gone
        connect(action, &QObject::destroyed, this, [this, action] {
            d->codes.remove(action);
            d->connections.remove(action);
        });
}

QString KelUbcActionTracker::code(const QAction *action) const
{
    return d->codes.value(action);
}

bool KelUbcActionTracker::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ActionAdded:
        if (QAction *action = static_cast<QActionEvent *>(event)->action())
            if (action->property(CodeProperty).isValid())
                d->pickUp(action);
        break;
    case QEvent::DynamicPropertyChange:
        if (static_cast<QDynamicPropertyChangeEvent *>(event)->propertyName() == CodeProperty)
            if (auto *action = qobject_cast<QAction *>(watched))
                d->pickUp(action);
        break;
    case QEvent::Shortcut:
        d->pending = Origin();
        d->pending.kind = Origin::Shortcut;
        d->pending.action = qobject_cast<QAction *>(watched);
        if (auto *bar = qobject_cast<QMenuBar *>(watched)) // a mnemonic opening a menu
            d->opener = bar;
        break;
    case QEvent::ContextMenu:
        d->contextRequested = true;
        break;
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
        if (watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            d->contextRequested = false;
            if (event->type() == QEvent::MouseButtonPress && !qobject_cast<QMenu *>(widget))
                d->opener = widget;
            d->pending = d->placeOf(widget);
        }
        break;
    case QEvent::MouseButtonRelease:
    case QEvent::KeyRelease:
        if (watched->isWidgetType())
            d->pending = d->placeOf(static_cast<QWidget *>(watched));
        break;
    case QEvent::Show:
        if (auto *menu = qobject_cast<QMenu *>(watched)) {
            if (!d->menus.contains(menu))
                connect(menu, &QObject::destroyed, this, [this, menu] { d->menus.remove(menu); });
            d->menus.insert(menu, d->menuOrigin(menu));
            d->contextRequested = false;
        }
        break;
    default:
        break;
    }
    return false;
}
