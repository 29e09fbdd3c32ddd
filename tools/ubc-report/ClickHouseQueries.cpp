#include "ClickHouseQueries.h"

#include "ReportData.h"

#include <RecordFormat/RecordIdentity.h>
#include <RecordFormat/RecordCodes.h>

#include <QtCore/QStringList>

using namespace UbcReport;

namespace {

QString number(int64_t n)
{
    return QString::number(n);
}

template<typename Texts>
QString list(const Texts &texts)
{
    QStringList quoted;
    for (const auto &t : texts)
        quoted << sqlString(std::string(t));
    return QLatin1Char('(') + quoted.join(QLatin1String(", ")) + QLatin1Char(')');
}

QString list(std::initializer_list<const char *> texts)
{
    return list<std::initializer_list<const char *>>(texts);
}

QString is(const RecordCodes::Lifecycle &record)
{
    return QStringLiteral("fncode = ") + sqlString(std::string(record.code));
}

const RecordLabels::Text &label(RecordLabels::Label l)
{
    return RecordLabels::labelTexts[l];
}

// The record kinds as classify() tells them, from the same tables.
const QString Label = QStringLiteral("attrs.value[indexOf(attrs.key, 'location')]");
const QString HasLocation = QStringLiteral("has(attrs.key, 'location')");

QString isLifecycle()
{
    QStringList codes;
    for (const RecordCodes::Lifecycle &l : RecordCodes::lifecycle)
        codes << sqlString(std::string(l.code));
    return QStringLiteral("fncode IN (") + codes.join(QLatin1String(", ")) + QLatin1Char(')');
}

QString isAction()
{
    return QStringLiteral("NOT (") + isLifecycle() + QStringLiteral(") AND ") + HasLocation;
}

// Named "element-属性-property" and carrying that property alone.
QString isPropertyEdit()
{
    QStringList endings;
    const RecordLabels::Text &property = label(RecordLabels::LabelProperty);
    for (const char *text : {property.chinese, property.english})
        endings << QStringLiteral("endsWith(fnname, concat(") + sqlString('-' + std::string(text) + '-')
                       + QStringLiteral(", attrs.key[1]))");
    return QStringLiteral("length(attrs.key) = 1 AND (") + endings.join(QLatin1String(" OR ")) + QLatin1Char(')');
}

QString kind()
{
    return QStringLiteral("multiIf(") + isLifecycle() + QStringLiteral(", ") + number(Lifecycle) + QStringLiteral(", ")
           + HasLocation + QStringLiteral(", ") + number(Action) + QStringLiteral(", ")
           + isPropertyEdit() + QStringLiteral(", ") + number(PropertyEdit) + QStringLiteral(", ") + number(NamedEvent) + QLatin1Char(')');
}

QString isShortcut(const QString &column)
{
    const RecordLabels::Text &shortcut = label(RecordLabels::LabelShortcut);
    return column + QStringLiteral(" IN ") + list({shortcut.chinese, shortcut.english});
}

// Sessions above this size are chosen in the server rather than named in the query.
const size_t MaxNamedSession = 1024;

} // namespace

QString ClickHouseQueries::kindExpression() { return kind(); }
QString ClickHouseQueries::labelExpression() { return Label; }
QString ClickHouseQueries::isActionExpression() { return isAction(); }
QString ClickHouseQueries::isShortcutLabel(const QString &column) { return isShortcut(column); }
QString ClickHouseQueries::firstKeyExpression()
{
    return QStringLiteral("if(") + kind() + QStringLiteral(" = ") + number(PropertyEdit) + QStringLiteral(", attrs.key[1], '')");
}
QString ClickHouseQueries::isCloseAppExpression() { return is(RecordCodes::CloseApp); }
QString ClickHouseQueries::isNumberedExpression() { return QStringLiteral("seq < ") + QString::number(RecordIdentity::DerivedBit); }

