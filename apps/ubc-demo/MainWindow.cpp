#include "MainWindow.h"
#include "DemoLogging.h"
#include "FloatWidget.h"
#include "ModelInputFrame.h"
#include "PropertyTable.h"
#include "RecordDock.h"
#include "RibbonBar.h"

#include <QtCore/QFileInfo>
#include <QtGui/QCloseEvent>
#include <QtGui/QShortcutEvent>
#include <QAction> // QtWidgets in Qt 5, QtGui in Qt 6
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDockWidget>
#include <QtWidgets/QMenu>
#include <QtWidgets/QStatusBar>

namespace {

// The dictionary's code for a property edit.
const QString PropertyEditCode = QStringLiteral("210210");

bool isDrawingCommand(const QString &id)
{
    return id == QLatin1String("wall") || id == QLatin1String("column")
           || id == QLatin1String("beam") || id == QLatin1String("slab");
}

} // namespace

MainWindow::MainWindow(const QString &projectPath, UiLanguage language, QWidget *parent)
    : QMainWindow(parent),
      m_language(language),
      m_projectPath(projectPath),
      m_ubc(KelUbc::instance())
{
    // Qt names this window's QWidgetWindow "RibbonMainWindowWindow"; KelUbc
    // takes a press on it that no button claims as one on the quick-access bar.
    setObjectName(QStringLiteral("RibbonMainWindow"));
    for (const HostCommand &command : CommandTable::all())
        m_actions.insert(command.id, createAction(command));

    m_ribbon = new RibbonBar(m_actions, language, this);
    setMenuWidget(m_ribbon);

    m_frame = new RuvModelInputFrame(this);
    setCentralWidget(m_frame);
    for (const char *id : {"copy", "move", "delete"})
        m_frame->contextMenu()->addAction(action(QLatin1String(id)));
    // A native child of the frame, which its native flag makes native too: the
    // panel's window sits two levels below the main window's.
    m_panel = new RuvFloatWidget(text("视图", "View"),
                                 {action(QStringLiteral("view3d")), action(QStringLiteral("plan")),
                                  action(QStringLiteral("zoom"))},
                                 m_frame);
    m_frame->setFloatPanel(m_panel);
    m_frame->setViewMode(text("平面视图", "Plan view"));

    m_properties = new PropertyTable(language, this);
    auto *propertyDock = new QDockWidget(text("属性", "Properties"), this);
    propertyDock->setObjectName(QStringLiteral("propertyDock"));
    propertyDock->setWidget(m_properties);
    addDockWidget(Qt::RightDockWidgetArea, propertyDock);
    m_records = new RecordDock(text("行为记录", "Behaviour records"), this);
    addDockWidget(Qt::BottomDockWidgetArea, m_records);

    connect(m_frame, &RuvModelInputFrame::linePicked, this, &MainWindow::finishDrawing);
    connect(m_frame, &RuvModelInputFrame::elementClicked, this, &MainWindow::select);
    connect(m_properties, &PropertyTable::propertyEdited, this, &MainWindow::editProperty);

    // The library attaches the host's current texts to the events that ask for them.
    QComboBox *major = m_ribbon->majorBox();
    QComboBox *layer = m_ribbon->layerBox();
    QComboBox *region = m_ribbon->regionBox();
    connect(major, &QComboBox::currentTextChanged, this, [this](const QString &t) { m_ubc->setCurMajor(t); });
    connect(layer, &QComboBox::currentTextChanged, this, [this](const QString &t) { m_ubc->setCurLayer(t); });
    connect(region, &QComboBox::currentTextChanged, this, [this](const QString &t) { m_ubc->setCurRegion(t); });
    m_ubc->setCurMajor(major->currentText());
    m_ubc->setCurLayer(layer->currentText());
    m_ubc->setCurRegion(region->currentText());

    resize(1280, 800);
    refresh();
    status(text("新建或打开一个工程", "Create or open a project"));
}

