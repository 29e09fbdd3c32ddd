#include "UploadWorker.h"

#include "GzipBody.h"

#include <RuvUbc.h>

#include <QtCore/QFile>
#include <QtCore/QLoggingCategory>
#include <QtCore/QRandomGenerator>
#include <QtCore/QSaveFile>
#include <QtCore/QSemaphore>
#include <QtCore/QTimer>
#include <QtCore/QUrlQuery>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#endif

Q_LOGGING_CATEGORY(lcUpload, "kelubc.upload")

namespace {

constexpr qint64 kScanChunk = 1 << 20;
constexpr int kRequestTimeout = 30000;
// A new file may get a removed one's inode: the cursor also holds a checksum
// of the file's first bytes, which appending never changes.
constexpr qint64 kPrefixBytes = 4096;

QString cursorPath(const QString &logPath)
{
    return logPath + QStringLiteral(".cursor");
}

QString deadLetterPath(const QString &logPath)
{
    return logPath + QStringLiteral(".rejected");
}

qint64 readAt(int fd, char *buffer, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

// The server's message, first line only: enough to tell what went wrong.
QString serverMessage(QNetworkReply *reply, int status)
{
    const QByteArray body = reply->readAll();
    const int newline = body.indexOf('\n');
    QString text = QString::fromUtf8(body.left(newline < 0 ? 300 : qMin(newline, 300))).trimmed();
    if (status > 0)
        return text.isEmpty() ? QStringLiteral("HTTP %1").arg(status)
                              : QStringLiteral("HTTP %1: %2").arg(status).arg(text);
    return reply->errorString();
}

} // namespace

UploadWorker::UploadWorker(const UploadSettings &settings, UploadStatus *status)
    : m_settings(settings), m_status(status)
{
}

UploadWorker::~UploadWorker()
{
    closeLog();
}

void UploadWorker::begin()
{
#ifdef Q_OS_LINUX
    // QThread::LowPriority means nothing to Linux's default scheduler; a
    // higher nice value for this thread alone does, so that on a busy machine
    // the host's threads run first and the upload takes what is left.
    const auto tid = id_t(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, qMin(nice + 10, 19));
#endif
    m_net = new QNetworkAccessManager(this);
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(m_settings.pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &UploadWorker::poll);
    m_pollTimer->start();
    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        if (!m_ranges.isEmpty() && allowed())
            send();
        else
            sendNext();
    });
    poll();
}

bool UploadWorker::allowed() const
{
    RuvUbc *log = RuvUbc::instance();
    return m_status->consent.loadRelaxed() && log && log->isCollectionEnabled();
}

void UploadWorker::openLog()
{
    const QByteArray path = QFile::encodeName(m_settings.logPath);
    m_fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        closeLog();
        return;
    }
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_confirmed = 0;
    QFile cursor(cursorPath(m_settings.logPath));
    if (cursor.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = cursor.readAll().simplified().split(' ');
        const qint64 offset = parts.value(2).toLongLong();
        if (parts.size() == 4 && parts[0].toULongLong() == quint64(m_dev)
            && parts[1].toULongLong() == quint64(m_ino) && offset <= st.st_size
            && parts[3].toULong() == prefixChecksum(offset))
            m_confirmed = offset;
        else
            qCInfo(lcUpload, "the log is not the file the cursor names; reading it from its start");
    }
    m_readOffset = m_scanOffset = m_completeEnd = m_confirmed;
    m_scannedLines = m_doneLines = 0;
    m_replaced = false;
}

quint32 UploadWorker::prefixChecksum(qint64 offset) const
{
    QByteArray prefix(int(qMin(offset, kPrefixBytes)), Qt::Uninitialized);
    if (readAt(m_fd, prefix.data(), prefix.size(), 0) != prefix.size())
        return 0;
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(prefix.constData()), uInt(prefix.size())));
}

void UploadWorker::closeLog()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

// Forgets everything about the open file: it was cut short in place.
void UploadWorker::resetFile()
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->abort();
        reply->deleteLater();
    }
    m_current = Batch();
    m_next = Batch();
    m_ranges.clear();
    closeLog();
    openLog();
}

void UploadWorker::scan()
{
    if (m_fd < 0)
        openLog();
    if (m_fd < 0)
        return;
    struct stat st;
    const QByteArray path = QFile::encodeName(m_settings.logPath);
    if (::stat(path.constData(), &st) != 0 || st.st_dev != m_dev || st.st_ino != m_ino)
        m_replaced = true;
    if (::fstat(m_fd, &st) != 0)
        return;
    if (st.st_size < m_scanOffset) {
        qCInfo(lcUpload, "the log was cut short; reading it from its start");
        resetFile();
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
            return;
    }
    QByteArray buffer;
    while (m_scanOffset < st.st_size) {
        const qint64 want = qMin(kScanChunk, qint64(st.st_size) - m_scanOffset);
        buffer.resize(int(want));
        const qint64 got = readAt(m_fd, buffer.data(), want, m_scanOffset);
        if (got <= 0)
            break;
        const char *begin = buffer.constData();
        const char *p = begin;
        const char *end = begin + got;
        while ((p = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p))))) {
            ++m_scannedLines;
            ++p;
            m_completeEnd = m_scanOffset + (p - begin);
        }
        m_scanOffset += got;
    }
    updateWaiting();
}

