#include "ClickHouseCodedEvents.h"

#include "ClickHouseResult.h"

#include <RecordFormat/RecordCodes.h>

#include <QtCore/QStringList>

#include <algorithm>

using namespace UbcReport;

ClickHouseCodedEvents::ClickHouseCodedEvents(const QString &recordsTable, const ReportFilter &filter)
    : m_database(recordsTable.contains(QLatin1Char('.')) ? recordsTable.section(QLatin1Char('.'), 0, 0) : QString())
    , m_table(m_database.isEmpty() ? QStringLiteral("coded_events") : m_database + QStringLiteral(".coded_events"))
    , m_filter(filter)
{
}

ClickHouseQueries::Query ClickHouseCodedEvents::exists() const
{
    return {"codedEventsTable",
            QStringLiteral("SELECT count() AS tables FROM system.tables WHERE database = ")
                + (m_database.isEmpty() ? QStringLiteral("currentDatabase()") : sqlString(m_database))
                + QStringLiteral(" AND name = 'coded_events'")};
}

bool ClickHouseCodedEvents::found(ClickHouseResult &exists)
{
    return exists.rowCount() > 0 && exists.number(0, exists.column("tables")) > 0;
}

ClickHouseQueries::Query ClickHouseCodedEvents::counts() const
{
    QStringList terms;
    // A journal line without a product is the desktop's, whichever it is.
    if (m_filter.byProduct)
        terms << QStringLiteral("pcode IN ('', ") + sqlString(m_filter.product) + QLatin1Char(')');
    if (!m_filter.since.empty())
        terms << QStringLiteral("substring(eventtime, 1, 10) >= ") + sqlString(m_filter.since);
    if (!m_filter.until.empty())
        terms << QStringLiteral("substring(eventtime, 1, 10) <= ") + sqlString(m_filter.until);
    return {"codedEvents",
            QStringLiteral("SELECT c AS code, count() AS sent, sum(t) AS timed, sumIf(s, t) AS totalSeconds,"
                           " maxIf(s, t) AS maxSeconds FROM (SELECT any(code) AS c, any(has(attrs.key, 'tjsc')) AS t,"
                           " any(toInt64OrZero(attrs.value[indexOf(attrs.key, 'tjsc')])) AS s FROM ")
                + m_table + (terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QLatin1String(" AND ")))
                + QStringLiteral(" GROUP BY sessionid, seq) GROUP BY c")};
}

void ClickHouseCodedEvents::read(ClickHouseResult &r, Aggregates &a)
{
    const int code = r.column("code"), sent = r.column("sent"), timed = r.column("timed"),
              total = r.column("totalSeconds"), max = r.column("maxSeconds");
    for (int i = 0; i < r.rowCount(); ++i) {
        const std::string c = r.text(i, code);
        if (c == RecordCodes::EditCountText) {
            a.saves += r.number(i, sent);
        } else if (c == RecordCodes::IdleText) {
            a.idleReturns += r.number(i, sent);
        } else if (c != RecordCodes::ActiveText) {
            CodedAgg &agg = a.coded[c];
            agg.count += r.number(i, sent);
            agg.timed += r.number(i, timed);
            agg.totalSeconds += r.number(i, total);
            agg.maxSeconds = std::max({agg.maxSeconds, r.number(i, max), int64_t(0)});
        }
    }
}
