#include "LogSink.h"

#include "RotatedLogs.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QLoggingCategory>


namespace {

// Failing paths are tried again at most this often, and open files are
// checked this often for having been moved or removed.
constexpr qint64 kIntervalMs = 1000;

// Why an opened file must not be used, or null: only regular files (lines
// are written whole only there) of this user (another's is not ours to fill
// or to trust).
const char *notOwnRegularFile(PlatformFile &file, PlatformFile::Status *st)
{
    if (!file.status(st))
        return "cannot be inspected";
    if (!st->regular)
        return "not a regular file; refused";
    if (!st->ownedByUser)
        return "owned by another user; refused";
    return nullptr;
}

QString errorText(const PlatformFile &file)
{
    if (file.failure() == PlatformFile::Link)
        return QStringLiteral("a symbolic link; refused");
    return file.errorString();
}

} // namespace

void LogSink::emitNotes(const SinkNotes &notes, const QLoggingCategory &category, const char *prefix)
{
    for (const SinkNote &note : notes) {
        if (note.type == QtWarningMsg && category.isWarningEnabled())
            QMessageLogger().warning(category, "%s%s", prefix, qUtf8Printable(note.text));
        else if (note.type == QtInfoMsg && category.isInfoEnabled())
            QMessageLogger().info(category, "%s%s", prefix, qUtf8Printable(note.text));
    }
}

LogSink::LogSink(const QString &path, int maxQueued, qint64 maxQueuedBytes)
    : m_path(path)
    , m_nativePath(PlatformFile::nativePath(path))
    , m_maxQueued(maxQueued)
    , m_maxQueuedBytes(maxQueuedBytes)
{
}

LogSink::~LogSink()
{
    closeFile();
}

void LogSink::closeFile()
{
    m_file.close();
}

bool LogSink::open()
{
    m_refusal = nullptr;
    if (!m_file.openAppend(m_nativePath) && m_file.failure() == PlatformFile::NotFound
        && PlatformFile::makePrivateFolders(QFileInfo(m_path).absolutePath()))
        m_file.openAppend(m_nativePath);
    if (!m_file.isOpen()) {
        m_lastError = errorText(m_file);
        return false;
    }
    PlatformFile::Status st;
    if (const char *why = notOwnRegularFile(m_file, &st))
        return refuse(why);
    // Whoever cut the last line short (a full disk here, or a process
    // killed mid-write, this one in an earlier run or another), the next
    // line must not be glued to it.
    m_id = st.id;
    m_torn = st.size > 0 && !endsWithNewline(st.size);
    m_size = st.size;
    m_sinceCheck = 0;
    return true;
}

bool LogSink::refuse(const char *why)
{
    m_file.close();
    m_refusal = why;
    return false;
}

bool LogSink::endsWithNewline(qint64 size) const
{
    // The log handle is write-only; a file that cannot be read is taken
    // to be whole.
    PlatformFile reader;
    PlatformFile::Status st;
    if (!reader.openRead(m_nativePath))
        return true;
    // The path may name another file by now (rotated meanwhile): its last
    // byte says nothing about this one.
    if (!reader.status(&st) || !(st.id == m_id))
        return true;
    char last = '\n';
    const bool got = reader.readAt(&last, 1, size - 1) == 1;
    return !got || last == '\n';
}

bool LogSink::writeLine(const char *line, int size)
{
    if (m_torn)
        return writeAfterTorn(line, size);
    if (m_file.write(line, size)) {
        counted(size);
        return true;
    }
    lineFailed();
    return false;
}

void LogSink::lineFailed()
{
    // A short write on a file means no space left. Writing the rest later
    // could land after another writer's line, so the whole line is retried;
    // reopening finds the fragment this leaves.
    m_lastError = m_file.errorString();
    closeFile();
}

bool LogSink::writeFailed(const char *line, int size, bool keepLine, qint64 nowMs, SinkNotes &notes)
{
    lineFailed();
    failed(nowMs, notes);
    if (keepLine)
        keep(line, size, notes);
    return false;
}

