#ifndef KELUBCUPLOADER_H
#define KELUBCUPLOADER_H

#include "KelUbcUploadGlobal.h"

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QUrl>

class KelUbcUploaderPrivate;

// Ships the behaviour log's new lines to a ClickHouse server over HTTP, as
// "INSERT INTO ubc.records FORMAT JSONEachRow" batches, from a thread of its
// own; the thread that logs pays nothing per record. Off until start(), and it
// sends only while consent is given and RuvUbc's collection switch is on:
//
//     KelUbcUploader *uploader = new KelUbcUploader(&app);
//     uploader->setUrl(QUrl(QStringLiteral("https://ubc.example.com/")));
//     uploader->setCredentials(QStringLiteral("ubc_desktop"), password);
//     uploader->setConsentGiven(consent.isGranted());
//     uploader->start();
//
// Delivery is at least once: a cursor beside the log (log path + ".cursor":
// the file's device, inode, byte offset and a checksum of its first 4 KiB) is saved atomically only after
// the server confirmed a batch. A log file replaced or rotated is read from
// its start once the old one is done. A line without its newline yet is never
// sent. A batch the server refuses as malformed (HTTP 400) is split until the
// refused lines are found; they go to the dead-letter file (log path +
// ".rejected", mode 0600) with a warning. Other failures are retried with
// exponential backoff and jitter. Credentials are never logged.
class KELUBCUPLOAD_EXPORT KelUbcUploader : public QObject
{
    Q_OBJECT
public:
    explicit KelUbcUploader(QObject *parent = nullptr);
    // Stops like finish(finishDeadline()).
    ~KelUbcUploader() override;

    // Settings; read by start().
    void setUrl(const QUrl &url);               // the server's HTTP endpoint, e.g. http://host:8123/
    QUrl url() const;
    void setCredentials(const QString &user, const QString &password); // HTTP basic
    void setHeader(const QByteArray &name, const QByteArray &value);     // e.g. a proxy's token
    void setLogFilePath(const QString &path);   // default: RuvUbc's primary file at start()
    QString logFilePath() const;
    void setMaxBatchBytes(int bytes);           // log bytes per request, default 8 MiB (~0.6 MiB gzipped)
    void setMaxBatchAge(int msecs);             // oldest unsent line waits at most this, default 30 s
    void setPollInterval(int msecs);            // how often the log is looked at, default 1 s
    void setRetryDelays(int firstMsecs, int maxMsecs); // backoff, default 1 s doubling to 5 min
    void setCompression(bool gzip);             // gzip request bodies, default on
    void setFinishDeadline(int msecs);          // default 2 s

    // May change at any time; nothing is sent while false. Default false.
    void setConsentGiven(bool given);
    bool isConsentGiven() const;

    void start();
    bool isRunning() const;
    // Sends what waits at once, ignoring batch age and backoff, and stops.
    // Blocks the calling thread at most msecs; true when nothing waits.
    bool finish(int msecs);
    bool finish();

    // Status; any thread.
    quint64 confirmedLines() const; // confirmed by the server since start()
    quint64 waitingLines() const;   // complete lines in the log not yet confirmed
    quint64 rejectedLines() const;  // set aside in the dead-letter file since start()
    QString lastError() const;      // empty after a confirmed batch
    QString cursorFilePath() const;
    QString deadLetterFilePath() const;

Q_SIGNALS:
    // Emitted in the uploader's thread whenever a figure changes.
    void statusChanged(quint64 confirmed, quint64 waiting, const QString &lastError);

private:
    Q_DISABLE_COPY(KelUbcUploader)
    KelUbcUploaderPrivate *d;
};

#endif // KELUBCUPLOADER_H
