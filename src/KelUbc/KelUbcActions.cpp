// Coded events for the host's helper object, executed actions and property edits.

#include "KelUbcPrivate.h"

#include <RecordFormat/RecordCodes.h>

#include <QtCore/QRegularExpression>

void KelUbcPrivate::send(quint64 code, QMap<QString, QString> &attributes)
{
    applyLayerRule(attributes);
    sendCoded(KelUbcHelperLink::SendAttributes, code, &attributes);
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
        sendCoded(KelUbcHelperLink::SendCode, code);
        return;
    }
    QMap<QString, QString> attributes;
    attributes.insert(QStringLiteral("layer"), QLatin1String(""));
    send(code, attributes);
}

void KelUbcPrivate::sendActionExecute(const QString &fncode, const QString &fnname, bool byShortcut)
{
    if (fncode.isEmpty() || fncode == QLatin1String(RecordCodes::Undo.data(), int(RecordCodes::Undo.size())))
        return;
    record([&](UbcDataProtocol &r) {
        r.fnname = fnname;
        r.fncode = fncode;
        const auto it = findFuncDictEntry(fncode);
        if (it != m_funcDict.end())
            r.fngroup = it->fnGroup;
        r.attrs.insert(QStringLiteral("location"), byShortcut ? label(LabelShortcut) : m_location);
    });
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
    record([&](UbcDataProtocol &r) {
        r.fncode = fncode;
        const QString name = cleanPropertyName(propName);
        const QString dash = QStringLiteral("-");
        r.fnname = elementName + dash + label(LabelProperty) + dash + name;
        r.attrs.insert(name, value);
    });
}
