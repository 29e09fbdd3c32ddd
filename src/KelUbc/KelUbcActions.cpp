// Coded events for the host's helper object, executed actions and property edits.

#include "KelUbcPrivate.h"

#include <RuvUbc.h>

#include <QtCore/QMetaObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QVariant>

void KelUbcPrivate::send(quint64 code, QMap<QString, QString> &attributes)
{
    applyLayerRule(attributes);
    helperSendData(code, attributes);
}

// "layer" and "Layer" ask for the current layer; the caller's map keeps the change.
void KelUbcPrivate::applyLayerRule(QMap<QString, QString> &attributes) const
{
    const QString layerKey = QStringLiteral("layer");
    auto it = attributes.find(layerKey);
    if (it != attributes.end())
        it.value() = m_layer;
    if (attributes.remove(QStringLiteral("Layer")) > 0)
        attributes.insert(layerKey, m_layer);
}

void KelUbcPrivate::send(quint64 code, const QString &key, const QString &value, bool addLayer)
{
    QMap<QString, QString> attributes;
    attributes.insert(key, value);
    if (addLayer)
        attributes.insert(QStringLiteral("layer"), QLatin1String(""));
    send(code, attributes);
}

void KelUbcPrivate::send(quint64 code, bool addLayer)
{
    if (!addLayer) {
        helperSendData(code);
        return;
    }
    QMap<QString, QString> attributes;
    attributes.insert(QStringLiteral("layer"), QLatin1String(""));
    send(code, attributes);
}

QObject *KelUbcPrivate::ubcHelper()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    return qobject_cast<QObject *>(qvariant_cast<QObject *>(app->property("RuvUbcHelper")));
}

void KelUbcPrivate::helperSendData(quint64 code)
{
    if (QObject *helper = ubcHelper())
        QMetaObject::invokeMethod(helper, "sendData", Qt::AutoConnection,
                                  QGenericArgument("quint64", &code));
}

void KelUbcPrivate::helperSendData(quint64 code, const QMap<QString, QString> &attributes)
{
    if (QObject *helper = ubcHelper())
        QMetaObject::invokeMethod(helper, "sendData", Qt::AutoConnection,
                                  QGenericArgument("quint64", &code),
                                  QGenericArgument("const RuvUbcAttrType&", &attributes));
}

void KelUbcPrivate::helperRecordTime(quint64 code)
{
    if (QObject *helper = ubcHelper())
        QMetaObject::invokeMethod(helper, "recordTime", Qt::AutoConnection,
                                  QGenericArgument("quint64", &code));
}

void KelUbcPrivate::sendActionExecute(const QString &fncode, const QString &fnname, bool byShortcut)
{
    if (fncode.isEmpty() || fncode == QLatin1String("213036"))
        return;
    UbcDataProtocol record = newRecord();
    const QString location = byShortcut ? label(LabelShortcut) : m_location;
    record.fnname = fnname;
    record.fncode = fncode;
    const auto it = findFuncDictEntry(fncode);
    if (it != m_funcDict.end())
        record.fngroup = it->fnGroup;
    record.attrs.insert(QStringLiteral("location"), location);
    logRecord(record, false, false);
}

QString KelUbcPrivate::cleanPropertyName(const QString &propName)
{
    // Greedy: everything from the first "(" to the last ")" goes, units included.
    static const QRegularExpression parenthesised(QStringLiteral("\\([\\s\\S]*\\)"));
    QString cleaned = propName;
    cleaned.remove(parenthesised);
    return cleaned;
}

void KelUbcPrivate::sendElementPropValueModified(const QString &fncode, const QString &propName,
                                                 const QString &elementName, const QString &value)
{
    if (fncode.isEmpty())
        return;
    UbcDataProtocol record = newRecord();
    record.fncode = fncode;
    const QString name = cleanPropertyName(propName);
    const QString dash = QStringLiteral("-");
    record.fnname = elementName + dash + label(LabelProperty) + dash + name;
    record.attrs.insert(name, value);
    logRecord(record, false, false);
}
