#include "UploadWorker.h"

#include "BatchSender.h"
#include "JournalRowWriter.h"
#include "RecordRowWriter.h"
#include "ThreadPriority.h"
#include "UploadLogging.h"

#include <QtCore/QSemaphore>
#include <QtCore/QTimer>

Q_LOGGING_CATEGORY(lcUpload, "kelubc.upload")

UploadWorker::UploadWorker(const UploadSettings &settings, UploadStatus *status)
    : m_settings(settings)
    , m_status(status)
    , m_writer(settings.journal ? std::unique_ptr<RowWriter>(new JournalRowWriter)
                                : std::unique_ptr<RowWriter>(new RecordRowWriter))
    , m_log(settings.logPath)
    , m_builder(m_log, *m_writer)
    , m_deadLetters(settings.logPath + QStringLiteral(".rejected"), status)
{
    m_writer->setPathDigester(settings.paths.get());
}

UploadWorker::~UploadWorker() = default;

void UploadWorker::begin()
{
    ThreadPriority::lowerCurrentThread();
    m_sender = new BatchSender(m_settings, m_status, this);
    connect(m_sender, &BatchSender::rangeDone, this, &UploadWorker::rangeDone);
    connect(m_sender, &BatchSender::failed, this, &UploadWorker::releaseFinish);
    connect(m_sender, &BatchSender::statusChanged, this, &UploadWorker::statusChanged);
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(m_settings.pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &UploadWorker::poll);
    m_pollTimer->start();
    poll();
}

void UploadWorker::scan()
{
    if (m_log.scan()) {
        // Reading starts over: what was read of the file before is forgotten.
        m_sender->drop();
        m_current = UploadBatch();
        m_next = UploadBatch();
        m_builder.restart(m_log.confirmed());
    }
    updateWaiting();
}

void UploadWorker::poll()
{
    scan();
    // A replaced log: the old file's lines go first, then the new file.
    if (m_log.isReplaced() && m_log.isOpen() && !m_sender->hasBatch() && m_current.isEmpty() && m_next.isEmpty()
        && m_log.confirmed() == m_log.completeEnd()) {
        m_log.close();
        scan();
    }
    sendNext();
    checkFinished();
}

bool UploadWorker::build(UploadBatch &batch)
{
    const bool built = m_builder.build(batch, m_settings.maxBatchBytes);
    int count = 0;
    const QByteArray refused = m_builder.takeRefused(&count);
    m_deadLetters.add(refused, count, m_settings.journal ? QStringLiteral("not coded events") : QStringLiteral("not record lines"));
    return built;
}

void UploadWorker::sendNext()
{
    if (m_sender->hasBatch()) {
        m_sender->resume();
        return;
    }
    while (m_sender->allowed()) {
        if (m_current.isEmpty()) {
            m_current = m_next;
            m_next = UploadBatch();
            m_currentDoneLines = 0;
        }
        if (m_current.isEmpty()) {
            const qint64 unsent = m_builder.unread();
            if (unsent <= 0) {
                m_unsentSince.invalidate();
                return;
            }
            if (!m_unsentSince.isValid())
                m_unsentSince.start();
            const bool due = m_finishDone || m_log.isReplaced() || unsent >= m_settings.maxBatchBytes
                             || m_unsentSince.elapsed() >= m_settings.maxBatchAge;
            if (!due)
                return;
            m_unsentSince.invalidate();
            if (!build(m_current))
                return;
        }
        if (m_current.rowCount() == 0) { // only blank or refused lines
            commit(m_current.fileEnd, m_current.lines - m_currentDoneLines, 0);
            m_current = UploadBatch();
            continue;
        }
        m_sender->start(&m_current);
        // The next batch is built while the server takes this one.
        if (m_next.isEmpty() && (m_finishDone || m_log.isReplaced() || m_builder.unread() >= m_settings.maxBatchBytes))
            build(m_next);
        return;
    }
}

void UploadWorker::rangeDone(int first, int end, bool delivered, const QString &why, bool last)
{
    if (!delivered)
        m_deadLetters.add(m_log.read(m_current.rowFileStart.at(first), m_current.rowFileEnd.at(first)), 1, why);
    const int rows = delivered ? end - first : 0;
    if (last) {
        commit(m_current.fileEnd, m_current.lines - m_currentDoneLines, rows);
        m_current = UploadBatch();
        sendNext();
    } else {
        commit(m_current.rowFileEnd.at(end - 1), m_current.rowLines.at(end - 1) - m_currentDoneLines, rows);
    }
    checkFinished();
}

void UploadWorker::commit(qint64 fileEnd, int lines, int rows)
{
    m_log.advance(fileEnd, lines);
    m_currentDoneLines += lines;
    m_status->confirmed.fetchAndAddRelaxed(quint64(rows));
    updateWaiting();
    emit statusChanged();
}

void UploadWorker::updateWaiting()
{
    const quint64 waiting = m_log.waitingLines();
    if (m_status->waiting.fetchAndStoreRelaxed(waiting) != waiting)
        emit statusChanged();
}

void UploadWorker::finishUp(QSemaphore *done)
{
    m_finishDone = done;
    scan();
    m_sender->resume(true); // the last attempt is now
    if (!m_sender->isBusy())
        poll();
    checkFinished();
}

void UploadWorker::checkFinished()
{
    if (!m_finishDone || m_sender->isBusy())
        return;
    if (!m_sender->allowed() || !m_log.isOpen()
        || (m_log.confirmed() == m_log.completeEnd() && !m_sender->hasBatch()))
        releaseFinish();
}

void UploadWorker::releaseFinish()
{
    if (m_finishDone) {
        m_finishDone->release();
        m_finishDone = nullptr;
    }
}
