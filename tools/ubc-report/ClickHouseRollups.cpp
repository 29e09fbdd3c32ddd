#include "ClickHouseRollups.h"

#include "ReportData.h"

#include <RecordFormat/RecordCodes.h>
#include <RecordFormat/RecordIdentity.h>

using namespace UbcReport;

namespace {

// A block holds the seq of 256 records in four 64-bit masks.
const int MaskCount = 4;
const QString Block = QStringLiteral("intDiv(seq, 256)");

struct Column
{
    QString name, type, expression;     // expression: on a record, in the view
};

struct Rollup
{
    const char *suffix;
    QString engine;
    std::vector<Column> keys, values;
    QString where;                      // of the records rolled up
    bool grouped = true;                // false: the records themselves, by (sessionid, seq)
    QString settings;                   // of the table, if any
};

// The bits set in a 64-bit value, in arithmetic (bitmaskToArray would make an
// array per row); the server computes a repeated expression once.
QString bitCount(const QString &x)
{
    auto pairs = [](const QString &v, int shift, const char *mask) {
        return QStringLiteral("(bitAnd(%1, %3) + bitAnd(bitShiftRight(%1, %2), %3))").arg(v).arg(shift).arg(QLatin1String(mask));
    };
    const QString bytes = pairs(pairs(pairs(x, 1, "6148914691236517205"), 2, "3689348814741910323"), 4, "1085102592571150095");
    return QStringLiteral("bitShiftRight(") + bytes + QStringLiteral(" * 72340172838076673, 56)");
}

QString popcount(const QString &mask, int count = MaskCount)
{
    QStringList bits;
    for (int k = 0; k < count; ++k)
        bits << bitCount(QStringLiteral("groupBitOrMerge(%1%2)").arg(mask).arg(k));
    return bits.join(QLatin1String(" + "));
}

// Bit seq % 64 of the k-th mask of a block, for the records that meet condition.
Column maskColumn(const QString &name, int k, const QString &condition)
{
    return {name + QString::number(k), QStringLiteral("AggregateFunction(groupBitOr, UInt64)"),
            QStringLiteral("groupBitOrState(if(intDiv(seq % 256, 64) = %1 AND (%2), bitShiftLeft(toUInt64(1), seq % 64), toUInt64(0)))")
                .arg(k).arg(condition)};
}

std::vector<Rollup> rollups()
{
    const QString kind = ClickHouseQueries::kindExpression(), label = ClickHouseQueries::labelExpression();
    const QString action = ClickHouseQueries::isActionExpression(), close = ClickHouseQueries::isCloseAppExpression();
    const QString day = QStringLiteral("substring(trigertime, 1, 10)");
    const Column month{QStringLiteral("month"), QStringLiteral("UInt32"), QStringLiteral("toYYYYMM(time)")};
    const Column gid{QStringLiteral("gid"), QStringLiteral("String"), QStringLiteral("gid")};
    const Column pcode{QStringLiteral("pcode"), QStringLiteral("String"), QStringLiteral("pcode")};
    const std::vector<Column> command{pcode, {QStringLiteral("day"), QStringLiteral("String"), day},
                                      {QStringLiteral("fncode"), QStringLiteral("String"), QStringLiteral("fncode")},
                                      {QStringLiteral("kind"), QStringLiteral("UInt8"), kind},
                                      {QStringLiteral("label"), QStringLiteral("String"), label},
                                      {QStringLiteral("firstKey"), QStringLiteral("String"), ClickHouseQueries::firstKeyExpression()}};
    const Column rows{QStringLiteral("rows"), QStringLiteral("Int64"), QStringLiteral("toInt64(count())")};

    Rollup sessions{"_by_session_day", QStringLiteral("AggregatingMergeTree"),
                    {{QStringLiteral("sessionid"), QStringLiteral("String"), QStringLiteral("sessionid")},
                     {QStringLiteral("day"), QStringLiteral("String"), day}, pcode,
                     {QStringLiteral("block"), QStringLiteral("UInt64"), Block}, gid},
                    {month,
                     {QStringLiteral("machine"), QStringLiteral("AggregateFunction(min, String)"), QStringLiteral("minState(hardwareid)")},
                     {QStringLiteral("version"), QStringLiteral("AggregateFunction(min, String)"), QStringLiteral("minState(ver)")},
                     {QStringLiteral("firstSec"), QStringLiteral("AggregateFunction(min, UInt32)"), QStringLiteral("minState(toUInt32(time))")},
                     {QStringLiteral("lastSec"), QStringLiteral("AggregateFunction(max, UInt32)"), QStringLiteral("maxState(toUInt32(time))")},
                     {QStringLiteral("closeSeconds"), QStringLiteral("AggregateFunction(maxIf, Int64, UInt8)"),
                      QStringLiteral("maxIfState(toInt64OrZero(duration), ") + close + QLatin1Char(')')},
                     {QStringLiteral("closed"), QStringLiteral("AggregateFunction(max, UInt8)"), QStringLiteral("maxState(toUInt8(") + close + QStringLiteral("))")},
                     {QStringLiteral("lastSeq"), QStringLiteral("AggregateFunction(maxIf, UInt64, UInt8)"),
                      QStringLiteral("maxIfState(seq, ") + ClickHouseQueries::isNumberedExpression() + QLatin1Char(')')},
                     {QStringLiteral("rows"), QStringLiteral("AggregateFunction(count)"), QStringLiteral("countState()")}},
                    QString(), true, QString()};
    const struct { const char *name; QString condition; } masks[] = {
        {"present", QStringLiteral("1")},
        {"actions", action},
        {"shortcuts", action + QStringLiteral(" AND ") + ClickHouseQueries::isShortcutLabel(label)}};
    for (const auto &m : masks)
        for (int k = 0; k < MaskCount; ++k)
            sessions.values.push_back(maskColumn(QLatin1String(m.name), k, m.condition));

    Rollup days{"_by_command_day", QStringLiteral("SummingMergeTree(rows)"), command, {month, rows}, QString(), true, QString()};
    // Per session also the seq present, as in sessions: a session's counts
    // without its copies, when it has some.
    std::vector<Column> perSession{{QStringLiteral("sessionid"), QStringLiteral("String"), QStringLiteral("sessionid")}};
    perSession.insert(perSession.end(), command.begin(), command.end());
    // Blocks of 64 seq: one mask a row, as each row's mask is read apart.
    perSession.push_back({QStringLiteral("block"), QStringLiteral("UInt64"), QStringLiteral("intDiv(seq, 64)")});
    perSession.push_back(gid);
    // Small granules: the sessions that hold copies are read alone, not every
    // granule that one of them shares with others.
    Rollup bySession{"_by_command_session", QStringLiteral("SummingMergeTree((rows, present0))"), perSession, {month, rows}, QString(), true,
                     QStringLiteral("index_granularity = 256")};
    bySession.values.push_back({QStringLiteral("present0"), QStringLiteral("AggregateFunction(groupBitOr, UInt64)"),
                                QStringLiteral("groupBitOrState(bitShiftLeft(toUInt64(1), seq % 64))")});
    const QString named = kind + QStringLiteral(" != ") + QString::number(PropertyEdit);
    const QString grouped = QStringLiteral("fngroup NOT IN ('', 'null')");
    // Whether a machine ever used a command's shortcut does not depend on
    // copies. Machines by a 64-bit hash of hardwareid, which groups fast; a
    // merge keeps the row that used the shortcut.
    Rollup machines{"_by_command_machine", QStringLiteral("ReplacingMergeTree(usedShortcut)"),
                    {pcode, {QStringLiteral("fncode"), QStringLiteral("String"), QStringLiteral("fncode")},
                     {QStringLiteral("machine"), QStringLiteral("UInt64"), QStringLiteral("cityHash64(hardwareid)")}, gid},
                    {month, {QStringLiteral("usedShortcut"), QStringLiteral("UInt8"),
                             QStringLiteral("max(toUInt8(") + ClickHouseQueries::isShortcutLabel(label) + QStringLiteral("))")}},
                    action, true, QString()};
    // The same per day, for a period shorter than the whole: day first, so
    // that the period's days are read alone.
    Rollup machineDays = machines;
    machineDays.suffix = "_by_command_machine_day";
    machineDays.keys.insert(machineDays.keys.begin() + 1, {QStringLiteral("day"), QStringLiteral("String"), day});
    // Nor do the smallest name and group of a command.
    Rollup names{"_by_command_name", QStringLiteral("AggregatingMergeTree"),
                 {pcode, {QStringLiteral("day"), QStringLiteral("String"), day}, {QStringLiteral("fncode"), QStringLiteral("String"), QStringLiteral("fncode")}},
                 {month,
                  {QStringLiteral("firstName"), QStringLiteral("AggregateFunction(minIf, String, UInt8)"),
                   QStringLiteral("minIfState(fnname, ") + named + QLatin1Char(')')},
                  {QStringLiteral("named"), QStringLiteral("AggregateFunction(max, UInt8)"), QStringLiteral("maxState(toUInt8(") + named + QStringLiteral("))")},
                  {QStringLiteral("firstGroup"), QStringLiteral("AggregateFunction(minIf, String, UInt8)"),
                   QStringLiteral("minIfState(fngroup, ") + grouped + QLatin1Char(')')},
                  {QStringLiteral("grouped"), QStringLiteral("AggregateFunction(max, UInt8)"), QStringLiteral("maxState(toUInt8(") + grouped + QStringLiteral("))")}},
                 QString(), true, QString()};
    // The few project records, as they are: read like the records, copies folded by the query.
    QStringList projectCodes;
    for (const RecordCodes::Lifecycle &l : {RecordCodes::NewProject, RecordCodes::OpenProject, RecordCodes::SaveProject,
                                            RecordCodes::CloseProject})
        projectCodes << sqlString(std::string(l.code));
    Rollup projects{"_project_records", QStringLiteral("ReplacingMergeTree"),
                    {{QStringLiteral("sessionid"), QStringLiteral("String"), QStringLiteral("sessionid")},
                     {QStringLiteral("seq"), QStringLiteral("UInt64"), QStringLiteral("seq")}},
                    {}, QStringLiteral("fncode IN (") + projectCodes.join(QLatin1String(", ")) + QLatin1Char(')'), false, QString()};
    for (const char *c : {"pcode", "trigertime", "gid", "fncode", "projectid", "prjfullpath", "prjedocnt", "prjsize", "duration"})
        projects.values.push_back({QLatin1String(c), QStringLiteral("String"), QLatin1String(c)});
    projects.values.push_back({QStringLiteral("time"), QStringLiteral("DateTime"), QStringLiteral("time")});
    return {sessions, days, bySession, machines, machineDays, names, projects};
}

// The view's query: one row per key and month of the records inserted.
QString select(const Rollup &r, const QString &records)
{
    QStringList columns, groups;
    for (const Column &c : r.keys) {
        columns << (c.expression == c.name ? c.name : c.expression + QStringLiteral(" AS ") + c.name);
        groups << c.name;
    }
    groups << QStringLiteral("month");
    for (const Column &c : r.values)
        columns << (c.expression == c.name ? c.name : c.expression + QStringLiteral(" AS ") + c.name);
    return QStringLiteral("SELECT ") + columns.join(QLatin1String(",\n       ")) + QStringLiteral("\nFROM ") + records
           + (r.where.isEmpty() ? QString() : QStringLiteral("\nWHERE ") + r.where)
           + (r.grouped ? QStringLiteral("\nGROUP BY ") + groups.join(QLatin1String(", ")) : QString());
}

QString tableName(const QString &qualified)
{
    return qualified.section(QLatin1Char('.'), 1);
}

// The replicated engine of the same kind, kept under the shard's ZooKeeper
// path as the records' own table is (cluster-replicated.sql).
QString replicatedEngine(const QString &engine, const QString &table)
{
    const int open = engine.indexOf(QLatin1Char('('));
    const QString args = open < 0 ? QString() : QStringLiteral(", ") + engine.mid(open + 1).chopped(1);
    return QStringLiteral("Replicated") + engine.left(open) + QStringLiteral("('/clickhouse/tables/{shard}/")
           + table.section(QLatin1Char('.'), 0, 0) + QLatin1Char('/') + tableName(table) + QStringLiteral("', '{replica}'") + args
           + QLatin1Char(')');
}

} // namespace

