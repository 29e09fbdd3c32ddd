#ifndef UPLOADSETTINGS_H
#define UPLOADSETTINGS_H

#include <QtCore/QAtomicInteger>
#include <QtCore/QByteArray>
#include <QtCore/QMutex>
#include <QtCore/QString>
#include <QtCore/QUrl>

#include <memory>

class PathDigester;

// What the uploader's thread is told at start.
struct UploadSettings
{
    QUrl url;
    QByteArray authorization;           // "Basic ...", "Bearer ..." or empty
    QByteArray headerName, headerValue; // an extra header or empty
    QString logPath;
    bool journal = false;               // the helper's journal, not the behaviour log
    QString table = QStringLiteral("ubc.records"); // what a bare ClickHouse server is told to insert into
    // Paths: sent as written, or as digests; one digester for the uploader's
    // thread, which alone uses it.
    std::shared_ptr<const PathDigester> paths;
    int maxBatchBytes = 8 << 20;
    int maxBatchAge = 300000;
    qint64 maxKeptBytes = qint64(64) << 20;
    int pollInterval = 1000;
    int firstRetryDelay = 1000;
    int maxRetryDelay = 300000;
    bool gzip = true;
};

// Shared between the uploader's thread and the host's.
struct UploadStatus
{
    QAtomicInteger<quint64> confirmed;
    QAtomicInteger<quint64> waiting;
    QAtomicInteger<quint64> rejected;
    quint64 droppedSeen = 0; // RuvUbc's dropped records already counted; the uploader's thread only
    QAtomicInt consent;
    mutable QMutex mutex;
    QString lastError; // guarded by mutex

    QString error() const
    {
        QMutexLocker lock(&mutex);
        return lastError;
    }
    bool setError(const QString &error)
    {
        QMutexLocker lock(&mutex);
        if (lastError == error)
            return false;
        lastError = error;
        return true;
    }
};

#endif // UPLOADSETTINGS_H
