#include "LossReporter.h"

#include "BatchSender.h"
#include "UploadLogging.h"
#include "UploadLosses.h"

#include <RuvUbc.h>

#include <QtNetwork/QNetworkReply>

LossReporter::LossReporter(UploadLosses &losses, BatchSender *sender, const UploadSettings &settings, QObject *parent)
    : QObject(parent)
    , m_losses(losses)
    , m_sender(sender)
    , m_backoff(settings.firstRetryDelay, settings.maxRetryDelay)
{
}

void LossReporter::sendIfDue()
{
    if (m_reply || m_losses.isEmpty() || m_sender->isBusy() || m_sender->hasBatch() || !m_sender->allowed()
        || !m_backoff.mayTry())
        return;
    UbcDataProtocol record;
    RuvUbc::instance()->initUbcDataProtocol(record);
    m_reply = m_sender->post(QStringLiteral("ubc.upload_losses"), QStringLiteral("upload-losses"),
                             m_losses.reportRows(record.gid));
    connect(m_reply, &QNetworkReply::finished, this, &LossReporter::replyFinished);
}

void LossReporter::replyFinished()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    if (BatchSender::isStored(reply)) {
        m_losses.reported();
        m_backoff.succeeded();
        return;
    }
    if (m_backoff.failures() == 0)
        qCWarning(lcUpload, "the report of upload losses was not stored (%s); retrying with backoff",
                  qPrintable(reply->errorString()));
    m_backoff.failed();
}
