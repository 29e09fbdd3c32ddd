#ifndef KELUBCACTIONTRACKER_H
#define KELUBCACTIONTRACKER_H

#include "KelUbcHostWidgetsGlobal.h"

#include <QtCore/QObject>
#include <QtCore/QString>

class QAction;
class KelUbcActionTrackerPrivate;

// Logs the host's QActions as executed commands: each trigger gives one
// KelUbc::sendActionExecute record with the action's code, its text as the
// name, and a "location" that says where this trigger came from:
//
//   a QToolButton in a QToolBar, or a menu opened from one   "工具栏"  (Toolbar)
//   a menu of a QMenuBar, and its submenus                   "菜单栏"  (Menu bar)
//   a menu opened by a context-menu event                    "右键"    (Right-click menu)
//   the action's shortcut                                    "快捷键"  (byShortcut true)
//   a widget with the property "kelubcLocation", or inside one   that text
//
// An action shared by a menu and a tool bar gets the place of each trigger.
// Where none of these applies (a trigger from code, a button outside any tool
// bar or labelled widget) the record carries what KelUbc's own event watcher
// found, as for any sendActionExecute. Install it on the application, then
// name actions one by one or by property:
//
//     auto *tracker = new KelUbcActionTracker(&app);
//     tracker->track(saveAction, QStringLiteral("110102"));
//     copyAction->setProperty("kelubcCode", QStringLiteral("210201"));  // picked up when added to a widget
//     canvas->setProperty("kelubcLocation", QStringLiteral("Canvas"));  // the host's own place label
//
// GUI thread only. Labels are translated under the context "KelUbc" like the
// library's own, so KelUbcTranslator gives them in Chinese or English.
class KELUBCHOSTWIDGETS_EXPORT KelUbcActionTracker : public QObject
{
    Q_OBJECT
public:
    // Watches the application's events; parent it to the application.
    explicit KelUbcActionTracker(QObject *parent = nullptr);
    ~KelUbcActionTracker() override;

    // Logs every trigger of action under fncode; a new code replaces the old,
    // an empty one stops tracking.
    void track(QAction *action, const QString &fncode);
    QString code(const QAction *action) const;

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Q_DISABLE_COPY(KelUbcActionTracker)
    KelUbcActionTrackerPrivate *d;
};

#endif // KELUBCACTIONTRACKER_H