void UploadWorker::poll()
{
    scan();
    // A replaced log: the old file's lines go first, then the new file.
    if (m_replaced && m_fd >= 0 && !m_reply && m_current.isEmpty() && m_next.isEmpty()
        && m_confirmed == m_completeEnd) {
        closeLog();
        openLog();
        scan();
    }
    sendNext();
    checkFinished();
}

bool UploadWorker::buildBatch(Batch &batch)
{
    batch = Batch();
    qint64 available = m_completeEnd - m_readOffset;
    if (available <= 0)
        return false;
    qint64 want = qMin<qint64>(available, qMax(m_settings.maxBatchBytes, 1));
    QByteArray raw;
    int lastNewline = -1;
    for (;;) {
        raw.resize(int(want) + RecordRowWriter::Padding);
        if (readAt(m_fd, raw.data(), want, m_readOffset) != want)
            return false;
        std::memset(raw.data() + want, ' ', RecordRowWriter::Padding);
        for (int i = int(want) - 1; i >= 0; --i) {
            if (raw.at(i) == '\n') {
                lastNewline = i;
                break;
            }
        }
        if (lastNewline >= 0 || want == available)
            break;
        want = qMin(available, want * 2); // one line longer than a batch
    }
    if (lastNewline < 0)
        return false;
    batch.fileStart = m_readOffset;
    batch.fileEnd = m_readOffset + lastNewline + 1;
    batch.rows.reserve(lastNewline + lastNewline / 4 + 64);
    const char *data = raw.constData();
    int start = 0;
    while (start <= lastNewline) {
        const int end = int(static_cast<const char *>(std::memchr(data + start, '\n', size_t(lastNewline + 1 - start))) - data);
        ++batch.lines;
        if (end > start) {
            if (m_writer.append(data + start, end - start, batch.rows)) {
                batch.rowEnd.append(batch.rows.size());
                batch.rowFileStart.append(batch.fileStart + start);
                batch.rowFileEnd.append(batch.fileStart + end + 1);
                batch.rowLines.append(batch.lines);
            } else {
                setAside(batch.fileStart + start, batch.fileStart + end + 1,
                         QStringLiteral("not a record line"));
            }
        }
        start = end + 1;
    }
    m_readOffset = batch.fileEnd;
    return true;
}

void UploadWorker::sendNext()
{
    while (!m_reply && !m_retryTimer->isActive() && m_ranges.isEmpty() && allowed()) {
        if (m_current.isEmpty()) {
            m_current = m_next;
            m_next = Batch();
            m_currentDoneLines = 0;
        }
        if (m_current.isEmpty()) {
            const qint64 unsent = m_completeEnd - m_readOffset;
            if (unsent <= 0) {
                m_unsentSince.invalidate();
                return;
            }
            if (!m_unsentSince.isValid())
                m_unsentSince.start();
            const bool due = m_finishDone || m_replaced || unsent >= m_settings.maxBatchBytes
                             || m_unsentSince.elapsed() >= m_settings.maxBatchAge;
            if (!due)
                return;
            m_unsentSince.invalidate();
            if (!buildBatch(m_current))
                return;
        }
        if (m_current.rowCount() == 0) { // only blank or refused lines
            commit(m_current.fileEnd, m_current.lines - m_currentDoneLines, 0);
            m_current = Batch();
            continue;
        }
        m_ranges = {{0, m_current.rowCount()}};
        send();
        // The next batch is built while the server takes this one.
        if (m_next.isEmpty() && (m_finishDone || m_replaced
                                 || m_completeEnd - m_readOffset >= m_settings.maxBatchBytes))
            buildBatch(m_next);
        return;
    }
}

void UploadWorker::send()
{
    const Range range = m_ranges.first();
    const int begin = range.first == 0 ? 0 : m_current.rowEnd.at(range.first - 1);
    QByteArray body = m_current.rows.mid(begin, m_current.rowEnd.at(range.end - 1) - begin);

    QUrl url = m_settings.url;
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("query"), QStringLiteral("INSERT INTO ubc.records FORMAT JSONEachRow"));
    QNetworkRequest request;
    if (m_settings.gzip) {
        query.addQueryItem(QStringLiteral("enable_http_compression"), QStringLiteral("1"));
        const QByteArray packed = GzipBody::compress(body);
        if (!packed.isEmpty()) {
            body = packed;
            request.setRawHeader("Content-Encoding", "gzip");
        }
    }
    url.setQuery(query);
    request.setUrl(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain; charset=utf-8"));
    if (!m_settings.authorization.isEmpty())
        request.setRawHeader("Authorization", m_settings.authorization);
    if (!m_settings.headerName.isEmpty())
        request.setRawHeader(m_settings.headerName, m_settings.headerValue);
    request.setTransferTimeout(kRequestTimeout);
    m_reply = m_net->post(request, body);
    connect(m_reply, &QNetworkReply::finished, this, &UploadWorker::replyFinished);
}

