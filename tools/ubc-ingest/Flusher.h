#ifndef FLUSHER_H
#define FLUSHER_H

#include <QtCore/QObject>
#include <QtCore/QStringList>
#include <QtCore/QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class Spool;

// Sends the spool's sealed segments to the store, the oldest first, several
// in one insert while they fit in maxInsertBytes, one insert at a time. A
// segment is removed only after the store's 200; any other answer is tried
// again with backoff, so a store that is down only delays the records. Rows
// the store refuses (the check before the 200 should have caught them) are
// found by halving the insert and set aside alone.
class Flusher : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        QUrl url;                // the store's HTTP address
        QByteArray authorization; // "Basic ..."
        QString table = QStringLiteral("ubc.records");
        qint64 maxInsertBytes = 64 << 20;
    };

    Flusher(Spool *spool, const Settings &settings, QObject *parent = nullptr);

    // Sends what is sealed, unless an insert is on its way or waiting to be retried.
    void kick();

private:
    struct Range
    {
        int first, end; // bytes of m_body, whole lines
    };
    bool load();
    void send();
    void replyFinished(QNetworkReply *reply);

    Spool *m_spool;
    Settings m_settings;
    QNetworkAccessManager *m_net;
    QTimer *m_retry;
    QStringList m_sending; // the segments in m_body
    QByteArray m_body;
    QList<Range> m_ranges; // of m_body, not yet stored
    bool m_inFlight = false;
    int m_failures = 0;
};

#endif // FLUSHER_H
