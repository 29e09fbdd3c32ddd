#include "KelUbcHelperLink.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QVariant>

namespace {

// Normalised as moc writes them; the map's argument is the host's alias.
const char *const signatures[KelUbcHelperLink::MethodCount] = {
    "sendData(quint64)", "sendData(quint64,RuvUbcAttrType)", "recordTime(quint64)"};
const char *const names[KelUbcHelperLink::MethodCount] = {"sendData", "sendData", "recordTime"};

} // namespace

// The pointer as it stands, not yet touched: it may name a destroyed helper.
QObject *KelUbcHelperLink::readProperty(const QCoreApplication *app)
{
    const QVariant value = app->property("RuvUbcHelper");
    if (QMetaType::typeFlags(value.userType()) & QMetaType::PointerToQObject)
        return *static_cast<QObject *const *>(value.constData());
    return qvariant_cast<QObject *>(value);
}

void KelUbcHelperLink::resolve()
{
    const QCoreApplication *app = QCoreApplication::instance();
    QObject *published = app ? readProperty(app) : nullptr;
    // A destroyed helper whose pointer still stands in the property is never
    // touched again (nor is a new object at that very address, unless the
    // property changes). Unchanged, a live helper is kept as found.
    if (m_resolved && published == m_published && m_published)
        return;
    m_resolved = true;
    // Property changes reach reset() only through the watched application's
    // filter, and only for a dynamic property.
    m_cacheable = app && app == m_watched && app->metaObject()->indexOfProperty("RuvUbcHelper") < 0;
    m_published = published;
    m_helper = qobject_cast<QObject *>(published);
    for (int i = 0; i < MethodCount; ++i) {
        const int index = m_helper ? m_helper->metaObject()->indexOfMethod(signatures[i]) : -1;
        m_methods[i] = index >= 0 ? m_helper->metaObject()->method(index) : QMetaMethod();
    }
}

QObject *KelUbcHelperLink::helper()
{
    if (!m_resolved || !m_cacheable || (!m_helper && m_published))
        resolve();
    return m_helper.data();
}

void KelUbcHelperLink::invoke(Method method, quint64 code, const QMap<QString, QString> *attributes)
{
    QObject *target = helper();
    if (!target)
        return;
    const QGenericArgument codeArg("quint64", &code);
    // The registered name, so that a queued call finds the type at once.
    const QGenericArgument mapArg = method == SendAttributes ? QGenericArgument("RuvUbcAttrType", attributes)
                                                             : QGenericArgument();
    const QMetaMethod &found = m_methods[method];
    if (found.isValid()) {
        found.invoke(target, Qt::AutoConnection, codeArg, mapArg);
        return;
    }
    // Qt's own diagnostic, one per call, as for any invocation by name.
    if (method == SendAttributes)
        QMetaObject::invokeMethod(target, names[method], Qt::AutoConnection, codeArg,
                                  QGenericArgument("const RuvUbcAttrType&", attributes));
    else
        QMetaObject::invokeMethod(target, names[method], Qt::AutoConnection, codeArg);
}