ClickHouseRollups::ClickHouseRollups(const QString &table, const ReportFilter &filter)
    : m_table(table), m_filter(filter)
{
}

QStringList ClickHouseRollups::tables(const QString &table)
{
    QStringList names;
    for (const Rollup &r : rollups())
        names << table + QLatin1String(r.suffix);
    names.removeOne(machineDaysTable(table));
    return names;
}

QString ClickHouseRollups::machineDaysTable(const QString &table)
{
    return table + QStringLiteral("_by_command_machine_day");
}

QString ClickHouseRollups::schema(const QString &table, const QString &localTable, const QString &cluster, bool replicated)
{
    const QString records = cluster.isEmpty() ? table : localTable;
    QString sql;
    for (const Rollup &r : rollups()) {
        const QString name = records + QLatin1String(r.suffix);
        QStringList columns, keys;
        for (const Column &c : r.keys) {
            columns << c.name + QLatin1Char(' ') + c.type;
            keys << c.name;
        }
        for (const Column &c : r.values)
            columns << c.name + QLatin1Char(' ') + c.type;
        sql += QStringLiteral("CREATE TABLE IF NOT EXISTS ") + name + QStringLiteral("\n(\n    ") + columns.join(QLatin1String(",\n    "))
               + QStringLiteral("\n)\nENGINE = ") + (replicated ? replicatedEngine(r.engine, name) : r.engine) + QStringLiteral("\nPARTITION BY ")
               + (r.grouped ? QStringLiteral("month") : QStringLiteral("toYYYYMM(time)")) + QStringLiteral("\nORDER BY (") + keys.join(QLatin1String(", "))
               + QLatin1Char(')') + (r.settings.isEmpty() ? QString() : QStringLiteral("\nSETTINGS ") + r.settings)
               + QStringLiteral(";\n\nCREATE MATERIALIZED VIEW IF NOT EXISTS ") + name + QStringLiteral("_view TO ") + name
               + QStringLiteral(" AS\n") + select(r, records) + QStringLiteral(";\n\n");
        if (!cluster.isEmpty())
            sql += QStringLiteral("CREATE TABLE IF NOT EXISTS ") + table + QLatin1String(r.suffix) + QStringLiteral(" AS ") + name
                   + QStringLiteral("\nENGINE = Distributed(") + cluster + QStringLiteral(", ") + name.section(QLatin1Char('.'), 0, 0)
                   + QStringLiteral(", ") + tableName(name) + QStringLiteral(");\n\n");
    }
    return sql;
}

