#ifndef CLICKHOUSECODEDEVENTS_H
#define CLICKHOUSECODEDEVENTS_H

#include "ClickHouseQueries.h"
#include "ReportData.h"

class ClickHouseResult;

// The statistics sent, the saves and the returns from idle, from the helpers'
// coded events that the store keeps beside the records (database.coded_events),
// counted as CodedJournal counts a journal: by the day of the event's time
// and each (sessionid, seq) once. A store without the table has none.
class ClickHouseCodedEvents
{
public:
    // recordsTable: the records' "database.table"; the events' lies beside it.
    ClickHouseCodedEvents(const QString &recordsTable, const ReportFilter &filter);

    // tables: 1 when the store keeps coded events.
    ClickHouseQueries::Query exists() const;
    static bool found(ClickHouseResult &exists);
    // Per code: sent, timed, totalSeconds, maxSeconds.
    ClickHouseQueries::Query counts() const;
    static void read(ClickHouseResult &counts, UbcReport::Aggregates &a);

private:
    QString m_database, m_table;
    ReportFilter m_filter;
};

#endif // CLICKHOUSECODEDEVENTS_H
