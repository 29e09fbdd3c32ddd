#ifndef FACADE_H
#define FACADE_H

#include "KelUbcPrivate.h"

#include <QtCore/QStringList>

// What the facade tests share: the instance, its private state, and attribute
// maps written as "k=v;l=w".
inline KelUbc *ubc() { return KelUbc::instance(); }
inline KelUbcPrivate *d() { return KelUbcPrivate::get(KelUbc::instance()); }
inline QString joined(const QStringList &list) { return list.join(QLatin1Char(' ')); }

// The map as "k=v" pairs in key order.
inline QString pairs(const QMap<QString, QString> &map, QChar separator = QLatin1Char(';'))
{
    QStringList out;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        out << it.key() + QLatin1Char('=') + it.value();
    return out.join(separator);
}

inline QMap<QString, QString> attrsFrom(const QString &text)
{
    QMap<QString, QString> out;
    for (const QString &pair : text.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        out.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return out;
}

#endif
