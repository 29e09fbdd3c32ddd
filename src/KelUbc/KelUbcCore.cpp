// Function dictionary and named events.

#include "KelUbcPrivate.h"

#include <QtCore/QDebug>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

QHash<QString, FuncDictEntry>::iterator KelUbcPrivate::findFuncDictEntry(const QString &fncode)
{
    auto it = m_funcDict.find(fncode);
    if (it != m_funcDict.end())
        return it;

    // Codes without a row are not remembered: a row added later is found then.
    QSqlQuery query(m_db);
    // A file that is no dictionary, or a writer's exclusive lock, fails here
    // already; what the execution says then is only that nothing was bound.
    const bool prepared = query.prepare(QStringLiteral("select * from FuncDict where fncode = ?"));
    const QSqlError prepareError = prepared ? QSqlError() : query.lastError();
    // Always text: a null QString would bind SQL NULL and match no row, unlike "".
    query.bindValue(0, fncode.isNull() ? QString(QLatin1String("")) : fncode, QSql::In);
    const bool executed = query.exec();
    if (executed && query.next()) {
        FuncDictEntry entry;
        entry.fnGroup = query.value(QStringLiteral("fnGroup")).toString();
        entry.fnName = query.value(QStringLiteral("fnName")).toString();
        // Split once here, not on every event.
        entry.fnAttrNames = FuncDictEntry::splitAttrNames(query.value(QStringLiteral("fnAttrName")).toString());
        entry.fnAddLayer = query.value(QStringLiteral("fnAddLayer")).toBool();
        entry.fnAddRegion = query.value(QStringLiteral("fnAddRegion")).toBool();
        return m_funcDict.insert(fncode, entry);
    }
    QMessageLogger().debug() << query.lastError();
    // A file that opened yet is no dictionary (not SQLite, no FuncDict table)
    // fails every look-up; a writer's lock (SQLITE_BUSY, SQLITE_LOCKED) passes.
    const QSqlError failure = prepared ? query.lastError() : prepareError;
    const QString sqliteCode = failure.nativeErrorCode();
    if (!executed && sqliteCode != QLatin1String("5") && sqliteCode != QLatin1String("6"))
        warnDictionaryUnusable(m_db.databaseName(), failure.text());
    return m_funcDict.end();
}

void KelUbcPrivate::sendNamed(const QString &fncode, const QMap<QString, QString> *attrs,
                              const QStringList &values)
{
    const auto it = findFuncDictEntry(fncode);
    if (it == m_funcDict.end())
        return;
    FuncDictEntry &entry = *it;
    if (entry.infoText.isNull())
        entry.infoText = infoText(entry.fnName);
    record([&](UbcDataProtocol &r) {
        r.fncode = fncode;
        r.fnname = entry.fnName;
        r.fngroup = entry.fnGroup;
        if (attrs) {
            r.attrs = *attrs;
        } else if (!values.isEmpty()) {
            // A later equal name wins.
            const QStringList &names = entry.fnAttrNames;
            const int n = qMin(names.size(), values.size());
            for (int i = 0; i < n; ++i)
                r.attrs.insert(names.at(i), values.at(i));
        }
    }, entry.fnAddLayer, entry.fnAddRegion, &entry.infoText);
}
