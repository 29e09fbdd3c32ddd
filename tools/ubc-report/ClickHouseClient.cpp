#include "ClickHouseClient.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QLoggingCategory>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

Q_LOGGING_CATEGORY(lcClickHouse, "kelubc.report.clickhouse", QtWarningMsg)

class ClickHouseClientPrivate
{
public:
    QUrl url;
    QByteArray authorization;
    QString error;
    QNetworkAccessManager network;

    QNetworkReply *post(const ClickHouseQueries::Query &query);
    bool read(QNetworkReply *reply, ClickHouseResult *result);
};

QNetworkReply *ClickHouseClientPrivate::post(const ClickHouseQueries::Query &query)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain; charset=utf-8"));
    request.setTransferTimeout(600000); // the report profile's max_execution_time
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    QNetworkReply *reply = network.post(request, (query.sql + QStringLiteral(" FORMAT ") + QLatin1String(ClickHouseResult::format())).toUtf8());
    if (lcClickHouse().isDebugEnabled()) {
        auto *timer = new QElapsedTimer;
        timer->start();
        QObject::connect(reply, &QNetworkReply::finished, reply, [timer, query] {
            qCDebug(lcClickHouse, "%s, %lld ms: %s", query.name, timer->elapsed(), qUtf8Printable(query.sql));
            delete timer;
        });
    }
    return reply;
}

bool ClickHouseClientPrivate::read(QNetworkReply *reply, ClickHouseResult *result)
{
    const QByteArray body = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString where = url.toDisplayString();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        // QNetworkReply's own text names the URL it was given, which holds no credentials.
        error = status ? QStringLiteral("ClickHouse at %1 answered %2: %3")
                             .arg(where, QString::number(status), QString::fromUtf8(body.left(400)).trimmed())
                       : QStringLiteral("cannot reach ClickHouse at %1: %2").arg(where, reply->errorString());
        return false;
    }
    return result->parse(body, &error);
}

ClickHouseClient::ClickHouseClient(const QUrl &url, const QString &user, const QString &password)
    : d(new ClickHouseClientPrivate)
{
    d->url = url;
    if (!user.isEmpty() || !password.isEmpty())
        d->authorization = "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
}

ClickHouseClient::~ClickHouseClient() = default;

QString ClickHouseClient::errorString() const
{
    return d->error;
}

bool ClickHouseClient::run(const std::vector<ClickHouseQueries::Query> &queries, std::vector<ClickHouseResult> *results)
{
    QEventLoop loop;
    std::vector<QNetworkReply *> replies;
    size_t pending = queries.size();
    for (const ClickHouseQueries::Query &q : queries) {
        replies.push_back(d->post(q));
        QObject::connect(replies.back(), &QNetworkReply::finished, &loop, [&] {
            if (--pending == 0)
                loop.quit();
        });
    }
    if (pending)
        loop.exec();
    results->assign(replies.size(), ClickHouseResult());
    bool ok = true;
    for (size_t i = 0; i < replies.size(); ++i) {
        ok = ok && d->read(replies[i], &(*results)[i]);
        replies[i]->deleteLater();
    }
    return ok;
}
