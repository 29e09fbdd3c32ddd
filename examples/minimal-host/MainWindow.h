#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QtWidgets/QMainWindow>

class QAction;
class QMenu;
class QToolBar;

// A plain editor window: a menu bar, a tool bar, shortcuts, a context menu on
// the canvas, and a project that opens and closes.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow();

    QAction *drawAction = nullptr;
    QAction *copyAction = nullptr;
    QAction *exportAction = nullptr;
    QAction *newAction = nullptr;
    QAction *closeAction = nullptr;
    QAction *usageAction = nullptr;
    QMenu *fileMenu = nullptr;
    QMenu *editMenu = nullptr;
    QMenu *canvasMenu = nullptr;
    QToolBar *toolBar = nullptr;
    QWidget *canvas = nullptr;

private:
    void newProject();
    void closeProject();
    void exportPdf();

    QString m_project;
};

#endif // MAINWINDOW_H
