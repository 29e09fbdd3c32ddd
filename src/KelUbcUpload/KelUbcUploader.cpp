#include "KelUbcUploader.h"

#include "ErasureRequest.h"
#include "UploadSettings.h"
#include "UploadWorker.h"

#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QPointer>
#include <QtCore/QSemaphore>
#include <QtCore/QThread>

class KelUbcUploaderPrivate
{
public:
    UploadSettings settings;
    UploadStatus status;
    int finishDeadline = 2000;
    QThread *thread = nullptr;
    UploadWorker *worker = nullptr;
    QMetaObject::Connection quitConnection;
};

KelUbcUploader::KelUbcUploader(QObject *parent) : QObject(parent), d(new KelUbcUploaderPrivate)
{
}

KelUbcUploader::~KelUbcUploader()
{
    finish();
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

void KelUbcUploader::setConsentGiven(bool given)
{
    d->status.consent.storeRelaxed(given);
    if (d->worker)
        QMetaObject::invokeMethod(d->worker, &UploadWorker::poll, Qt::QueuedConnection);
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
    d->thread = new QThread;
    d->thread->setObjectName(QStringLiteral("KelUbcUploader"));
    d->worker = new UploadWorker(settings, &d->status);
    d->worker->moveToThread(d->thread);
    connect(d->thread, &QThread::finished, d->worker, &QObject::deleteLater);
    connect(d->worker, &UploadWorker::statusChanged, this, [this] {
        emit statusChanged(confirmedLines(), waitingLines(), lastError());
    }, Qt::QueuedConnection);
    d->thread->start(QThread::LowPriority);
    QMetaObject::invokeMethod(d->worker, &UploadWorker::begin, Qt::QueuedConnection);
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
        return waitingLines() == 0;
    disconnect(d->quitConnection);
    QDeadlineTimer deadline(msecs);
    QSemaphore done;
    QMetaObject::invokeMethod(d->worker, [worker = d->worker, &done] { worker->finishUp(&done); },
                              Qt::QueuedConnection);
    const bool answered = done.tryAcquire(1, int(qMax<qint64>(deadline.remainingTime(), 0)));
    // The worker must not release a semaphore that is gone: stop its thread
    // first. Nothing in it blocks, so the wait is short.
    d->thread->quit();
    d->thread->wait();
    Q_UNUSED(answered)
    delete d->thread;
    d->thread = nullptr;
    d->worker = nullptr;
    emit statusChanged(confirmedLines(), waitingLines(), lastError());
    return waitingLines() == 0;
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

QString KelUbcUploader::lastError() const
{
    return d->status.error();
}

QString KelUbcUploader::cursorFilePath() const
{
    return logFilePath() + QStringLiteral(".cursor");
}

QString KelUbcUploader::deadLetterFilePath() const
{
    return logFilePath() + QStringLiteral(".rejected");
}
