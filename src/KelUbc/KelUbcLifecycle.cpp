// Application and project lifecycle, project running time and the event watcher.

#include "KelUbcPrivate.h"

#include <KelTimeTracker.h>
#include <RecordFormat/RecordCodes.h>

#include <QtCore/QDebug>
#include <QtCore/QEvent>

namespace {

const qint64 IdleSeconds = 600;

} // namespace

// A lifecycle record's code, label name and the special-function group.
static void lifecycle(UbcDataProtocol &r, const RecordCodes::Lifecycle &which)
{
    r.fncode = QLatin1String(which.code);
    r.fnname = KelUbcPrivate::label(which.label);
    r.fngroup = KelUbcPrivate::label(KelUbcPrivate::LabelSpecialFunction);
}

void KelUbcPrivate::openApp()
{
    record([](UbcDataProtocol &r) { lifecycle(r, RecordCodes::OpenApp); });
}

void KelUbcPrivate::startApp()
{
    m_appStartTime = now();
    record([](UbcDataProtocol &r) { lifecycle(r, RecordCodes::StartApp); });
}

void KelUbcPrivate::closeApp()
{
    const qint64 seconds = m_appStartTime.secsTo(now()); // 0 before any startApp
    record([seconds](UbcDataProtocol &r) {
        lifecycle(r, RecordCodes::CloseApp);
        r.duration = QString::number(seconds);
    });
}

void KelUbcPrivate::newProject(const SOperation &op, const QMap<QString, QString> &attributes)
{
    m_projectOpenTime = now();
    record([&op, &attributes](UbcDataProtocol &r) {
        lifecycle(r, RecordCodes::NewProject);
        r.projectid = op.projectId;
        r.prjfullpath = op.prjFullPath;
        r.attrs = attributes;
    });
    m_projectId = op.projectId;
}

void KelUbcPrivate::openProject(const SOperation &op)
{
    m_projectOpenTime = now();
    record([&op](UbcDataProtocol &r) {
        lifecycle(r, RecordCodes::OpenProject);
        r.projectid = op.projectId;
    });
    m_projectId = op.projectId;
}

void KelUbcPrivate::saveProject(const SOperation &op)
{
    const QString editCount = QString::number(op.prjEdoCnt);
    record([&op, &editCount](UbcDataProtocol &r) {
        lifecycle(r, RecordCodes::SaveProject);
        r.projectid = op.projectId;
        r.prjedocnt = editCount;
        r.prjsize = QString::number(op.prjSize / 1000);
    });
    // Sent whether or not the record was logged.
    if (KelUbcPrivate *s = singleton())
        s->send(RecordCodes::EditCount, QStringLiteral("prjedocnt"), editCount, true);
}

void KelUbcPrivate::closeProject(const SOperation &op)
{
    const qint64 seconds = m_projectOpenTime.secsTo(now());
    record([&op, seconds](UbcDataProtocol &r) {
        lifecycle(r, RecordCodes::CloseProject);
        r.prjsize = QString::number(op.prjSize / 1000);
        r.projectid = op.projectId;
        r.prjedocnt = QString::number(op.prjEdoCnt);
        r.duration = QString::number(seconds);
    });
    commitMDOnProjectClose();
    // The current project's tracking ends, whatever op.projectId says.
    const std::string key = m_projectId.toStdString();
    KelTimeTracker::getInstance()->removeTrackWork(key);
}

qint64 KelUbcPrivate::getProjRuningTime()
{
    const std::string key = m_projectId.toStdString();
    return KelTimeTracker::getInstance()->getWorkingTime(key);
}

void KelUbcPrivate::setProjRuningTime(qint64 time)
{
    m_mdStates.clear();
    const std::string key = m_projectId.toStdString();
    KelTimeTracker::getInstance()->startTrackWork(key, time);
}

void KelUbcPrivate::watch(QCoreApplication *app)
{
    app->installEventFilter(this);
    m_helperLink.watch(app);
}

bool KelUbcPrivate::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DynamicPropertyChange:
        // Another helper, or none: found anew at the next coded event.
        if (watched == QCoreApplication::instance()
            && static_cast<QDynamicPropertyChangeEvent *>(event)->propertyName() == "RuvUbcHelper")
            m_helperLink.reset();
        break;
    case QEvent::MouseMove:
        handleMouseMove();
        break;
    case QEvent::MouseButtonPress:
        handleMousePress(watched);
        break;
    case QEvent::Quit:
        if (KelUbcPrivate *s = singleton())
            s->closeApp();
        QMessageLogger().debug("Tavo>> quit application");
        break;
    default:
        break;
    }
    return false; // every event goes on to its receiver
}

static bool hasClassName(const QObject *object, const char *name)
{
    return qstrcmp(object->metaObject()->className(), name) == 0;
}

void KelUbcPrivate::handleMousePress(QObject *watched)
{
    const char *className = watched->metaObject()->className();
    if (qstrcmp(className, "Qtitan::RibbonButton") == 0) {
        m_location = label(LabelRibbonToolbar);
    } else if (watched->objectName() == QLatin1String("RibbonMainWindowWindow")) {
        m_location = label(LabelRibbonQuickBar);
    } else if (qstrcmp(className, "QMenu") == 0) {
        const QObject *parent = watched->parent();
        if (parent && hasClassName(parent, "RuvModelInputFrame"))
            m_location = label(LabelContextMenu);
    } else if (watched->objectName() == QLatin1String("RuvFloatWidgetClassWindow")) {
        const QObject *parent = watched->parent();
        const QObject *grandparent = parent ? parent->parent() : nullptr;
        if (grandparent && hasClassName(grandparent, "QWidgetWindow"))
            m_location = label(LabelViewPanel);
    }
}

void KelUbcPrivate::handleMouseMove()
{
    const QDateTime current = now();
    const qint64 idle = m_lastActivity.secsTo(current);
    if (KelUbcPrivate *s = singleton()) {
        if (idle > IdleSeconds) {
            s->sendCoded(KelUbcHelperLink::SendCode, RecordCodes::Idle);
            s->sendCoded(KelUbcHelperLink::SendCode, RecordCodes::Active);
        }
        s->sendCoded(KelUbcHelperLink::RecordTime, RecordCodes::Active);
    }
    m_lastActivity = current;
}