bool LogSink::writeAfterTorn(const char *line, int size)
{
    // After a cut-short line the next one starts on a line of its own; the
    // newline goes in the same write so the line stays whole.
    QByteArray joined;
    joined.reserve(size + 1);
    joined.append('\n');
    joined.append(line, size);
    m_torn = false;
    if (writeLine(joined.constData(), joined.size()))
        return true;
    m_torn = true;
    return false;
}

bool LogSink::writeOrFail(const char *line, int size, qint64 nowMs, SinkNotes &notes)
{
    if (ensureOpen() && writeLine(line, size)) {
        if (m_failing)
            recovered(notes);
        return true;
    }
    failed(nowMs, notes);
    return false;
}

void LogSink::recovered(SinkNotes &notes)
{
    m_failing = false;
    m_overflowing = false;
    notes.append({QtInfoMsg, QStringLiteral("%1 is writable again; %2 records for it dropped so far")
                                 .arg(m_path).arg(m_dropped)});
}

void LogSink::failed(qint64 nowMs, SinkNotes &notes)
{
    m_nextRetryMs = nowMs + kIntervalMs;
    if (!m_failing) {
        m_failing = true;
        notes.append({QtWarningMsg, QStringLiteral("cannot write %1 (%2); records wait in memory and are retried")
                                        .arg(m_path, failure())});
    }
}

bool LogSink::drain(qint64 nowMs, SinkNotes &notes)
{
    while (!m_queue.empty()) {
        const QByteArray &line = m_queue.front();
        if (!writeOrFail(line.constData(), line.size(), nowMs, notes))
            return false;
        m_queuedBytes -= line.size();
        m_queue.pop_front();
    }
    return true;
}

void LogSink::keep(const char *line, int size, SinkNotes &notes)
{
    // Bounded in bytes too: a few long, heavily escaped records would
    // otherwise hold far more memory than the record count suggests.
    if (int(m_queue.size()) >= m_maxQueued || m_queuedBytes + size > m_maxQueuedBytes) {
        ++m_dropped;
        if (!m_overflowing) {
            m_overflowing = true;
            notes.append({QtWarningMsg, QStringLiteral("%1 records (%2 bytes) wait for %3; newer records for it are dropped")
                                            .arg(m_queue.size()).arg(m_queuedBytes).arg(m_path)});
        }
        return;
    }
    m_queue.emplace_back(line, size);
    m_queuedBytes += size;
}

void LogSink::trimQueue()
{
    while (!m_queue.empty() && (int(m_queue.size()) > m_maxQueued || m_queuedBytes > m_maxQueuedBytes)) {
        m_queuedBytes -= m_queue.back().size();
        m_queue.pop_back();
        ++m_dropped;
    }
}

void LogSink::setMaxQueuedBytes(qint64 bytes)
{
    m_maxQueuedBytes = bytes;
    trimQueue();
}

void LogSink::revalidate(qint64 nowMs, SinkNotes &notes)
{
    m_nextCheckMs = nowMs + kIntervalMs;
    FileId atPath;
    qint64 size = 0;
    if (PlatformFile::pathId(m_nativePath, &atPath, PlatformFile::RefuseLinks, &size) && atPath == m_id) {
        m_sinceCheck = 0;
        m_size = qMax(m_size, size); // other writers' lines count too
        return;
    }
    // Moved, removed or replaced: the next line opens the path anew. Lines
    // that went into a removed file since the last check are lost.
    PlatformFile::Status st;
    if (m_sinceCheck && m_file.status(&st) && st.links == 0) {
        m_dropped += m_sinceCheck;
        notes.append({QtWarningMsg, QStringLiteral("%1 was removed while open; up to %2 records written to it "
                                                   "since the last check are lost")
                                        .arg(m_path).arg(m_sinceCheck)});
    }
    m_sinceCheck = 0;
    closeFile();
}