QString sqlString(const QString &text)
{
    QString s;
    s.reserve(text.size() + 2);
    s += QLatin1Char('\'');
    for (QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('\''))
            s += QLatin1Char('\\');
        if (c == QChar(0))
            s += QLatin1String("\\0");
        else
            s += c;
    }
    return s + QLatin1Char('\'');
}

QString sqlString(const std::string &text)
{
    return sqlString(QString::fromStdString(text));
}

ClickHouseQueries::ClickHouseQueries(const QString &table, const ReportFilter &filter)
    : m_table(table), m_filter(filter)
{
}

QString ClickHouseQueries::where(const QString &condition) const
{
    return filterWhere(m_filter, QStringLiteral("substring(trigertime, 1, 10)"), condition);
}

QString ClickHouseQueries::filterWhere(const ReportFilter &filter, const QString &day, const QString &condition)
{
    QStringList terms;
    if (filter.byProduct)
        terms << QStringLiteral("pcode = ") + sqlString(filter.product);
    if (!filter.since.empty())
        terms << day + QStringLiteral(" >= ") + sqlString(filter.since);
    if (!filter.until.empty())
        terms << day + QStringLiteral(" <= ") + sqlString(filter.until);
    if (!condition.isEmpty())
        terms << condition;
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QLatin1String(" AND "));
}

// The filtered records, each (sessionid, seq) once, with just the columns a
// query needs (18.16 reads every column a subquery names). The sessions that
// hold copies not merged yet go through a GROUP BY sessionid, seq; the others
// are read as they are, which costs a fraction of FINAL.
QString ClickHouseQueries::from(const std::vector<Column> &columns, const QString &condition) const
{
    QStringList plain, inner, outer;
    for (size_t i = 0; i < columns.size(); ++i) {
        const Column &c = columns[i];
        const QString name = c.name.isEmpty() ? c.expression : c.name;
        const QString n = QStringLiteral("c") + QString::number(i);
        plain << (c.name.isEmpty() ? c.expression : c.expression + QStringLiteral(" AS ") + c.name);
        inner << c.expression + QStringLiteral(" AS ") + n;
        outer << QStringLiteral("any(") + n + QStringLiteral(") AS ") + name;
    }
    const QString direct = QStringLiteral("SELECT ") + plain.join(QLatin1String(", ")) + QStringLiteral(" FROM ") + m_table;
    if (!m_deduplicate)
        return QLatin1Char('(') + direct + where(condition) + QLatin1Char(')');
    const QString andCondition = condition.isEmpty() ? QString() : condition + QStringLiteral(" AND ");
    // Named by the caller, or found here: more rows than distinct seq. GLOBAL:
    // on a Distributed table the set is found once and sent to every shard.
    const QString set = !m_copied.empty() ? list(m_copied)
        : QStringLiteral("(SELECT sessionid FROM ") + m_table + where() + QStringLiteral(" GROUP BY sessionid HAVING count() > uniqExact(seq))");
    const QString global = m_copied.empty() ? QStringLiteral(" GLOBAL") : QString();
    const QString duplicated = global + QStringLiteral(" IN ") + set, notDuplicated = global + QStringLiteral(" NOT IN ") + set;
    const QString folded = QStringLiteral("SELECT ") + outer.join(QLatin1String(", ")) + QStringLiteral(" FROM (SELECT ")
                           + inner.join(QLatin1String(", ")) + QStringLiteral(", sessionid AS dedupSession, seq AS dedupSeq FROM ") + m_table
                           + where(andCondition + QStringLiteral("sessionid") + duplicated) + QStringLiteral(") GROUP BY dedupSession, dedupSeq");
    return QLatin1Char('(') + direct + where(andCondition + QStringLiteral("sessionid") + notDuplicated) + QStringLiteral(" UNION ALL ")
           + folded + QLatin1Char(')');
}

