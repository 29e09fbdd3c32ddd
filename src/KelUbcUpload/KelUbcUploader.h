#ifndef KELUBCUPLOADER_H
#define KELUBCUPLOADER_H

#include "KelUbcUploadGlobal.h"

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QUrl>

class KelUbcUploaderPrivate;

// Ships the behaviour log's new lines to the fleet's store over HTTP, from a
// thread of its own; the thread that logs pays nothing per record. Off until
// start(), and it sends only while consent is given and RuvUbc's collection
// switch is on (checked before every request):
//
//     KelUbcUploader *uploader = new KelUbcUploader(&app);
//     uploader->setUrl(QUrl(QStringLiteral("https://ubc.example.com/v1/records"))); // the gateway
//     uploader->setToken(fleetToken);
//     uploader->setConsentGiven(consent.isGranted());
//     uploader->start();
//
// The address: a path other than "/" (the gateway's /v1/records) is posted
// to as given; an empty path or "/" is a bare ClickHouse server, told
// "INSERT INTO ubc.records FORMAT JSONEachRow" in the query.
//
// Delivery is at least once: a cursor beside the log (log path + ".cursor":
// the file's device, inode, byte offset and a checksum of its first 4 KiB)
// is replaced atomically only after the store confirmed a batch; an HTTP 200
// counts only with the store's own headers (X-ClickHouse-*, or the
// gateway's X-KelUbc-Gateway). A log replaced or rotated is read from its
// start once the old one is done; a log cut short or rewritten in place is
// read again from its start. A line without its newline yet is never sent.
// Lines that are not records, and rows the store refuses as unparsable (its
// HTTP 400, found by halving the request), go to the dead-letter file (log
// path + ".rejected", 0600) with a warning. Other failures are retried with
// exponential backoff and jitter. Credentials are never logged. At the
// application's quit (QCoreApplication::aboutToQuit) the uploader finishes
// itself: one last attempt within the finish deadline; the rest goes at the
// next start.
//
// Paths stay on the desktop: prjfullpath, and every attribute the host marks
// with markPathAttribute(), go as "hmac:" and 32 hex digits, a keyed digest
// of the normalised path under a key made for this installation (log path +
// ".pathkey", 0600) that is never sent. The same project gives the same
// digest on this computer. setSendPaths(true) sends them as written. The
// files on the desktop hold the paths as written either way.
//
// The host helper's journal of coded events (RuvUbcHelper) is shipped the
// same way when setJournalFilePath() names it, with a cursor and dead-letter
// file of its own beside it, into ubc.coded_events: a bare ClickHouse server
// is told that table, a gateway address gets its sibling path (/v1/records
// -> /v1/coded-events).
//
// The log's numbered files (RuvUbc rotates the log by size) are read first,
// oldest first, and each is removed once the store confirmed all of it and
// no writer has added to it for a few seconds. While upload is off (no
// consent, or collection off), the numbered files are kept to at most
// setMaxKeptBytes() in all, the oldest removed first; their records are
// counted as lost, with one warning. The uploader's own losses (records
// RuvUbc dropped from its queue, lines set aside, numbered files removed
// unsent) are kept beside the log (log path + ".losses") and sent to the
// store's ubc.upload_losses (the gateway's /v1/upload-losses, beside
// /v1/records) once upload works.
class KELUBCUPLOAD_EXPORT KelUbcUploader : public QObject
{
    Q_OBJECT
public:
    explicit KelUbcUploader(QObject *parent = nullptr);
    // Stops like finish(finishDeadline()).
    ~KelUbcUploader() override;

    // Settings; read by start().
    void setUrl(const QUrl &url);               // the gateway's /v1/records, or a ClickHouse server's http://host:8123/
    QUrl url() const;
    void setToken(const QString &token);        // "Authorization: Bearer <token>", for the gateway
    void setCredentials(const QString &user, const QString &password); // HTTP basic, for ClickHouse; replaces a token
    void setHeader(const QByteArray &name, const QByteArray &value);     // one extra header, e.g. a proxy's
    void setLogFilePath(const QString &path);   // default: RuvUbc's primary file at start()
    QString logFilePath() const;
    void setMaxBatchBytes(int bytes);           // log bytes per request, default 8 MiB (~0.6 MiB gzipped)
    void setMaxBatchAge(int msecs);             // oldest unsent line waits at most this, default 5 min
                                                // (the first batch of a run: a random part of it, from half)
    void setMaxKeptBytes(qint64 bytes);         // numbered log files kept while upload is off, default 64 MiB
    void setPollInterval(int msecs);            // how often the log is looked at, default 1 s
    void setRetryDelays(int firstMsecs, int maxMsecs); // backoff, default 1 s doubling to 5 min
    void setCompression(bool gzip);             // gzip request bodies, default on
    void setFinishDeadline(int msecs);          // default 2 s, also at the application's quit
    void setJournalFilePath(const QString &path); // the helper's journal; default none
    QString journalFilePath() const;
    void markPathAttribute(const QString &key); // an attribute that holds a path: sent as a digest
    void setSendPaths(bool send);               // paths as written; default false (digests)
    bool sendsPaths() const;

    // May change at any time; nothing is sent while false. Default false.
    void setConsentGiven(bool given);
    bool isConsentGiven() const;

    void start();
    bool isRunning() const;
    // Sends what waits at once, ignoring batch age and backoff, and stops.
    // Blocks the calling thread at most msecs, and a second more for the
    // uploader's thread to stop (one held in a system call is left running);
    // true when nothing waits (in the log nor in the journal).
    bool finish(int msecs);
    bool finish();

    // Status; any thread. The lines are the log's; the journal's are counted apart.
    quint64 confirmedLines() const; // confirmed by the server since start()
    quint64 waitingLines() const;   // complete lines in the log not yet confirmed
    quint64 rejectedLines() const;  // set aside in the dead-letter file since start()
    quint64 journalConfirmedLines() const;
    quint64 journalWaitingLines() const;
    QString lastError() const;      // empty after a confirmed batch (the log's, then the journal's)
    QString cursorFilePath() const;
    QString deadLetterFilePath() const;

    // Asks the server to erase every record of this machine: posts gid (the
    // machine's digest, as the records carry it) and the time, nothing else,
    // to the gateway's /v1/erasure-requests beside the records' address (a
    // bare ClickHouse server: into ubc.erasure_requests), with the same
    // token or credentials. The operator applies the requests
    // (erase-machine.sh --requests). Sent whatever the consent: a person who
    // withdrew it may still want what was sent gone. Returns at once; false,
    // with nothing sent, when gid is not a hex digest or no address is set.
    bool requestErasure(const QString &gid);

Q_SIGNALS:
    // Emitted in the uploader's thread whenever a figure changes.
    void statusChanged(quint64 confirmed, quint64 waiting, const QString &lastError);
    // Emitted in the thread that called requestErasure(): accepted when the
    // store or the gateway answered 200, else why not.
    void erasureRequestFinished(const QString &gid, bool accepted, const QString &error);

private:
    Q_DISABLE_COPY(KelUbcUploader)
    KelUbcUploaderPrivate *d;
};

#endif // KELUBCUPLOADER_H
