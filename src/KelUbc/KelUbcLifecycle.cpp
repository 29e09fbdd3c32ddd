// Application and project lifecycle, project running time and the event watcher.

#include "KelUbcPrivate.h"

#include <KelTimeTracker.h>
#include <RuvUbc.h>

#include <QtCore/QDebug>
#include <QtCore/QEvent>

namespace {

const quint64 IdleCode = 580101002;
const quint64 ActiveCode = 580101003;
const quint64 EditCountCode = 580101004;
const qint64 IdleSeconds = 600;

} // namespace

static UbcDataProtocol lifecycleRecord(const char *fncode, KelUbcPrivate::Label name)
{
    UbcDataProtocol record = KelUbcPrivate::newRecord();
    record.fncode = QLatin1String(fncode);
    record.fnname = KelUbcPrivate::label(name);
    record.fngroup = KelUbcPrivate::label(KelUbcPrivate::LabelSpecialFunction);
    return record;
}

void KelUbcPrivate::openApp()
{
    UbcDataProtocol record = lifecycleRecord("990007", LabelOpenApp);
    logRecord(record, false, false);
}

void KelUbcPrivate::startApp()
{
    m_appStartTime = now();
    UbcDataProtocol record = lifecycleRecord("990001", LabelStartApp);
    logRecord(record, false, false);
}

void KelUbcPrivate::closeApp()
{
    const qint64 seconds = m_appStartTime.secsTo(now()); // 0 before any startApp
    UbcDataProtocol record = lifecycleRecord("990002", LabelCloseApp);
    record.duration = QString::number(seconds);
    logRecord(record, false, false);
}

void KelUbcPrivate::newProject(const SOperation &op, const QMap<QString, QString> &attributes)
{
    m_projectOpenTime = now();
    UbcDataProtocol record = lifecycleRecord("990003", LabelNewProject);
    record.projectid = op.projectId;
    record.prjfullpath = op.prjFullPath;
    record.attrs = attributes;
    logRecord(record, false, false);
    m_projectId = op.projectId;
}

void KelUbcPrivate::openProject(const SOperation &op)
{
    m_projectOpenTime = now();
    UbcDataProtocol record = lifecycleRecord("990004", LabelOpenProject);
    record.projectid = op.projectId;
    logRecord(record, false, false);
    m_projectId = op.projectId;
}

void KelUbcPrivate::saveProject(const SOperation &op)
{
    const QString editCount = QString::number(op.prjEdoCnt);
    UbcDataProtocol record = lifecycleRecord("990005", LabelSaveProject);
    record.projectid = op.projectId;
    record.prjedocnt = editCount;
    record.prjsize = QString::number(op.prjSize / 1000);
    logRecord(record, false, false);
    // Sent whether or not the record was logged.
    if (KelUbc *q = KelUbc::instance())
        q->send(EditCountCode, QStringLiteral("prjedocnt"), editCount, true);
}

void KelUbcPrivate::closeProject(const SOperation &op)
{
    const qint64 seconds = m_projectOpenTime.secsTo(now());
    UbcDataProtocol record = lifecycleRecord("990006", LabelCloseProject);
    record.prjsize = QString::number(op.prjSize / 1000);
    record.projectid = op.projectId;
    record.prjedocnt = QString::number(op.prjEdoCnt);
    record.duration = QString::number(seconds);
    logRecord(record, false, false);
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

bool KelUbcPrivate::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        handleMouseMove();
        break;
    case QEvent::MouseButtonPress:
        handleMousePress(watched);
        break;
    case QEvent::Quit:
        if (KelUbc *q = KelUbc::instance())
            q->closeApp();
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
    KelUbc *q = KelUbc::instance();
    if (q) {
        if (idle > IdleSeconds) {
            q->send(IdleCode, false);
            q->send(ActiveCode, false);
        }
        q->recordTime(ActiveCode);
    }
    m_lastActivity = current;
}