void UploadWorker::replyFinished()
{
    QNetworkReply *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || reply != m_reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok = reply->error() == QNetworkReply::NoError && status == 200;
    if (!ok && status != 400) {
        failed(serverMessage(reply, status));
        return;
    }
    const Range range = m_ranges.first();
    if (!ok && range.end - range.first > 1) {
        // Malformed somewhere: halve until the lines at fault are alone.
        const int middle = range.first + (range.end - range.first) / 2;
        m_ranges.first() = {middle, range.end};
        m_ranges.prepend({range.first, middle});
        send();
        return;
    }
    if (!ok)
        setAside(m_current.rowFileStart.at(range.first), m_current.rowFileEnd.at(range.first),
                 serverMessage(reply, status));
    m_ranges.removeFirst();
    m_failures = 0;
    if (ok && m_status->setError(QString()))
        emit statusChanged();
    const int rows = ok ? range.end - range.first : 0;
    if (m_ranges.isEmpty()) {
        commit(m_current.fileEnd, m_current.lines - m_currentDoneLines, rows);
        m_current = Batch();
        sendNext();
    } else {
        const int last = range.end - 1;
        commit(m_current.rowFileEnd.at(last), m_current.rowLines.at(last) - m_currentDoneLines, rows);
        send();
    }
    checkFinished();
}

void UploadWorker::commit(qint64 fileEnd, int lines, int rows)
{
    saveCursor(fileEnd);
    m_confirmed = fileEnd;
    m_currentDoneLines += lines;
    m_doneLines += quint64(lines);
    m_status->confirmed.fetchAndAddRelaxed(quint64(rows));
    updateWaiting();
    emit statusChanged();
}

bool UploadWorker::saveCursor(qint64 offset)
{
    QSaveFile file(cursorPath(m_settings.logPath));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QByteArray::number(quint64(m_dev)) + ' ' + QByteArray::number(quint64(m_ino)) + ' '
                   + QByteArray::number(offset) + ' ' + QByteArray::number(prefixChecksum(offset)) + '\n');
        if (file.commit())
            return true;
    }
    // Not fatal: the lines are sent again after a restart and counted once.
    qCWarning(lcUpload, "cannot save the upload cursor %s: %s",
              qPrintable(file.fileName()), qPrintable(file.errorString()));
    return false;
}

void UploadWorker::setAside(qint64 start, qint64 end, const QString &why)
{
    QByteArray line(int(end - start), Qt::Uninitialized);
    if (readAt(m_fd, line.data(), line.size(), start) != line.size())
        return;
    if (!line.endsWith('\n'))
        line.append('\n');
    const QString path = deadLetterPath(m_settings.logPath);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    bool written = false;
    if (fd >= 0) {
        written = ::write(fd, line.constData(), size_t(line.size())) == line.size();
        ::fsync(fd);
        ::close(fd);
    }
    m_status->rejected.fetchAndAddRelaxed(1);
    qCWarning(lcUpload, "set a line aside in %s (%s)%s", qPrintable(path), qPrintable(why),
              written ? "" : ": the file cannot be written, the line is lost to the upload");
}

void UploadWorker::failed(const QString &error)
{
    if (m_status->setError(error))
        emit statusChanged();
    if (m_failures == 0)
        qCWarning(lcUpload, "upload failed, retrying with backoff: %s", qPrintable(error));
    ++m_failures;
    const qint64 delay = qMin<qint64>(qint64(m_settings.firstRetryDelay) << qMin(m_failures - 1, 20),
                                      m_settings.maxRetryDelay);
    // Half fixed, half random: desktops that lost the server together do not return together.
    const qint64 half = delay / 2;
    m_retryTimer->start(int(half + QRandomGenerator::global()->bounded(double(half + 1))));
    if (m_finishDone) {
        m_finishDone->release();
        m_finishDone = nullptr;
    }
}

void UploadWorker::updateWaiting()
{
    const quint64 waiting = m_scannedLines - qMin(m_doneLines, m_scannedLines);
    if (m_status->waiting.fetchAndStoreRelaxed(waiting) != waiting)
        emit statusChanged();
}

void UploadWorker::finishUp(QSemaphore *done)
{
    m_finishDone = done;
    scan();
    if (m_retryTimer->isActive()) { // the last attempt is now
        m_retryTimer->stop();
        if (!m_ranges.isEmpty() && allowed())
            send();
    }
    if (!m_reply)
        poll();
    checkFinished();
}

void UploadWorker::checkFinished()
{
    if (!m_finishDone || m_reply)
        return;
    if (!allowed() || m_fd < 0 || (m_confirmed == m_completeEnd && m_ranges.isEmpty())) {
        m_finishDone->release();
        m_finishDone = nullptr;
    }
}
