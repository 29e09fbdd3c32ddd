#include "KelUbc.h"
#include "KelUbcPrivate.h"

#include <RuvUbc.h>

#include <QtCore/QCoreApplication>

Q_GLOBAL_STATIC(KelUbc, s_kelUbc)

KelUbc *KelUbc::instance()
{
    // Null once the holder has been destroyed at unload.
    return s_kelUbc();
}

KelUbc::KelUbc()
    : d_ptr(new KelUbcPrivate)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        d_ptr->watch(app);
    else
        qCWarning(lcKelUbc, "KelUbc: created before the application object; its events are not watched");
}

KelUbc::~KelUbc()
{
    delete d_ptr;
}

void KelUbc::openApp() { d_func()->openApp(); }
void KelUbc::startApp() { d_func()->startApp(); }
void KelUbc::closeApp() { d_func()->closeApp(); }

void KelUbc::newProject(const SOperation &op, const QMap<QString, QString> &attributes)
{
    d_func()->newProject(op, attributes);
}
void KelUbc::openProject(const SOperation &op) { d_func()->openProject(op); }
void KelUbc::saveProject(const SOperation &op) { d_func()->saveProject(op); }
void KelUbc::closeProject(const SOperation &op) { d_func()->closeProject(op); }

void KelUbc::send(const QString &fncode)
{
    const QMap<QString, QString> none;
    d_func()->sendNamed(fncode, &none, QStringList());
}
void KelUbc::send(const QString &fncode, const QString &value)
{
    d_func()->sendNamed(fncode, nullptr, QStringList(value));
}
void KelUbc::send(const QString &fncode, const QMap<QString, QString> &attrs)
{
    d_func()->sendNamed(fncode, &attrs, QStringList());
}
void KelUbc::send(const QString &fncode, const QStringList &values)
{
    d_func()->sendNamed(fncode, nullptr, values);
}

void KelUbc::send(quint64 code, QMap<QString, QString> &attributes)
{
    d_func()->send(code, attributes);
}
void KelUbc::send(quint64 code, const QMap<QString, QString> &attributes)
{
    QMap<QString, QString> copy = attributes;
    d_func()->send(code, copy);
}
void KelUbc::send(quint64 code, const QString &key, const QString &value, const bool &addLayer)
{
    d_func()->send(code, key, value, addLayer);
}
void KelUbc::send(quint64 code, const bool &addLayer) { d_func()->send(code, addLayer); }
void KelUbc::recordTime(quint64 code)
{
    d_func()->sendCoded(KelUbcHelperLink::RecordTime, code);
}

void KelUbc::sendActionExecute(const QString &fncode, const QString &fnname, bool byShortcut)
{
    d_func()->sendActionExecute(fncode, fnname, byShortcut);
}
void KelUbc::sendElementPropValueModified(const QString &fncode, const QString &propName,
                                          const QString &elementName, const QString &value)
{
    d_func()->sendElementPropValueModified(fncode, propName, elementName, value);
}

qint64 KelUbc::getProjRuningTime() { return d_func()->getProjRuningTime(); }
void KelUbc::setProjRuningTime(qint64 time) { d_func()->setProjRuningTime(time); }

QMap<quint64, UBCMDStateInfo> KelUbc::getProjMDInfo() { return d_func()->getProjMDInfo(); }
// By value, as the exported interface declares it; QMap copies are shared.
void KelUbc::setProjMDInfo(QMap<quint64, UBCMDStateInfo> states) // NOLINT(performance-unnecessary-value-param)
{
    d_func()->setProjMDInfo(states);
}
void KelUbc::sendMDByEvent(quint64 code, UbcMDEventType type, bool startTiming,
                           QString &key, QString &value)
{
    d_func()->sendMDByEvent(code, type, startTiming, key, value);
}
void KelUbc::commitMD(quint64 code, QString &key, QString &value, bool flag)
{
    Q_UNUSED(flag) // accepted for the interface; it changes nothing
    d_func()->commitMD(code, key, value);
}

void KelUbc::lock() { RuvUbc::instance()->setFilterType(0); }
void KelUbc::unLock() { RuvUbc::instance()->setFilterType(15); }

void KelUbc::setLogFilePath(const QString &path)
{
    if (!path.isEmpty())
        RuvUbc::instance()->setLogFilePath(path);
}
void KelUbc::addLogFilePath(const QString &path)
{
    if (!path.isEmpty())
        RuvUbc::instance()->addLogFilePath(path);
}

void KelUbc::setCurLayer(const QString &layer) { d_func()->m_layer = layer; }
void KelUbc::setCurMajor(const QString &major) { d_func()->m_major = major; }
void KelUbc::setCurRegion(const QString &region) { d_func()->m_region = region; }
