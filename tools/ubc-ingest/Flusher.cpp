#include "Flusher.h"

#include "IngestLogging.h"
#include "Spool.h"

#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtCore/QUrlQuery>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

#include <algorithm>

namespace {

constexpr int kFirstRetryMs = 500;
constexpr int kMaxRetryMs = 30000;
constexpr int kInsertTimeoutMs = 300000;

// The store refuses the rows themselves ("Code: 27, e.displayText() = ...
// Cannot parse input"): sending them again cannot help.
bool refusesRows(int status, const QByteArray &body)
{
    static const int codes[] = {6, 25, 26, 27, 38, 41, 72, 117, 190};
    if (status != 400 || !body.startsWith("Code: "))
        return false;
    int end = 6;
    while (end < body.size() && end < 12 && body.at(end) >= '0' && body.at(end) <= '9')
        ++end;
    const int code = body.mid(6, end - 6).toInt();
    return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

} // namespace

Flusher::Flusher(Spool *spool, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_spool(spool)
    , m_settings(settings)
    , m_net(new QNetworkAccessManager(this))
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &Flusher::kick);
    connect(m_net, &QNetworkAccessManager::finished, this, &Flusher::replyFinished);
}

void Flusher::kick()
{
    if (!m_sending.isEmpty() || m_retry->isActive() || m_spool->sealedCount() == 0)
        return;
    m_sending = m_spool->nextSealed(m_settings.maxInsertBytes);
    QByteArray body;
    for (const QString &path : qAsConst(m_sending)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            qCCritical(lcIngest, "cannot read the segment %s: %s", qPrintable(path), qPrintable(file.errorString()));
            m_sending.clear();
            m_retry->start(kMaxRetryMs);
            return;
        }
        body += file.readAll();
    }
    QUrl url = m_settings.url;
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("query"),
                       QStringLiteral("INSERT INTO %1 FORMAT JSONEachRow").arg(m_settings.table));
    // A newer desktop's extra members are left out; on two shards the 200
    // comes only once every shard has its rows.
    query.addQueryItem(QStringLiteral("input_format_skip_unknown_fields"), QStringLiteral("1"));
    query.addQueryItem(QStringLiteral("insert_distributed_sync"), QStringLiteral("1"));
    url.setQuery(query);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain; charset=utf-8"));
    if (!m_settings.authorization.isEmpty())
        request.setRawHeader("Authorization", m_settings.authorization);
    request.setTransferTimeout(kInsertTimeoutMs);
    m_net->post(request, body);
}

void Flusher::replyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    const QStringList sent = m_sending;
    m_sending.clear();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    if (reply->error() == QNetworkReply::NoError && status == 200) {
        if (m_failures)
            qCInfo(lcIngest, "the store takes inserts again");
        m_failures = 0;
        m_spool->remove(sent);
        kick();
        return;
    }
    const QString why = status ? QStringLiteral("HTTP %1: %2").arg(status).arg(QString::fromUtf8(answer.left(300)).trimmed())
                               : reply->errorString();
    if (refusesRows(status, answer)) {
        // Every row was checked before its 200, so this is a row the check
        // missed: keep the segments for the operator and go on with the rest.
        qCCritical(lcIngest, "the store refuses the rows of %s; set aside in refused/: %s",
                   qPrintable(sent.join(QLatin1Char(' '))), qPrintable(why));
        m_spool->setAside(sent);
        kick();
        return;
    }
    if (m_failures == 0)
        qCWarning(lcIngest, "insert failed, retrying with backoff: %s", qPrintable(why));
    ++m_failures;
    m_retry->start(qMin(kMaxRetryMs, kFirstRetryMs << qMin(m_failures - 1, 10)));
}
