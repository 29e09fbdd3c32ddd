#ifndef ERASUREREQUEST_H
#define ERASUREREQUEST_H

#include "UploadSettings.h"

#include <QtCore/QObject>

class QNetworkAccessManager;

// One request that the server erase a machine's records: the machine's
// digest (the records' gid) and the time, nothing else. To the gateway's
// /v1/erasure-requests beside its /v1/records, or, to a bare ClickHouse
// server, an insert into ubc.erasure_requests. Tried once; deletes itself
// after finished().
class ErasureRequest : public QObject
{
    Q_OBJECT
public:
    ErasureRequest(const UploadSettings &settings, const QString &gid, QObject *parent = nullptr);

    // Whether gid is a digest as RuvUbc writes it: hex digits only.
    static bool isDigest(const QString &gid);

Q_SIGNALS:
    // accepted: the store (or the gateway) answered 200; else why not.
    void finished(const QString &gid, bool accepted, const QString &error);

private:
    QNetworkAccessManager *m_net;
};

#endif // ERASUREREQUEST_H