QString ClickHouseRollups::backfill(const QString &table)
{
    QString sql;
    for (const Rollup &r : rollups())
        sql += QStringLiteral("INSERT INTO ") + table + QLatin1String(r.suffix) + QLatin1Char('\n') + select(r, table) + QStringLiteral(";\n\n");
    return sql;
}

QString ClickHouseRollups::where(const QString &condition) const
{
    return ClickHouseQueries::filterWhere(m_filter, QStringLiteral("day"), condition);
}

ClickHouseRollups::Query ClickHouseRollups::sessionDays() const
{
    // Blocks of derived seq (top bit set) hold no numbered record.
    const QString numberedBlock = QStringLiteral("block < ") + QString::number(RecordIdentity::DerivedBit / 256);
    return {"sessionDays",
            QStringLiteral("SELECT sessionid, day, min(m) AS machine, min(v) AS version, min(f) AS firstSec, max(l) AS lastSec,"
                           " sum(p) AS records, maxIf(cs, cl = 1) AS closeSeconds, max(cl) AS closed, sum(r) AS rows,"
                           " max(ls) AS lastSeq, sumIf(p, ") + numberedBlock
                + QStringLiteral(") AS numbered, sum(a) AS actions, sum(sc) AS shortcuts FROM (SELECT sessionid, day, block,"
                                 " minMerge(machine) AS m, minMerge(version) AS v, minMerge(firstSec) AS f, maxMerge(lastSec) AS l,"
                                 " maxIfMerge(closeSeconds) AS cs, maxMerge(closed) AS cl, countMerge(rows) AS r, maxIfMerge(lastSeq) AS ls, ")
                + popcount(QStringLiteral("present")) + QStringLiteral(" AS p, ") + popcount(QStringLiteral("actions"))
                + QStringLiteral(" AS a, ") + popcount(QStringLiteral("shortcuts")) + QStringLiteral(" AS sc FROM ") + m_table
                + QStringLiteral("_by_session_day") + where() + QStringLiteral(" GROUP BY sessionid, day, block) GROUP BY sessionid, day")};
}