bool LogSink::appendChecked(const char *line, int size, bool keepLine, qint64 nowMs, SinkNotes &notes)
{
    if (m_file.isOpen() && nowMs >= m_nextCheckMs)
        revalidate(nowMs, notes);
    // Waiting records go first; a failing path is not touched between retries.
    if ((m_failing || !m_queue.empty()) && (nowMs < m_nextRetryMs || !drain(nowMs, notes))) {
        if (keepLine)
            keep(line, size, notes);
        return false;
    }
    if (writeOrFail(line, size, nowMs, notes)) {
        rotateIfDue(nowMs, notes);
        return true;
    }
    if (keepLine)
        keep(line, size, notes);
    return false;
}

void LogSink::rotate(qint64 nowMs, SinkNotes &notes)
{
    PlatformFile lock;
    if (!lock.openLock(PlatformFile::nativePath(m_path + QStringLiteral(".lock"))) || !lock.tryLock()) {
        // Another writer is rotating (for the moment it takes): the next
        // line tries again and then finds the path renamed. A lock file that
        // cannot be made at all is tried again in a second.
        if (!lock.isOpen())
            m_nextRotateMs = nowMs + kIntervalMs;
        return;
    }
    FileId atPath;
    qint64 size = 0;
    if (!PlatformFile::pathId(m_nativePath, &atPath, PlatformFile::RefuseLinks, &size) || !(atPath == m_id)) {
        // Rotated by another writer (or moved away): the next line goes to
        // the new file at the path.
        m_sinceCheck = 0;
        closeFile();
        return;
    }
    if (size < m_maxFileBytes) {
        m_size = size;
        return;
    }
    QString why;
    const QString target = RotatedLogs::nextPath(m_path);
    if (!PlatformFile::renameNew(m_nativePath, PlatformFile::nativePath(target), &why)) {
        if (!m_rotateFailing)
            notes.append({QtWarningMsg, QStringLiteral("cannot rotate %1 to %2 (%3); it grows until it can")
                                            .arg(m_path, target, why)});
        m_rotateFailing = true;
        m_nextRotateMs = nowMs + kIntervalMs;
        return;
    }
    m_rotateFailing = false;
    m_sinceCheck = 0;
    closeFile();
}

bool LogSink::sync()
{
    return m_file.isOpen() && m_file.sync();
}

QString LogSink::failure() const
{
    return m_refusal ? QString::fromLatin1(m_refusal) : m_lastError;
}

bool LogSink::readOwnFile(const QString &path, int maxBytes, QByteArray *data, QString *why)
{
    why->clear();
    PlatformFile file;
    if (!file.openRead(PlatformFile::nativePath(path))) {
        if (file.failure() != PlatformFile::NotFound)
            *why = errorText(file);
        return false;
    }
    PlatformFile::Status st;
    if (const char *refusal = notOwnRegularFile(file, &st)) {
        *why = QString::fromLatin1(refusal);
        return false;
    }
    data->resize(maxBytes);
    const qint64 got = file.readAt(data->data(), maxBytes, 0);
    if (file.failure() != PlatformFile::NoFailure)
        *why = errorText(file);
    data->resize(int(got));
    return why->isEmpty();
}

bool LogSink::replaceOwnFile(const QString &path, const QByteArray &data, QString *why)
{
    return PlatformFile::replaceContents(path, data, why);
}

bool LogSink::flush(qint64 nowMs, SinkNotes &notes)
{
    if (m_file.isOpen())
        revalidate(nowMs, notes);
    return drain(nowMs, notes);
}

bool LogSink::fileId(qint64 nowMs, FileId *id, SinkNotes &notes)
{
    if (m_file.isOpen() && nowMs >= m_nextCheckMs)
        revalidate(nowMs, notes);
    if (!m_file.isOpen() && (!m_failing || nowMs >= m_nextRetryMs))
        ensureOpen();
    *id = m_id;
    return m_file.isOpen();
}

void LogSink::adoptQueue(LogSink &other)
{
    for (auto it = other.m_queue.rbegin(); it != other.m_queue.rend(); ++it)
        m_queue.push_front(std::move(*it));
    m_queuedBytes += other.m_queuedBytes;
    m_dropped += other.m_dropped;
    other.m_queue.clear();
    other.m_queuedBytes = 0;
    other.m_dropped = 0;
    trimQueue();
}
