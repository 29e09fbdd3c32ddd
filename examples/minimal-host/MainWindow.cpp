#include "MainWindow.h"

#include <KelUbc.h>                                                              // KelUbc

#include <QtCore/QDir>
#include <QtCore/QUuid>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QToolBar>

MainWindow::MainWindow()
{
    setWindowTitle(tr("Minimal host"));
    canvas = new QLabel(tr("Right-click for the context menu"));
    canvas->setMinimumSize(400, 300);
    canvas->setContextMenuPolicy(Qt::CustomContextMenu);
    setCentralWidget(canvas);

    newAction = new QAction(tr("&New project"), this);
    newAction->setShortcut(QKeySequence::New);
    closeAction = new QAction(tr("&Close project"), this);
    exportAction = new QAction(tr("&Export PDF..."), this);
    drawAction = new QAction(tr("&Draw line"), this);
    drawAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    copyAction = new QAction(tr("&Copy"), this);
    copyAction->setShortcut(QKeySequence::Copy);
    drawAction->setProperty("kelubcCode", QStringLiteral("210101"));            // KelUbc
    copyAction->setProperty("kelubcCode", QStringLiteral("210201"));            // KelUbc

    fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->addAction(newAction);
    fileMenu->addAction(exportAction);
    fileMenu->addAction(closeAction);
    fileMenu->addSeparator();
    fileMenu->addAction(tr("&Quit"), this, &QWidget::close);
    editMenu = menuBar()->addMenu(tr("&Edit"));
    editMenu->addAction(drawAction);
    editMenu->addAction(copyAction);
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    usageAction = help->addAction(tr("&Usage data..."));

    toolBar = addToolBar(tr("Tools"));
    toolBar->addAction(drawAction);
    toolBar->addAction(copyAction);

    canvasMenu = new QMenu(canvas);
    canvasMenu->addAction(copyAction);
    canvasMenu->addAction(drawAction);
    connect(canvas, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { canvasMenu->exec(canvas->mapToGlobal(at)); });

    connect(newAction, &QAction::triggered, this, &MainWindow::newProject);
    connect(closeAction, &QAction::triggered, this, &MainWindow::closeProject);
    connect(exportAction, &QAction::triggered, this, &MainWindow::exportPdf);
}

void MainWindow::newProject()
{
    closeProject();
    m_project = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString path = QDir::home().filePath(QStringLiteral("untitled.mhp"));
    KelUbc::instance()->newProject({path, 0, 0, 0, m_project}, {});             // KelUbc
    KelUbc::instance()->setProjRuningTime(0); // working time from 0            // KelUbc
}

void MainWindow::closeProject()
{
    if (m_project.isEmpty())
        return;
    KelUbc::instance()->closeProject({QString(), 0, 0, 0, m_project});          // KelUbc
    m_project.clear();
}

// A command with a value: a named event, looked up in the dictionary.
void MainWindow::exportPdf()
{
    KelUbc::instance()->send(QStringLiteral("310101"), QStringLiteral("3"));    // KelUbc
}
