#include "UploadWorker.h"

#include "BatchSender.h"
#include "JournalRowWriter.h"
#include "LossReporter.h"
#include "RecordRowWriter.h"
#include "ThreadPriority.h"
#include "UploadLogging.h"

#include <RotatedLogs.h>
#include <RuvUbc.h>

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRandomGenerator>
#include <QtCore/QSemaphore>
#include <QtCore/QTimer>

Q_LOGGING_CATEGORY(lcUpload, "kelubc.upload")

namespace {

// A numbered file is removed only once it has not grown for this long: a
// writer in another process notices a rotation within a second and may
// append to the renamed file until then.
constexpr qint64 kQuietMs = 5000;

} // namespace

UploadWorker::UploadWorker(const UploadSettings &settings, UploadStatus *status)
    : m_settings(settings)
    , m_status(status)
    , m_writer(settings.journal ? std::unique_ptr<RowWriter>(new JournalRowWriter)
                                : std::unique_ptr<RowWriter>(new RecordRowWriter))
    , m_log(settings.logPath)
    , m_builder(m_log, *m_writer)
    , m_deadLetters(settings.logPath + QStringLiteral(".rejected"), status)
    , m_batchAge(settings.maxBatchAge / 2 + int(QRandomGenerator::global()->bounded(settings.maxBatchAge / 2 + 1)))
    , m_rotatedLines(settings.logPath)
    , m_losses(settings.logPath + QStringLiteral(".losses"))
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
    m_lossReporter = new LossReporter(m_losses, m_sender, m_settings, this);
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
    m_rotatedWaiting = m_rotatedLines.waiting(m_log);
    updateWaiting();
}

void UploadWorker::poll()
{
    countQueueDrops();
    scan();
    if (!m_sender->allowed())
        keepUnderCap();
    moveOn();
    m_log.removeDone(kQuietMs);
    sendNext();
    m_lossReporter->sendIfDue();
    checkFinished();
}

// A replaced log: the old file's lines go first, then the new file's. A
// numbered file that is done is removed once no writer adds to it.
void UploadWorker::moveOn()
{
    if (!m_log.isReplaced() || !m_log.isOpen() || m_sender->hasBatch() || !m_current.isEmpty() || !m_next.isEmpty()
        || m_log.confirmed() != m_log.completeEnd())
        return;
    m_log.finishFile();
    scan();
}

// Upload off: the numbered files, oldest first, go until the rest fits.
void UploadWorker::keepUnderCap()
{
    const QVector<RotatedLogs::File> files = RotatedLogs::list(m_settings.logPath);
    qint64 total = 0;
    for (const RotatedLogs::File &file : files)
        total += file.size;
    for (const RotatedLogs::File &file : files) {
        if (total <= m_settings.maxKeptBytes)
            break;
        quint64 lines;
        if (m_log.isOpenFile(file.path)) {
            if (m_sender->isBusy()) // a request of it is out: after its answer
                break;
            m_sender->drop();
            m_current = UploadBatch();
            m_next = UploadBatch();
            lines = m_log.waitingLines();
            m_log.close();
        } else {
            lines = m_rotatedLines.lines(file);
        }
        if (!QFile::remove(file.path)) {
            qCWarning(lcUpload, "cannot remove %s to keep the numbered logs under %lld bytes", qPrintable(file.path),
                      m_settings.maxKeptBytes);
            break;
        }
        m_rotatedLines.forget(file.path);
        total -= file.size;
        m_losses.add(UploadLosses::RotatedUnsent, lines);
        if (!m_warnedCap)
            qCWarning(lcUpload, "upload is off and the numbered logs passed %lld bytes: removed %s with %llu records "
                      "never sent; further removals are counted, not warned about",
                      m_settings.maxKeptBytes, qPrintable(file.path), lines);
        m_warnedCap = true;
    }
    if (!m_log.isOpen())
        scan();
}

// Records RuvUbc dropped from its queue for this log (it can drop only in
// the process that writes it).
void UploadWorker::countQueueDrops()
{
    RuvUbc *log = RuvUbc::instance();
    if (!log || QFileInfo(log->logFilePath()).absoluteFilePath() != QFileInfo(m_settings.logPath).absoluteFilePath())
        return;
    const quint64 dropped = log->droppedRecords();
    if (dropped > m_status->droppedSeen)
        m_losses.add(UploadLosses::QueueDropped, dropped - m_status->droppedSeen);
    m_status->droppedSeen = dropped;
}

void UploadWorker::setAside(const QByteArray &lines, int count, const QString &why)
{
    m_deadLetters.add(lines, count, why);
    m_losses.add(UploadLosses::SetAside, quint64(count));
}

bool UploadWorker::build(UploadBatch &batch)
{
    const bool built = m_builder.build(batch, m_settings.maxBatchBytes);
    int count = 0;
    const QByteArray refused = m_builder.takeRefused(&count);
    setAside(refused, count, m_settings.journal ? QStringLiteral("not coded events") : QStringLiteral("not record lines"));
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
                             || m_unsentSince.elapsed() >= m_batchAge;
            if (!due)
                return;
            m_unsentSince.invalidate();
            m_batchAge = m_settings.maxBatchAge;
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
        setAside(m_log.read(m_current.rowFileStart.at(first), m_current.rowFileEnd.at(first)), 1, why);
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
    const quint64 waiting = m_log.waitingLines() + m_rotatedWaiting;
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