ClickHouseQueries::Query ClickHouseQueries::sessions() const
{
    const QString closeApp = is(RecordCodes::CloseApp);
    const QString numbered = isNumberedExpression();
    return {"sessions",
            QStringLiteral("SELECT sessionid, min(hardwareid) AS machine, min(ver) AS version, min(t) AS firstSec, max(t) AS lastSec,"
                           " uniqExact(seq) AS records, maxIf(toInt64OrZero(duration), ") + closeApp
                + QStringLiteral(") AS closeSeconds, max(") + closeApp + QStringLiteral(") AS closed, count() AS rows,"
                                 " maxIf(seq, ") + numbered + QStringLiteral(") AS lastSeq, uniqExactIf(seq, ") + numbered
                + QStringLiteral(") AS numbered, min(day) AS firstDay FROM (SELECT sessionid, seq, hardwareid, ver, toUInt32(time) AS t,"
                                 " fncode, duration, substring(trigertime, 1, 10) AS day FROM ")
                + m_table + where() + QStringLiteral(") GROUP BY sessionid")};
}

ClickHouseQueries::Query ClickHouseQueries::commands() const
{
    return {"commands",
            QStringLiteral("SELECT fncode, kind, label, min(fnname) AS firstName, minIf(fngroup, fngroup NOT IN ('', 'null')) AS firstGroup,"
                           " count() AS records FROM ")
                + from({{QStringLiteral("fncode"), {}}, {QStringLiteral("fnname"), {}}, {QStringLiteral("fngroup"), {}},
                        {kind(), QStringLiteral("kind")}, {Label, QStringLiteral("label")}})
                + QStringLiteral(" GROUP BY fncode, kind, label")};
}

// Whether a machine ever used a command's shortcut does not depend on copies.
ClickHouseQueries::Query ClickHouseQueries::machines() const
{
    return {"machines",
            QStringLiteral("SELECT fncode, count() AS machines, countIf(shortcut = 0) AS menuOnlyMachines FROM"
                           " (SELECT fncode, hardwareid, max(") + isShortcut(QStringLiteral("label"))
                + QStringLiteral(") AS shortcut FROM (SELECT fncode, hardwareid, ") + Label + QStringLiteral(" AS label FROM ")
                + m_table + where(isAction()) + QStringLiteral(") GROUP BY fncode, hardwareid) GROUP BY fncode")};
}

ClickHouseQueries::Query ClickHouseQueries::properties() const
{
    return {"properties",
            QStringLiteral("SELECT firstKey, count() AS edits FROM ")
                + from({{QStringLiteral("attrs.key[1]"), QStringLiteral("firstKey")}, {kind(), QStringLiteral("kind")}},
                       QStringLiteral("length(attrs.key) = 1"))
                + QStringLiteral(" WHERE kind = ") + number(PropertyEdit) + QStringLiteral(" GROUP BY firstKey")};
}

ClickHouseQueries::Query ClickHouseQueries::projects() const
{
    using namespace RecordCodes;
    return {"projects",
            QStringLiteral("SELECT projectid, max(prjfullpath) AS path, countIf(") + is(NewProject) + QStringLiteral(") AS created, countIf(")
                + is(OpenProject) + QStringLiteral(") AS opened, countIf(") + is(SaveProject) + QStringLiteral(") AS saves, countIf(")
                + is(CloseProject) + QStringLiteral(") AS closes, sumIf(toInt64OrZero(duration), ") + is(CloseProject)
                + QStringLiteral(") AS openSeconds, max(toInt64OrZero(prjedocnt)) AS edits, max(toInt64OrZero(prjsize)) AS sizeKB FROM ")
                + from({{QStringLiteral("projectid"), {}}, {QStringLiteral("prjfullpath"), {}}, {QStringLiteral("fncode"), {}},
                        {QStringLiteral("duration"), {}}, {QStringLiteral("prjedocnt"), {}}, {QStringLiteral("prjsize"), {}}},
                       QStringLiteral("fncode IN ") + list({NewProject.code, OpenProject.code, SaveProject.code, CloseProject.code}))
                + QStringLiteral(" GROUP BY projectid")};
}

