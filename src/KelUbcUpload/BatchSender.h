#ifndef BATCHSENDER_H
#define BATCHSENDER_H

#include "Backoff.h"
#include "UploadSettings.h"

#include <QtCore/QObject>
#include <QtCore/QVector>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
struct UploadBatch;

// Sends a batch's rows to the store, one request at a time and only while
// the upload is allowed; after the store refuses rows as unparsable, halves
// the request until the refused rows are alone; after any other failure
// tries again with backoff.
class BatchSender : public QObject
{
    Q_OBJECT
public:
    BatchSender(const UploadSettings &settings, UploadStatus *status, QObject *parent = nullptr);

    // Consent given and RuvUbc's collection switch on; checked before
    // every request.
    bool allowed() const;

    // Takes a batch with rows (it must outlive the sending) and sends it.
    void start(const UploadBatch *batch);
    bool hasBatch() const { return !m_ranges.isEmpty(); }
    bool isBusy() const { return m_reply; }
    // Sends what is due when nothing is out: after a backoff, or at once
    // with now set.
    void resume(bool now = false);
    // Forgets the batch, aborting a request that is out.
    void drop();

    // Posts rows for table: to the gateway's route beside the records' one
    // (a relative address, e.g. "upload-losses"), or to a bare server as an
    // insert. The reply is the caller's.
    QNetworkReply *post(const QString &table, const QString &route, QByteArray body);
    // The store's own answer that it has the rows.
    static bool isStored(QNetworkReply *reply);
    // Whether an answer came from the store or the fleet's gateway, by their headers.
    static bool isStoreAnswer(const QNetworkReply *reply);

Q_SIGNALS:
    // Rows [first, end) delivered, or one row refused by the store (why
    // says how); last: nothing of the batch is left.
    void rangeDone(int first, int end, bool delivered, const QString &why, bool last);
    // A request failed; it goes again after a backoff.
    void failed();
    void statusChanged();

private:
    struct Range { int first, end; };

    void send();
    void replyFinished();
    void retryLater(const QString &error);

    const UploadSettings m_settings;
    UploadStatus *m_status;
    QNetworkAccessManager *m_net;
    QTimer *m_retryTimer;
    const UploadBatch *m_batch = nullptr;
    QVector<Range> m_ranges; // parts of the batch still to confirm, in order
    QNetworkReply *m_reply = nullptr;
    Backoff m_backoff;
};

#endif // BATCHSENDER_H
