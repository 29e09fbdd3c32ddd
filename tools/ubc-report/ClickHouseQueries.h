#ifndef CLICKHOUSEQUERIES_H
#define CLICKHOUSEQUERIES_H

#include "ReportFilter.h"

#include <QtCore/QString>

#include <string>
#include <vector>

// Text as a ClickHouse string literal, quotes included. Every piece of data
// that goes into a query goes through here, and only data: the queries are
// put together by concatenation, never by replacing text inside them.
QString sqlString(const QString &text);
QString sqlString(const std::string &text);

// The report's queries on the records table. Each counts the filtered records,
// (sessionid, seq) once, in a GROUP BY, and names its result columns, which
// the reader takes by name. Runs on ClickHouse 18.16 and on current releases,
// as a read-only user: no settings, no temporary tables.
class ClickHouseQueries
{
public:
    struct Query
    {
        const char *name;
        QString sql;
    };

    // table: "database.table", checked by the caller to be a plain name.
    ClickHouseQueries(const QString &table, const ReportFilter &filter);

    // Most tables have merged their copies: the queries read the rows as they
    // are. With deduplicate, the sessions that hold copies not merged yet
    // (more rows than distinct seq) are read through a GROUP BY sessionid, seq.
    void setDeduplicate(bool on) { m_deduplicate = on; }

    // Per session: machine, ver, firstSec, lastSec, records (distinct seq),
    // closeSeconds, closed, rows (copies included), lastSeq and numbered (the
    // highest seq and the distinct seq, of records that have one), firstDay.
    Query sessions() const;
    // Per fncode, kind and label: firstName, firstGroup, records.
    Query commands() const;
    // Per fncode run as an action: machines, menuOnlyMachines (never by its shortcut).
    Query machines() const;
    // Per edited property (firstKey): edits.
    Query properties() const;
    // Per projectid: path, created, opened, saves, closes, openSeconds, edits, sizeKB.
    Query projects() const;
    // Per day and sessionid: records, actions, shortcuts.
    Query days() const;
    // The session's records by seq, at most limit: seq, trigertime, fncode, fnname, kind, label.
    Query timeline(const std::string &session, size_t limit) const;

    // The classification the file source makes (classify(), locationOf()) as
    // expressions on a row of the records table, shared with the roll-ups.
    static QString kindExpression();            // a RecordKind
    static QString labelExpression();           // the "location" attribute
    static QString isActionExpression();
    static QString firstKeyExpression();        // a property edit's property, else empty
    static QString isShortcutLabel(const QString &column);
    static QString isCloseAppExpression();
    static QString isNumberedExpression();      // the seq was written, not derived
    // " WHERE ..." for the filter, the local date in the column or expression day, and condition.
    static QString filterWhere(const ReportFilter &filter, const QString &day, const QString &condition);

    // The sessions that hold copies, named by the caller (who knows them from
    // the roll-ups) rather than found by a scan of every record.
    void setCopiedSessions(const std::vector<std::string> &sessions) { m_copied = sessions; }

    // name: those of tables ("database.table", in the records' database) that exist.
    Query existingTables(const QStringList &tables) const;
    QString uploadLossesTable() const;
    // Per kind: records lost by the uploaders, each reported loss once.
    Query uploadLosses() const;

private:
    struct Column
    {
        QString expression, name;   // name empty: the expression is a column's name
    };

    QString where(const QString &condition = QString()) const;
    QString from(const std::vector<Column> &columns, const QString &condition = QString()) const;

    QString m_table;
    ReportFilter m_filter;
    bool m_deduplicate = false;
    std::vector<std::string> m_copied;
};

#endif // CLICKHOUSEQUERIES_H