ClickHouseRollups::Query ClickHouseRollups::commandCounts() const
{
    return {"commandCounts",
            QStringLiteral("SELECT fncode, kind, label, firstKey, sum(rows) AS records FROM ") + m_table + QStringLiteral("_by_command_day")
                + where() + QStringLiteral(" GROUP BY fncode, kind, label, firstKey HAVING records != 0")};
}

ClickHouseRollups::Query ClickHouseRollups::commandCountsOf(const std::vector<std::string> &sessions) const
{
    QStringList ids;
    for (const std::string &id : sessions)
        ids << sqlString(id);
    return {"commandCountsOf",
            QStringLiteral("SELECT fncode, kind, label, firstKey, sum(r) AS records, sum(p) AS present FROM (SELECT fncode, kind, label,"
                           " firstKey, sum(rows) AS r, ") + popcount(QStringLiteral("present"), 1) + QStringLiteral(" AS p FROM ")
                + m_table + QStringLiteral("_by_command_session") + where(QStringLiteral("sessionid IN (") + ids.join(QLatin1String(", ")) + QLatin1Char(')'))
                + QStringLiteral(" GROUP BY fncode, kind, label, firstKey, sessionid, block) GROUP BY fncode, kind, label, firstKey")};
}

ClickHouseRollups::Query ClickHouseRollups::machines() const
{
    const bool period = !m_filter.since.empty() || !m_filter.until.empty();
    return {"machines",
            QStringLiteral("SELECT fncode, uniqExact(machine) AS machines, machines - uniqExactIf(machine, usedShortcut = 1) AS menuOnlyMachines FROM ")
                + (period ? machineDaysTable(m_table) : m_table + QStringLiteral("_by_command_machine")) + where() + QStringLiteral(" GROUP BY fncode")};
}

ClickHouseRollups::Query ClickHouseRollups::names() const
{
    return {"names",
            QStringLiteral("SELECT fncode, minIf(n, nd = 1) AS firstName, minIf(g, gd = 1) AS firstGroup FROM (SELECT fncode, day,"
                           " minIfMerge(firstName) AS n, maxMerge(named) AS nd, minIfMerge(firstGroup) AS g, maxMerge(grouped) AS gd FROM ")
                + m_table + QStringLiteral("_by_command_name") + where() + QStringLiteral(" GROUP BY fncode, day) GROUP BY fncode")};
}

QString ClickHouseRollups::projectRecords() const
{
    return m_table + QStringLiteral("_project_records");
}
