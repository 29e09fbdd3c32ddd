#include "KelUbcUploader.h"

#include "ErasureRequest.h"
#include "PathDigester.h"
#include "UploadLogging.h"
#include "UploadSettings.h"
#include "UploadWorker.h"

#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QPointer>
#include <QtCore/QSemaphore>
#include <QtCore/QThread>

namespace {

// How long past the finish deadline the thread may take to stop.
constexpr int kStopGrace = 1000;

} // namespace

class KelUbcUploaderPrivate
{
public:
    // The journal's settings: the log's, for the journal's file and table.
    UploadSettings journalSettings() const;

    UploadSettings settings;
    QString journalPath;
    bool sendPaths = false;
    QStringList pathAttributes;
    UploadStatus status, journalStatus;
    int finishDeadline = 2000;
    QThread *thread = nullptr;
    UploadWorker *worker = nullptr;
    UploadWorker *journalWorker = nullptr; // both live in thread
    QMetaObject::Connection quitConnection;
    bool stranded = false; // a thread left running: it still uses status and journalStatus
};

UploadSettings KelUbcUploaderPrivate::journalSettings() const
{
    UploadSettings journal = settings;
    journal.journal = true;
    journal.logPath = journalPath;
    journal.table = QStringLiteral("ubc.coded_events");
    // A gateway takes coded events at the records route's sibling.
    if (!journal.url.path().isEmpty() && journal.url.path() != QLatin1String("/"))
        journal.url = journal.url.resolved(QUrl(QStringLiteral("coded-events")));
    return journal;
}

KelUbcUploader::KelUbcUploader(QObject *parent) : QObject(parent), d(new KelUbcUploaderPrivate)
{
}

KelUbcUploader::~KelUbcUploader()
{
    finish();
    if (!d->stranded)
        delete d;
}

void KelUbcUploader::setUrl(const QUrl &url)
{
    d->settings.url = url;
    // Credentials in the address would end up in error texts; keep them in the header.
    if (!url.userName().isEmpty()) {
        setCredentials(url.userName(), url.password());
        d->settings.url.setUserInfo(QString());
    }
}

QUrl KelUbcUploader::url() const
{
    return d->settings.url;
}

void KelUbcUploader::setCredentials(const QString &user, const QString &password)
{
    d->settings.authorization = user.isEmpty()
            ? QByteArray()
            : "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
}

void KelUbcUploader::setToken(const QString &token)
{
    d->settings.authorization = token.isEmpty() ? QByteArray() : "Bearer " + token.toUtf8();
}

void KelUbcUploader::setHeader(const QByteArray &name, const QByteArray &value)
{
    d->settings.headerName = name;
    d->settings.headerValue = value;
}

void KelUbcUploader::setLogFilePath(const QString &path)
{
    d->settings.logPath = path;
}

QString KelUbcUploader::logFilePath() const
{
    if (!d->settings.logPath.isEmpty())
        return d->settings.logPath;
    RuvUbc *log = RuvUbc::instance();
    return log ? log->logFilePath() : QString();
}

void KelUbcUploader::setMaxBatchBytes(int bytes)
{
    d->settings.maxBatchBytes = qMax(bytes, 1);
}

void KelUbcUploader::setMaxBatchAge(int msecs)
{
    d->settings.maxBatchAge = qMax(msecs, 0);
}

void KelUbcUploader::setMaxKeptBytes(qint64 bytes)
{
    d->settings.maxKeptBytes = qMax<qint64>(bytes, 0);
}

void KelUbcUploader::setPollInterval(int msecs)
{
    d->settings.pollInterval = qMax(msecs, 1);
}

void KelUbcUploader::setRetryDelays(int firstMsecs, int maxMsecs)
{
    d->settings.firstRetryDelay = qMax(firstMsecs, 1);
    d->settings.maxRetryDelay = qMax(maxMsecs, d->settings.firstRetryDelay);
}

void KelUbcUploader::setCompression(bool gzip)
{
    d->settings.gzip = gzip;
}

void KelUbcUploader::setFinishDeadline(int msecs)
{
    d->finishDeadline = qMax(msecs, 0);
}

void KelUbcUploader::setJournalFilePath(const QString &path)
{
    d->journalPath = path;
}

QString KelUbcUploader::journalFilePath() const
{
    return d->journalPath;
}

void KelUbcUploader::markPathAttribute(const QString &key)
{
    if (!d->pathAttributes.contains(key))
        d->pathAttributes.append(key);
}

void KelUbcUploader::setSendPaths(bool send)
{
    d->sendPaths = send;
}

bool KelUbcUploader::sendsPaths() const
{
    return d->sendPaths;
}

void KelUbcUploader::setConsentGiven(bool given)
{
    d->status.consent.storeRelaxed(given);
    d->journalStatus.consent.storeRelaxed(given);
    for (UploadWorker *worker : {d->worker, d->journalWorker})
        if (worker)
            QMetaObject::invokeMethod(worker, &UploadWorker::poll, Qt::QueuedConnection);
}

