#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "CommandTable.h"
#include "DemoProject.h"

#include <KelUbc.h>

#include <QtCore/QHash>
#include <QtCore/QMap>
#include <QtWidgets/QMainWindow>

class QAction;
class PropertyTable;
class RecordDock;
class RibbonBar;
class RuvFloatWidget;
class RuvModelInputFrame;

// The demo host: a small engineering-drawing application that reports what
// its user does to KelUbc, the way a real host does.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow(const QString &projectPath, UiLanguage language, QWidget *parent = nullptr);

    QAction *action(const QString &id) const { return m_actions.value(id); }
    RibbonBar *ribbon() const { return m_ribbon; }
    RuvModelInputFrame *modelFrame() const { return m_frame; }
    RuvFloatWidget *viewPanel() const { return m_panel; }
    PropertyTable *propertyTable() const { return m_properties; }
    const DemoProject &project() const { return m_project; }
    int selectedElement() const { return m_selected; }

    // What the host knew when the last project closed.
    qint64 closedRunningTime() const { return m_closedRunningTime; }
    int closedEditCount() const { return m_closedEditCount; }
    // Statistics handed to KelUbc: code to its event type.
    const QMap<quint64, int> &statistics() const { return m_statistics; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QAction *createAction(const HostCommand &command);
    void onAction(QAction *action);
    void runCommand(const HostCommand &command, bool byShortcut);
    void runProjectCommand(const QString &id);
    void runModelCommand(const HostCommand &command);
    void newProject();
    void openProject();
    void saveProject();
    void closeProject();
    SOperation operation() const;
    DemoElement newElement(const QString &kind, const QLineF &line) const;
    void startDrawing(const HostCommand &command);
    void finishDrawing(const QLineF &line);
    void editProperty(const QString &element, const QString &property, const QString &value);
    void select(int index);
    void refresh();
    void status(const QString &text);
    QString text(const char *zh, const char *en) const;

    const UiLanguage m_language;
    const QString m_projectPath;
    KelUbc *m_ubc;
    QHash<QString, QAction *> m_actions;
    QAction *m_shortcutAction = nullptr;
    RibbonBar *m_ribbon;
    RuvModelInputFrame *m_frame;
    RuvFloatWidget *m_panel;
    PropertyTable *m_properties;
    RecordDock *m_records;
    DemoProject m_project;
    qint64 m_projectSize = 0;
    int m_selected = -1;
    QString m_drawing; // id of the drawing command waiting for its points
    qint64 m_closedRunningTime = 0;
    int m_closedEditCount = 0;
    QMap<quint64, int> m_statistics;
};

#endif // MAINWINDOW_H
