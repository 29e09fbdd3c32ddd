#ifndef CLICKHOUSESOURCE_H
#define CLICKHOUSESOURCE_H

#include "ReportData.h"
#include "ReportFilter.h"

#include <QtCore/QString>
#include <QtCore/QUrl>

#include <memory>

// Fills Aggregates from the fleet's ClickHouse table: every count is a GROUP BY
// in the server that counts distinct seq within a session, so that each
// (sessionid, seq) counts once however many copies of it arrived. Runs on
// ClickHouse 18.16 and on current releases. Each query and its time are logged
// in the category "ubc.report.clickhouse" (QT_LOGGING_RULES="ubc.report.clickhouse.debug=true").
class ClickHouseSource
{
public:
    ClickHouseSource(const QUrl &url, const QString &table, const ReportFilter &filter);
    ~ClickHouseSource();

    bool read(UbcReport::Aggregates *aggregates);
    QString errorString() const;
    QString displayUrl() const; // without credentials

private:
    std::unique_ptr<class ClickHouseSourcePrivate> d;
};

#endif // CLICKHOUSESOURCE_H
