#ifndef CLICKHOUSEROLLUPS_H
#define CLICKHOUSEROLLUPS_H

#include "ClickHouseQueries.h"
#include "ReportFilter.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <string>
#include <vector>

// Daily roll-ups of the records table, kept by materialized views as records
// arrive, and the report's queries on them. Next to table T:
//   T_by_session_day     per session, day and block of 256 seq: the seq
//                        present as bit masks (a copy sets a bit already
//                        set, so counts from them are exact), rows with
//                        copies, and the session's smallest and largest values
//   T_by_command_day     rows per day and command, kind, label and property
//   T_by_command_session the same per session and block of 64 seq, with the seq
//                        present: the sessions that hold copies are counted
//                        again from it, an erased machine taken back
//   T_by_command_machine per machine and command run as an action: whether
//                        by its shortcut (the whole period)
//   T_by_command_machine_day the same per day (a shorter period); made later
//                        than the others, so a store may lack it
//   T_by_command_name    per day and command: the smallest name and group
//   T_project_records    the project records themselves, few, keyed like T
// All are partitioned by toYYYYMM(time), as the records, so dropping a month
// reaches them the same way; all but the names have gid, so erasing a
// machine does too (the names are the product's, not the person's).
class ClickHouseRollups
{
public:
    using Query = ClickHouseQueries::Query;

    // table: "database.table" of the records the report reads.
    ClickHouseRollups(const QString &table, const ReportFilter &filter);

    // The names of the tables next to table that the report needs, and of
    // the one it reads the machines of a period from when it is there.
    static QStringList tables(const QString &table);
    static QString machineDaysTable(const QString &table);
    // The statements that make the tables and their views on one server,
    // reading table. With cluster, on each server of that cluster: the tables
    // and views on localTable, and Distributed tables named after table; with
    // replicated, the tables replicated within each shard.
    static QString schema(const QString &table, const QString &localTable = QString(), const QString &cluster = QString(),
                          bool replicated = false);
    // Fills the tables from the records stored before their views.
    static QString backfill(const QString &table);

    // The machines' figures come from here for the whole period, and for a
    // shorter one where the store has machineDaysTable().
    bool answersMachines(bool machineDays) const { return machineDays || (m_filter.since.empty() && m_filter.until.empty()); }

    // Per session and day: machine, version, firstSec, lastSec, records,
    // closeSeconds, closed, rows (copies included), lastSeq, numbered,
    // actions, shortcuts.
    Query sessionDays() const;
    // Per fncode, kind, label and firstKey: records, copies included.
    Query commandCounts() const;
    // The same for the named sessions alone, and present: without copies.
    Query commandCountsOf(const std::vector<std::string> &sessions) const;
    // Per fncode: machines, menuOnlyMachines.
    Query machines() const;
    // Per fncode: firstName, firstGroup.
    Query names() const;
    // The table of project records, read as the records are.
    QString projectRecords() const;

private:
    QString where(const QString &condition = QString()) const;
    QString m_table;
    ReportFilter m_filter;
};

#endif // CLICKHOUSEROLLUPS_H