bool KelUbcUploader::isConsentGiven() const
{
    return d->status.consent.loadRelaxed();
}

void KelUbcUploader::start()
{
    if (d->thread)
        return;
    UploadSettings settings = d->settings;
    settings.logPath = logFilePath();
    if (settings.logPath.isEmpty() || !settings.url.isValid()) {
        d->status.setError(tr("no log file or server address"));
        return;
    }
    settings.paths = std::make_shared<const PathDigester>(settings.logPath + QStringLiteral(".pathkey"),
                                                          d->sendPaths, d->pathAttributes);
    d->thread = new QThread;
    d->thread->setObjectName(QStringLiteral("KelUbcUploader"));
    d->worker = new UploadWorker(settings, &d->status);
    if (!d->journalPath.isEmpty()) {
        UploadSettings journal = d->journalSettings();
        journal.paths = settings.paths;
        d->journalWorker = new UploadWorker(journal, &d->journalStatus);
    }
    for (UploadWorker *worker : {d->worker, d->journalWorker}) {
        if (!worker)
            continue;
        worker->moveToThread(d->thread);
        connect(d->thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(worker, &UploadWorker::statusChanged, this, [this] {
            emit statusChanged(confirmedLines(), waitingLines(), lastError());
        }, Qt::QueuedConnection);
    }
    d->thread->start(QThread::LowPriority);
    for (UploadWorker *worker : {d->worker, d->journalWorker})
        if (worker)
            QMetaObject::invokeMethod(worker, &UploadWorker::begin, Qt::QueuedConnection);
    // Left to the destructor of an uploader the application owns, the last
    // request would be made during the application's teardown, where it never
    // goes out: the host would wait out the whole deadline and its last
    // records would go only at the next start. At aboutToQuit the
    // application is still whole.
    if (QCoreApplication *app = QCoreApplication::instance())
        d->quitConnection = connect(app, &QCoreApplication::aboutToQuit, this, [this] { finish(); });
}

bool KelUbcUploader::requestErasure(const QString &gid)
{
    if (!ErasureRequest::isDigest(gid) || !d->settings.url.isValid())
        return false;
    auto *request = new ErasureRequest(d->settings, gid, this);
    connect(request, &ErasureRequest::finished, this, &KelUbcUploader::erasureRequestFinished);
    return true;
}

bool KelUbcUploader::isRunning() const
{
    return d->thread;
}

bool KelUbcUploader::finish()
{
    return finish(d->finishDeadline);
}

bool KelUbcUploader::finish(int msecs)
{
    if (!d->thread)
        return waitingLines() == 0 && journalWaitingLines() == 0;
    disconnect(d->quitConnection);
    QDeadlineTimer deadline(msecs);
    // On the heap: a worker that does not stop in time may release it later.
    auto *done = new QSemaphore;
    int workers = 0;
    for (UploadWorker *worker : {d->worker, d->journalWorker}) {
        if (!worker)
            continue;
        ++workers;
        QMetaObject::invokeMethod(worker, [worker, done] { worker->finishUp(done); }, Qt::QueuedConnection);
    }
    done->tryAcquire(workers, int(qMax<qint64>(deadline.remainingTime(), 0)));
    // The thread stops between two events. One held in a system call (a
    // log that is a FIFO, a file system or socket that never answers) must
    // not hold up the host: it is left running, with what it uses.
    d->thread->quit();
    if (d->thread->wait(QDeadlineTimer(qMax<qint64>(deadline.remainingTime(), 0) + kStopGrace))) {
        delete d->thread;
        delete done;
    } else {
        qCWarning(lcUpload, "the upload thread did not stop within %d ms of the finish deadline; left running",
                  kStopGrace);
        connect(d->thread, &QThread::finished, d->thread, &QObject::deleteLater);
        d->stranded = true;
    }
    d->thread = nullptr;
    d->worker = nullptr;
    d->journalWorker = nullptr;
    emit statusChanged(confirmedLines(), waitingLines(), lastError());
    return waitingLines() == 0 && journalWaitingLines() == 0;
}

quint64 KelUbcUploader::confirmedLines() const
{
    return d->status.confirmed.loadRelaxed();
}

quint64 KelUbcUploader::waitingLines() const
{
    return d->status.waiting.loadRelaxed();
}

quint64 KelUbcUploader::rejectedLines() const
{
    return d->status.rejected.loadRelaxed();
}

quint64 KelUbcUploader::journalConfirmedLines() const
{
    return d->journalStatus.confirmed.loadRelaxed();
}

quint64 KelUbcUploader::journalWaitingLines() const
{
    return d->journalStatus.waiting.loadRelaxed();
}

QString KelUbcUploader::lastError() const
{
    const QString error = d->status.error();
    return error.isEmpty() ? d->journalStatus.error() : error;
}

QString KelUbcUploader::cursorFilePath() const
{
    return logFilePath() + QStringLiteral(".cursor");
}

QString KelUbcUploader::deadLetterFilePath() const
{
    return logFilePath() + QStringLiteral(".rejected");
}
