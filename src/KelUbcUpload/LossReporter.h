#ifndef LOSSREPORTER_H
#define LOSSREPORTER_H

#include "Backoff.h"

#include <QtCore/QObject>

class BatchSender;
class QNetworkReply;
class UploadLosses;
struct UploadSettings;

// Sends the report of the upload's losses through the batches' sender,
// one at a time and only between batches. A report the store did not
// take goes again after a backoff of whole delays: the batches it waits
// for are spread already.
class LossReporter : public QObject
{
    Q_OBJECT
public:
    LossReporter(UploadLosses &losses, BatchSender *sender, const UploadSettings &settings, QObject *parent = nullptr);

    // Sends the report if there is one and its turn has come.
    void sendIfDue();

private:
    void replyFinished();

    UploadLosses &m_losses;
    BatchSender *m_sender;
    QNetworkReply *m_reply = nullptr;
    Backoff m_backoff;
};

#endif // LOSSREPORTER_H
