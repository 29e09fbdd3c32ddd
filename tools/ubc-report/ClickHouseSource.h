#ifndef CLICKHOUSESOURCE_H
#define CLICKHOUSESOURCE_H

#include "ReportData.h"
#include "ReportFilter.h"

#include <QtCore/QString>
#include <QtCore/QUrl>

#include <memory>

// Fills Aggregates from the fleet's ClickHouse table: every count is a GROUP BY
// in the server that counts each (sessionid, seq) once however many copies of
// it arrived; only the grouped rows travel. Where the table has its daily
// roll-ups (ClickHouseRollups), the sessions, days, commands and machines are
// read from them, and the per-session roll-up of the sessions that hold
// copies is read again to put right the counts that include copies.
class ClickHouseSource
{
public:
    struct Server
    {
        QUrl url;               // without credentials
        QString user, password; // empty: ClickHouse's default user
        QString table;          // "database.table"
        bool rollups = true;    // read the table's daily roll-ups where they answer
    };

    ClickHouseSource(const Server &server, const ReportFilter &filter);
    ~ClickHouseSource();

    bool read(UbcReport::Aggregates *aggregates);
    QString errorString() const;

private:
    std::unique_ptr<class ClickHouseSourcePrivate> d;
};

#endif // CLICKHOUSESOURCE_H
