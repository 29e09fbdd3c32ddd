#ifndef INGESTSERVER_H
#define INGESTSERVER_H

#include <QtCore/QHash>
#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtNetwork/QHostAddress>

#include "RowChecker.h"

class Flusher;
class QTcpServer;
class QTcpSocket;
class QTimer;
class Spool;

// The HTTP side, for the gateway in front of it: each POST's body (plain or
// gzip) is checked to be rows, appended to the spool and answered 200 only
// once it is on disk. Requests of the last few milliseconds share one sync.
// A body that is not rows gets the store's own kind of answer to a parse
// error (400, "Code: 27, ..."), so that the uploader sets its lines aside.
class IngestServer : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        QHostAddress address = QHostAddress::LocalHost;
        quint16 port = 0;
        int syncDelayMs = 2;          // how long a sync waits for more requests
        int sealAfterMs = 1000;       // a segment goes to the store after this long...
        qint64 sealBytes = 16 << 20;  // ... or this size
        qint64 maxSpoolBytes = qint64(4) << 30; // then 503: the desktops keep their records
        qint64 maxBodyBytes = 64 << 20;         // a request, inflated
    };

    IngestServer(Spool *spool, Flusher *flusher, const Settings &settings, QObject *parent = nullptr);
    ~IngestServer() override;

    bool listen(QString *error);
    quint16 port() const;

private:
    struct Connection;
    void accept();
    void readFrom(QTcpSocket *socket);
    void handle(QTcpSocket *socket, const QByteArray &encoding, const QByteArray &body);
    void answer(QTcpSocket *socket, int status, const QByteArray &text);
    void commit();
    void tick();

    Spool *m_spool;
    Flusher *m_flusher;
    Settings m_settings;
    QTcpServer *m_server;
    QTimer *m_syncTimer;
    QTimer *m_sealTimer;
    QHash<QTcpSocket *, Connection *> m_connections;
    QList<QPointer<QTcpSocket>> m_waiting; // appended, not yet synced
    qint64 m_unsyncedBytes = 0;
    RowChecker m_checker;
    QByteArray m_rows;
    QByteArray m_inflated;
};

#endif // INGESTSERVER_H