QAction *MainWindow::createAction(const HostCommand &command)
{
    auto *a = new QAction(command.name(m_language), this);
    a->setData(command.id);
    a->setShortcut(command.shortcut);
    a->installEventFilter(this);
    addAction(a); // shortcuts work wherever the focus is in this window
    connect(a, &QAction::triggered, this, [this, a] { onAction(a); });
    return a;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A shortcut reaches an action as this event just before it triggers.
    if (event->type() == QEvent::Shortcut && !static_cast<QShortcutEvent *>(event)->isAmbiguous())
        m_shortcutAction = qobject_cast<QAction *>(watched);
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onAction(QAction *action)
{
    const bool byShortcut = action == m_shortcutAction;
    m_shortcutAction = nullptr;
    runCommand(CommandTable::byId(action->data().toString()), byShortcut);
}

void MainWindow::runCommand(const HostCommand &command, bool byShortcut)
{
    if (command.code.isEmpty() || command.id == QLatin1String("new")
        || command.id == QLatin1String("open") || command.id == QLatin1String("save")) {
        runProjectCommand(command.id);
        return;
    }
    // The library adds where the command came from: ribbon, menu, panel or key.
    m_ubc->sendActionExecute(command.code, command.name(m_language), byShortcut);
    if (!m_project.isOpen()) {
        status(text("请先新建或打开工程", "Create or open a project first"));
        return;
    }
    runModelCommand(command);
}

void MainWindow::runProjectCommand(const QString &id)
{
    if (id == QLatin1String("new"))
        newProject();
    else if (id == QLatin1String("open"))
        openProject();
    else if (id == QLatin1String("save"))
        saveProject();
    else if (id == QLatin1String("close"))
        closeProject();
    else if (id == QLatin1String("exit"))
        close();
}

void MainWindow::runModelCommand(const HostCommand &command)
{
    const QString &id = command.id;
    const QString &code = command.code;
    if (id != QLatin1String("undo") && id != QLatin1String("redo"))
        m_frame->cancelPick();
    if (isDrawingCommand(id)) {
        startDrawing(command);
    } else if (id == QLatin1String("copy") || id == QLatin1String("offset")) {
        const bool copy = id == QLatin1String("copy");
        const QString kind = m_selected >= 0 ? m_project.elements().at(m_selected).kind : QString();
        const QString name = m_selected >= 0
                ? newElement(kind, QLineF()).name : QString();
        const int index = m_project.duplicate(m_selected, copy ? QPointF(0, 40) : QPointF(0, 24), name);
        if (index >= 0) {
            select(index);
            m_ubc->send(code, copy ? QStringLiteral("1") : QStringLiteral("480"));
        }
    } else if (id == QLatin1String("move")) {
        if (m_project.translate(m_selected, QPointF(40, 0)) >= 0) {
            refresh();
            m_ubc->send(code, QStringLiteral("800"));
        }
    } else if (id == QLatin1String("delete")) {
        if (m_project.remove(m_selected) >= 0) {
            select(-1);
            m_ubc->send(code, QStringLiteral("1"));
        }
    } else if (id == QLatin1String("view3d") || id == QLatin1String("plan")) {
        m_frame->setViewMode(command.name(m_language));
        if (id == QLatin1String("view3d"))
            m_ubc->send(code, QMap<QString, QString>{{QStringLiteral("mode"), text("轴测", "axonometric")}});
        else
            m_ubc->send(code);
    } else if (id == QLatin1String("zoom")) {
        m_frame->update();
    } else if (id == QLatin1String("layers")) {
        QStringList layers;
        for (int i = 0; i < m_ribbon->layerBox()->count(); ++i)
            layers << m_ribbon->layerBox()->itemText(i);
        status(text("图层：", "Layers: ") + layers.join(QStringLiteral(", ")));
    } else if (id == QLatin1String("quantities")) {
        qreal length = 0;
        for (const DemoElement &e : m_project.elements())
            length += e.line.length() * 20;
        status(text("构件 %1 个，总长 %2 m", "%1 elements, %2 m in total")
                   .arg(m_project.elements().size()).arg(length / 1000, 0, 'f', 1));
        m_ubc->send(code, QStringList{text("全部楼层", "all floors"), text("清单规则", "bill of quantities")});
        // Reported with the project's close.
        QString key = QStringLiteral("elements");
        QString value = QString::number(m_project.elements().size());
        m_ubc->sendMDByEvent(code.toULongLong(), UbcMDEventProjectClose, false, key, value);
        m_statistics.insert(code.toULongLong(), UbcMDEventProjectClose);
    } else if (id == QLatin1String("report")) {
        m_ubc->send(code, QMap<QString, QString>{{QStringLiteral("format"), QStringLiteral("xlsx")}});
    } else if (id == QLatin1String("undo") || id == QLatin1String("redo")) {
        if (id == QLatin1String("undo") ? m_project.undo() : m_project.redo())
            select(qMin(m_selected, int(m_project.elements().size()) - 1));
    }
}

void MainWindow::startDrawing(const HostCommand &command)
{
    m_drawing = command.id;
    // Timed from now; "layer" asks for the layer current at the commit.
    QString key = QStringLiteral("layer");
    QString value;
    m_ubc->sendMDByEvent(command.code.toULongLong(), UbcMDEventCommit, true, key, value);
    m_statistics.insert(command.code.toULongLong(), UbcMDEventCommit);
    m_frame->beginPick(command.name(m_language) + text("：指定起点和终点", ": pick two points"));
}

void MainWindow::finishDrawing(const QLineF &line)
{
    if (m_drawing.isEmpty() || !m_project.isOpen())
        return;
    const HostCommand &command = CommandTable::byId(m_drawing);
    m_drawing.clear();
    const DemoElement element = newElement(command.id, line);
    QStringList values;
    for (const auto &property : element.properties)
        values << property.second;
    select(m_project.add(element));
    // The dictionary names the values; a value it has no name for is dropped.
    m_ubc->send(command.code, values);
    QString key = QStringLiteral("length");
    QString length = QString::number(qRound(line.length() * 20));
    m_ubc->commitMD(command.code.toULongLong(), key, length, false);
}

DemoElement MainWindow::newElement(const QString &kind, const QLineF &line) const
{
    DemoElement e;
    e.kind = kind;
    e.line = line;
    auto add = [&](const char *zh, const char *en, const char *zhValue, const char *enValue) {
        e.properties.append({text(zh, en), text(zhValue, enValue)});
    };
    QString prefix;
    if (kind == QLatin1String("wall")) {
        prefix = text("墙", "Wall");
        add("厚度(mm)", "Thickness(mm)", "240", "240");
        add("高度(mm)", "Height(mm)", "3000", "3000");
        add("材质", "Material", "混凝土", "concrete");
    } else if (kind == QLatin1String("column")) {
        prefix = text("柱", "Column");
        add("截面(mm)", "Section(mm)", "400x400", "400x400");
        add("高度(mm)", "Height(mm)", "3000", "3000");
    } else if (kind == QLatin1String("beam")) {
        prefix = text("梁", "Beam");
        add("截面(mm)", "Section(mm)", "250x500", "250x500");
        add("标高(m)", "Elevation(m)", "3.000", "3.000");
    } else {
        prefix = text("板", "Slab");
        add("厚度(mm)", "Thickness(mm)", "120", "120");
    }
    e.name = prefix + QString::number(m_project.nextNumber(kind));
    return e;
}

void MainWindow::editProperty(const QString &element, const QString &property, const QString &value)
{
    if (m_selected < 0 || m_project.elements().at(m_selected).name != element)
        return;
    if (!m_project.setProperty(m_selected, property, value))
        return;
    // The table already shows the value; only the drawing is repainted.
    m_frame->setElements(m_project.elements(), m_selected);
    m_ubc->sendElementPropValueModified(PropertyEditCode, property, element, value);
}

SOperation MainWindow::operation() const
{
    SOperation op;
    op.prjFullPath = m_project.path();
    op.prjEdoCnt = m_project.editCount();
    op.prjSize = m_projectSize;
    op.projectId = m_project.id();
    return op;
}

void MainWindow::newProject()
{
    closeProject();
    m_project.create(m_projectPath);
    m_projectSize = 0;
    m_ubc->newProject(operation(), {{QStringLiteral("template"), text("标准模板", "standard")}});
    m_ubc->setProjRuningTime(0);
    select(-1);
    status(text("新工程：", "New project: ") + m_project.path());
}

void MainWindow::openProject()
{
    closeProject();
    QString error;
    if (!m_project.load(m_projectPath, &error)) {
        status(text("无法打开 ", "Cannot open ") + m_projectPath + QStringLiteral(": ") + error);
        return;
    }
    m_projectSize = QFileInfo(m_projectPath).size();
    m_ubc->openProject(operation());
    // The working time goes on from what the project has saved.
    m_ubc->setProjRuningTime(m_project.savedRunningTime());
    select(-1);
    status(text("已打开：", "Opened: ") + m_project.path());
}

void MainWindow::saveProject()
{
    if (!m_project.isOpen())
        return;
    QString error;
    qint64 size = 0;
    if (!m_project.save(m_ubc->getProjRuningTime(), &size, &error)) {
        qCWarning(lcDemo, "ubc-demo: cannot save %s: %s", qPrintable(m_project.path()), qPrintable(error));
        status(text("保存失败：", "Save failed: ") + error);
        return;
    }
    m_projectSize = size;
    m_ubc->saveProject(operation());
    status(text("已保存：", "Saved: ") + m_project.path());
}

void MainWindow::closeProject()
{
    if (!m_project.isOpen())
        return;
    m_closedRunningTime = m_ubc->getProjRuningTime();
    m_closedEditCount = m_project.editCount();
    m_ubc->closeProject(operation());
    m_project.close();
    m_drawing.clear();
    m_frame->cancelPick();
    select(-1);
    status(text("工程已关闭", "Project closed"));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing the last window posts the application's Quit, which KelUbc
    // logs as the application's close.
    closeProject();
    QMainWindow::closeEvent(event);
}

void MainWindow::select(int index)
{
    m_selected = index >= 0 && index < m_project.elements().size() ? index : -1;
    refresh();
}

void MainWindow::refresh()
{
    m_frame->setElements(m_project.elements(), m_selected);
    m_properties->showElement(m_selected >= 0 ? &m_project.elements().at(m_selected) : nullptr);
    setWindowTitle(m_project.isOpen() ? QStringLiteral("ubc-demo - ") + QFileInfo(m_project.path()).fileName()
                                      : QStringLiteral("ubc-demo"));
}

void MainWindow::status(const QString &message)
{
    statusBar()->showMessage(message);
}

QString MainWindow::text(const char *zh, const char *en) const
{
    return QString::fromUtf8(m_language == UiLanguage::English ? en : zh);
}