// Days and the sessions' commands in one pass: a row per session and day it spans.
ClickHouseQueries::Query ClickHouseQueries::days() const
{
    const QString action = QStringLiteral("kind = ") + number(Action);
    return {"days",
            QStringLiteral("SELECT day, sessionid, count() AS records, countIf(") + action + QStringLiteral(") AS actions, countIf(")
                + action + QStringLiteral(" AND ") + isShortcut(QStringLiteral("label")) + QStringLiteral(") AS shortcuts FROM ")
                + from({{QStringLiteral("substring(trigertime, 1, 10)"), QStringLiteral("day")}, {QStringLiteral("sessionid"), {}},
                        {kind(), QStringLiteral("kind")}, {Label, QStringLiteral("label")}})
                + QStringLiteral(" GROUP BY day, sessionid")};
}

ClickHouseQueries::Query ClickHouseQueries::timeline(const std::string &session, size_t limit) const
{
    // An ordinary id is named, which lets the server find it by the table's
    // key; a long one (any desktop may send one) would make the query too
    // long, so the server picks the session again by the same rule.
    const QString chosen = session.size() <= MaxNamedSession
        ? QStringLiteral("sessionid = ") + sqlString(session)
        : QStringLiteral("sessionid GLOBAL IN (SELECT sessionid FROM (SELECT sessionid, seq FROM ") + m_table + where()
              + QStringLiteral(") GROUP BY sessionid ORDER BY uniqExact(seq) DESC, sessionid LIMIT 1)");
    // In timelineBefore()'s order.
    const QString derived = QString::number(RecordIdentity::DerivedBit);
    return {"timeline",
            QStringLiteral("SELECT seq, trigertime, fncode, fnname, kind, label FROM ")
                + from({{QStringLiteral("seq"), {}}, {QStringLiteral("trigertime"), {}}, {QStringLiteral("fncode"), {}},
                        {QStringLiteral("fnname"), {}}, {kind(), QStringLiteral("kind")}, {Label, QStringLiteral("label")}},
                       chosen)
                + QStringLiteral(" ORDER BY seq >= ") + derived + QStringLiteral(", if(seq >= ") + derived
                + QStringLiteral(", trigertime, ''), seq LIMIT ") + QString::number(limit)};
}

// The losses table lies beside the records, in the same database.
QString ClickHouseQueries::uploadLossesTable() const
{
    return m_table.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".upload_losses");
}

ClickHouseQueries::Query ClickHouseQueries::existingTables(const QStringList &tables) const
{
    QStringList names;
    for (const QString &t : tables)
        names << sqlString(t.section(QLatin1Char('.'), 1));
    return {"existingTables",
            QStringLiteral("SELECT name FROM system.tables WHERE database = ") + sqlString(m_table.section(QLatin1Char('.'), 0, 0))
                + QStringLiteral(" AND name IN (") + names.join(QLatin1String(", ")) + QLatin1Char(')')};
}

// Each loss once however often its uploader reported it (lossid); the period
// by the day it was reported.
ClickHouseQueries::Query ClickHouseQueries::uploadLosses() const
{
    QStringList terms;
    if (!m_filter.since.empty())
        terms << QStringLiteral("toDate(reported) >= toDate(") + sqlString(m_filter.since) + QLatin1Char(')');
    if (!m_filter.until.empty())
        terms << QStringLiteral("toDate(reported) <= toDate(") + sqlString(m_filter.until) + QLatin1Char(')');
    return {"uploadLosses",
            QStringLiteral("SELECT kind, sum(records) AS records FROM ") + uploadLossesTable() + QStringLiteral(" FINAL")
                + (terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QLatin1String(" AND ")))
                + QStringLiteral(" GROUP BY kind")};
}

