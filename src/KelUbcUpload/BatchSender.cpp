#include "BatchSender.h"

#include "GzipBody.h"
#include "UploadBatch.h"
#include "UploadLogging.h"

#include <RuvUbc.h>

#include <QtCore/QTimer>
#include <QtCore/QUrlQuery>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

#include <algorithm>

namespace {

constexpr int kRequestTimeout = 30000;

// ClickHouse's refusal of the rows themselves: "Code: 26, e.displayText() =
// DB::Exception: Cannot parse ..." (later versions "Code: 26. DB::..."),
// with a code of its parse family. A query it cannot run (syntax, rights, a
// missing table) is no fault of the rows, and halving would set them all aside.
bool isParseError(const QByteArray &body)
{
    static const int parseCodes[] = {
        6,  // CANNOT_PARSE_TEXT
        25, // CANNOT_PARSE_ESCAPE_SEQUENCE
        26, // CANNOT_PARSE_QUOTED_STRING
        27, // CANNOT_PARSE_INPUT_ASSERTION_FAILED
        38, // CANNOT_PARSE_DATE
        41, // CANNOT_PARSE_DATETIME
        72, // CANNOT_PARSE_NUMBER
    };
    if (!body.startsWith("Code: "))
        return false;
    int end = 6;
    while (end < body.size() && end < 12 && body.at(end) >= '0' && body.at(end) <= '9')
        ++end;
    bool ok = false;
    const int code = body.mid(6, end - 6).toInt(&ok);
    return ok && end < body.size() && (body.at(end) == ',' || body.at(end) == '.')
           && std::find(std::begin(parseCodes), std::end(parseCodes), code) != std::end(parseCodes);
}

// The server's message, first line only: enough to tell what went wrong.
QString serverMessage(QNetworkReply *reply, int status, const QByteArray &body)
{
    if (status <= 0)
        return reply->errorString();
    const int newline = body.indexOf('\n');
    const QString text = QString::fromUtf8(body.left(newline < 0 ? 300 : qMin(newline, 300))).trimmed();
    return text.isEmpty() ? QStringLiteral("HTTP %1").arg(status) : QStringLiteral("HTTP %1: %2").arg(status).arg(text);
}

} // namespace

BatchSender::BatchSender(const UploadSettings &settings, UploadStatus *status, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_status(status)
    , m_net(new QNetworkAccessManager(this))
    , m_retryTimer(new QTimer(this))
    , m_backoff(settings.firstRetryDelay, settings.maxRetryDelay, Backoff::HalfRandom)
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, [this] { resume(); });
}

bool BatchSender::allowed() const
{
    RuvUbc *log = RuvUbc::instance();
    return m_status->consent.loadRelaxed() && log && log->isCollectionEnabled();
}

void BatchSender::start(const UploadBatch *batch)
{
    m_batch = batch;
    m_ranges = {{0, batch->rowCount()}};
    send();
}

void BatchSender::resume(bool now)
{
    if (now)
        m_retryTimer->stop();
    if (hasBatch() && !m_reply && !m_retryTimer->isActive())
        send();
}

void BatchSender::drop()
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->abort();
        reply->deleteLater();
    }
    m_retryTimer->stop();
    m_ranges.clear();
    m_batch = nullptr;
}

void BatchSender::send()
{
    // Consent can be withdrawn while a batch is being halved: the rest
    // waits until it is given again.
    if (!allowed())
        return;
    const Range range = m_ranges.first();
    m_reply = post(m_settings.table, QString(), m_batch->body(range.first, range.end));
    connect(m_reply, &QNetworkReply::finished, this, &BatchSender::replyFinished);
}

QNetworkReply *BatchSender::post(const QString &table, const QString &route, QByteArray body)
{
    QUrl url = m_settings.url;
    // A bare ClickHouse server is told what to do with the rows; any other
    // address (the gateway's /v1/records or /v1/coded-events) knows that
    // itself, and the gateway's other routes sit beside it.
    const bool bareServer = url.path().isEmpty() || url.path() == QLatin1String("/");
    if (!bareServer && !route.isEmpty())
        url = url.resolved(QUrl(route));
    QUrlQuery query(url);
    if (bareServer)
        query.addQueryItem(QStringLiteral("query"), QStringLiteral("INSERT INTO %1 FORMAT JSONEachRow").arg(table));
    QNetworkRequest request;
    if (m_settings.gzip) {
        if (bareServer)
            query.addQueryItem(QStringLiteral("enable_http_compression"), QStringLiteral("1"));
        const QByteArray packed = GzipBody::compress(body);
        if (!packed.isEmpty()) {
            body = packed;
            request.setRawHeader("Content-Encoding", "gzip");
        }
    }
    if (bareServer)
        url.setQuery(query);
    request.setUrl(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain; charset=utf-8"));
    if (!m_settings.authorization.isEmpty())
        request.setRawHeader("Authorization", m_settings.authorization);
    if (!m_settings.headerName.isEmpty())
        request.setRawHeader(m_settings.headerName, m_settings.headerValue);
    request.setTransferTimeout(kRequestTimeout);
    return m_net->post(request, body);
}

bool BatchSender::isStored(QNetworkReply *reply)
{
    return reply->error() == QNetworkReply::NoError
           && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 && isStoreAnswer(reply);
}

void BatchSender::replyFinished()
{
    QNetworkReply *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || reply != m_reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    const bool store = isStoreAnswer(reply);
    const bool delivered = reply->error() == QNetworkReply::NoError && status == 200 && store;
    const bool refused = status == 400 && store && isParseError(body);
    if (!delivered && !refused) {
        retryLater(status == 200 ? QStringLiteral("HTTP 200 without the store's headers: not the store's answer")
                                 : serverMessage(reply, status, body));
        return;
    }
    const Range range = m_ranges.first();
    if (refused && range.end - range.first > 1) {
        // Unparsable somewhere: halve until the rows at fault are alone.
        const int middle = range.first + (range.end - range.first) / 2;
        m_ranges.first() = {middle, range.end};
        m_ranges.prepend({range.first, middle});
        send();
        return;
    }
    m_ranges.removeFirst();
    m_backoff.succeeded();
    if (delivered && m_status->setError(QString()))
        emit statusChanged();
    const bool last = m_ranges.isEmpty();
    if (last)
        m_batch = nullptr;
    emit rangeDone(range.first, range.end, delivered, delivered ? QString() : serverMessage(reply, status, body), last);
    if (!last && !m_reply)
        send();
}

void BatchSender::retryLater(const QString &error)
{
    if (m_status->setError(error))
        emit statusChanged();
    if (m_backoff.failures() == 0)
        qCWarning(lcUpload, "upload to %s failed, retrying with backoff: %s",
                  qPrintable(m_settings.url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery)),
                  qPrintable(error));
    m_retryTimer->start(m_backoff.failed());
    emit failed();
}

// ClickHouse marks its answers with headers of its own (18.16 sends
// X-ClickHouse-Server-Display-Name, later ones more), the fleet's gateway
// with X-KelUbc-Gateway. A captive portal, a wrong address or a proxy's
// error page has neither, whatever its status.
bool BatchSender::isStoreAnswer(const QNetworkReply *reply)
{
    for (const QByteArray &name : reply->rawHeaderList()) {
        if (qstricmp(name.constData(), "X-KelUbc-Gateway") == 0
            || qstrnicmp(name.constData(), "X-ClickHouse-", 13) == 0)
            return true;
    }
    return false;
}
