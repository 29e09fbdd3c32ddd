#ifndef CLICKHOUSECLIENT_H
#define CLICKHOUSECLIENT_H

#include "ClickHouseQueries.h"
#include "ClickHouseResult.h"

#include <QtCore/QLoggingCategory>
#include <QtCore/QString>
#include <QtCore/QUrl>

#include <memory>
#include <vector>

// Runs queries over ClickHouse's HTTP interface, side by side. The user and
// password go in an Authorization header, never in the URL; no error text
// holds them. Each query's name and time are logged in the category
// "kelubc.report.clickhouse" (QT_LOGGING_RULES="kelubc.report.clickhouse.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcClickHouse)

class ClickHouseClient
{
public:
    // url: http(s)://host:port/ without user, password or query.
    ClickHouseClient(const QUrl &url, const QString &user, const QString &password);
    ~ClickHouseClient();

    // False with errorString() when a query fails; results in the queries' order.
    bool run(const std::vector<ClickHouseQueries::Query> &queries, std::vector<ClickHouseResult> *results);
    QString errorString() const;

private:
    std::unique_ptr<class ClickHouseClientPrivate> d;
};

#endif // CLICKHOUSECLIENT_H
