#include "ErasureRequest.h"

#include "BatchSender.h"

#include <QtCore/QDateTime>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QUrlQuery>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

namespace {

constexpr int kRequestTimeout = 30000;

} // namespace

ErasureRequest::ErasureRequest(const UploadSettings &settings, const QString &gid, QObject *parent)
    : QObject(parent), m_net(new QNetworkAccessManager(this))
{
    QUrl url = settings.url;
    if (url.path().isEmpty() || url.path() == QLatin1String("/")) {
        QUrlQuery query(url);
        query.addQueryItem(QStringLiteral("query"), QStringLiteral("INSERT INTO ubc.erasure_requests FORMAT JSONEachRow"));
        url.setQuery(query);
    } else {
        // Beside the records' address: .../v1/records -> .../v1/erasure-requests.
        url = url.resolved(QUrl(QStringLiteral("erasure-requests")));
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain; charset=utf-8"));
    if (!settings.authorization.isEmpty())
        request.setRawHeader("Authorization", settings.authorization);
    if (!settings.headerName.isEmpty())
        request.setRawHeader(settings.headerName, settings.headerValue);
    request.setTransferTimeout(kRequestTimeout);
    // UTC seconds: ClickHouse reads a DateTime from a number without a time zone in doubt.
    const QJsonObject row{{QStringLiteral("gid"), gid},
                          {QStringLiteral("requested"), QDateTime::currentSecsSinceEpoch()}};
    QNetworkReply *reply = m_net->post(request, QJsonDocument(row).toJson(QJsonDocument::Compact) + '\n');
    connect(reply, &QNetworkReply::finished, this, [this, reply, gid] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool accepted = BatchSender::isStored(reply);
        QString error;
        if (!accepted)
            error = status ? QStringLiteral("HTTP %1: %2").arg(status).arg(QString::fromUtf8(reply->readAll().left(300)).trimmed())
                           : reply->errorString();
        emit finished(gid, accepted, error);
        deleteLater();
    });
}

bool ErasureRequest::isDigest(const QString &gid)
{
    if (gid.isEmpty() || gid.size() > 128)
        return false;
    for (QChar c : gid)
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')) && !(c >= QLatin1Char('A') && c <= QLatin1Char('F')))
            return false;
    return true;
}
