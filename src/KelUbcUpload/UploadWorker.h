#ifndef UPLOADWORKER_H
#define UPLOADWORKER_H

#include "BatchBuilder.h"
#include "DeadLetters.h"
#include "LogFollower.h"
#include "RotatedLineCounts.h"
#include "UploadBatch.h"
#include "UploadLosses.h"
#include "UploadSettings.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>

#include <memory>

class BatchSender;
class LossReporter;
class QSemaphore;
class QTimer;

// Lives in the uploader's thread and coordinates the upload of one file
// (the behaviour log or the helper's journal): LogFollower follows it,
// BatchBuilder makes the batches, BatchSender sends them; the worker moves
// the cursor after each confirmation, keeps the numbered files under the
// cap while upload is off, and counts the losses LossReporter reports.
class UploadWorker : public QObject
{
    Q_OBJECT
public:
    UploadWorker(const UploadSettings &settings, UploadStatus *status);
    ~UploadWorker() override;

    // Queued from the host's thread.
    Q_INVOKABLE void begin();
    Q_INVOKABLE void poll();
    // Sends everything now, once, then releases done.
    Q_INVOKABLE void finishUp(QSemaphore *done);

Q_SIGNALS:
    void statusChanged();

private:
    void scan();
    bool build(UploadBatch &batch);
    void sendNext();
    void rangeDone(int first, int end, bool delivered, const QString &why, bool last);
    void commit(qint64 fileEnd, int lines, int rows);
    void updateWaiting();
    void moveOn();
    void keepUnderCap();
    void countQueueDrops();
    void setAside(const QByteArray &lines, int count, const QString &why);
    void checkFinished();
    void releaseFinish();

    UploadSettings m_settings;
    UploadStatus *m_status;
    std::unique_ptr<RowWriter> m_writer;
    LogFollower m_log;
    BatchBuilder m_builder;
    DeadLetters m_deadLetters;
    BatchSender *m_sender = nullptr;
    QTimer *m_pollTimer = nullptr;

    UploadBatch m_current, m_next;
    int m_currentDoneLines = 0; // lines of m_current already past the cursor
    QElapsedTimer m_unsentSince;
    int m_batchAge; // the first batch's is random, so desktops started together do not send together
    quint64 m_rotatedWaiting = 0; // lines of the numbered files not open
    RotatedLineCounts m_rotatedLines;
    bool m_warnedCap = false;
    UploadLosses m_losses;
    LossReporter *m_lossReporter = nullptr;
    QSemaphore *m_finishDone = nullptr;
};

#endif // UPLOADWORKER_H
