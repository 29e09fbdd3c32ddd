#include "RuvUbcPrivate.h"

#include "JsonLineWriter.h"
#include "RotatedLogs.h"
#include "platform/PlatformTime.h"
#include "platform/ThreadSlot.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QCryptographicHash>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSysInfo>
#include <QtCore/QUuid>
#include <QtCore/QVarLengthArray>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <mutex>

Q_LOGGING_CATEGORY(lcRuvUbc, "kelubc.ruvubc")

namespace {

// Makes gid useless for matching machines across products or other tools.
constexpr char kDigestSalt[] = "KelUbc/RuvUbc machine digest v1\n";

QString machineDigest(const QByteArray &machineId, const QString &productCode)
{
    if (machineId.isEmpty())
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::fromRawData(kDigestSalt, int(sizeof(kDigestSalt)) - 1));
    hash.addData(productCode.toUtf8());
    hash.addData(QByteArrayLiteral("\n"));
    hash.addData(machineId);
    return QString::fromLatin1(hash.result().toHex());
}

// Writes value as exactly width decimal digits at p; returns the end.
char *putDigits(char *p, long value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        p[i] = char('0' + value % 10);
        value /= 10;
    }
    return p + width;
}

// Local time like 2026-12-05T15:50:24.123+08:00. Digits by hand: snprintf
// was a tenth of a record's cost.
QString isoLocalNow()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const time_t secs = time_t(ms / 1000);
    struct tm tm;
    long offsetSec = 0;
    if (!PlatformTime::localTime(secs, &tm, &offsetSec) || tm.tm_year + 1900 < 0 || tm.tm_year + 1900 > 9999)
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
    const long offsetMin = offsetSec / 60;
    const long absMin = std::labs(offsetMin);
    char buf[29];
    char *p = putDigits(buf, tm.tm_year + 1900, 4);
    *p++ = '-';
    p = putDigits(p, tm.tm_mon + 1, 2);
    *p++ = '-';
    p = putDigits(p, tm.tm_mday, 2);
    *p++ = 'T';
    p = putDigits(p, tm.tm_hour, 2);
    *p++ = ':';
    p = putDigits(p, tm.tm_min, 2);
    *p++ = ':';
    p = putDigits(p, tm.tm_sec, 2);
    *p++ = '.';
    p = putDigits(p, long(ms % 1000), 3);
    *p++ = offsetMin < 0 ? '-' : '+';
    p = putDigits(p, absMin / 60 % 100, 2);
    *p++ = ':';
    p = putDigits(p, absMin % 60, 2);
    return QString::fromLatin1(buf, int(p - buf));
}

} // namespace

RuvUbcPrivate::RuvUbcPrivate()
    : sessionId(QUuid::createUuid().toString(QUuid::WithoutBraces))
    , m_machineId(QSysInfo::machineUniqueId())
    , m_qtVersion(QString::fromLatin1(qVersion()))
#ifdef QT_NO_DEBUG
    , m_debugFlag(QString::fromLatin1("0"))
#else
    , m_debugFlag(QString::fromLatin1("1"))
#endif
    , m_machineDigest(machineDigest(m_machineId, QString()))
{
    tzset();
}

QString RuvUbcPrivate::absolutePath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

void RuvUbcPrivate::initRecord(UbcDataProtocol &record) const
{
    {
        QMutexLocker lock(&m_contextMutex);
        record.pcode = m_productCode;
        record.gid = m_machineDigest;
        record.hardwareid = m_machineDigest;
    }
    record.trigertime = isoLocalNow();
    record.vername = QCoreApplication::applicationName();
    record.ver = QCoreApplication::applicationVersion();
    record.ver2 = m_qtVersion;
    record.debug = m_debugFlag;
    record.mac.clear();
    record.ip.clear();
    record.sessionid = sessionId;
}

RuvUbcPrivate::ThreadState &RuvUbcPrivate::threadState()
{
#ifdef Q_OS_WIN
    static ThreadSlot<ThreadState> slot;
    return slot.local();
#else
    // A plain pointer needs no guard: one look-up of the thread's storage
    // per record instead of two.
    static thread_local ThreadState *made = nullptr;
    if (Q_LIKELY(made))
        return *made;
    return *(made = &makeThreadState());
#endif
}

#ifndef Q_OS_WIN
RuvUbcPrivate::ThreadState &RuvUbcPrivate::makeThreadState()
{
    thread_local ThreadState state;
    return state;
}
#endif

// Under the writers' lock: a line goes either into the old file, before the
// removal, or into a new file that a fresh sink opens at the next write.
bool RuvUbcPrivate::eraseFiles()
{
    QMutexLocker lock(&m_mutex);
    bool gone = true;
    const auto remove = [&gone](const QString &path) {
        if (!QFile::remove(path) && QFileInfo::exists(path)) {
            gone = false;
            qCWarning(lcRuvUbc, "RuvUbc: could not erase %s", qUtf8Printable(path));
        }
    };
    // Each old sink closes its descriptor as a new one takes its place.
    const QString primary = m_primary ? m_primary->path() : configuredPrimaryPath();
    m_primary = makePrimarySink(primary);
    remove(primary);
    for (const RotatedLogs::File &file : RotatedLogs::list(primary))
        remove(file.path);
    for (auto &mirror : m_mirrors) {
        mirror = makeSink(mirror->path());
        remove(mirror->path());
    }
    return gone;
}

std::unique_ptr<LogSink> RuvUbcPrivate::makeSink(const QString &path) const
{
    return std::make_unique<LogSink>(path, RuvUbc::MaxQueuedRecords, m_maxQueuedBytes);
}

std::unique_ptr<LogSink> RuvUbcPrivate::makePrimarySink(const QString &path) const
{
    auto sink = makeSink(path);
    sink->setMaxFileBytes(m_maxFileBytes);
    return sink;
}

LogSink *RuvUbcPrivate::primarySink()
{
    if (!m_primary)
        m_primary = makePrimarySink(configuredPrimaryPath());
    return m_primary.get();
}

QString RuvUbcPrivate::configuredPrimaryPath() const
{
    return m_primaryPath.isEmpty() ? absolutePath(RuvUbc::defaultLogFilePath()) : m_primaryPath;
}

template <typename Visit>
void RuvUbcPrivate::forEachSink(Visit visit) const
{
    if (m_primary)
        visit(*m_primary);
    for (const auto &mirror : m_mirrors)
        visit(*mirror);
}

void RuvUbcPrivate::emitNotes(const SinkNotes &notes)
{
    if (notes.isEmpty()) // the usual case: not even the category is looked at
        return;
    LogSink::emitNotes(notes, lcRuvUbc(), "RuvUbc: ");
}

void RuvUbcPrivate::writeToFiles(ThreadState &state, int size, int seqAt, int filterBits, SinkNotes &notes)
{
    const std::lock_guard<QBasicMutex> lock(m_mutex);
    // The seq is taken here, so that the files have their lines in its
    // order; the line was written with the thread's next one.
    const quint64 seq = m_nextSeq++;
    if (seq != state.texts.seq())
        size = JsonLineWriter::changeSeq(state.line, size, seqAt, seq, state.texts);
    const char *const line = state.line.constData();
    const bool keep = filterBits & RuvUbc::FilterRetry;
    const qint64 now = LogSink::nowMs();
    LogSink *primary = nullptr;
    if (filterBits & RuvUbc::FilterPrimary) {
        primary = primarySink();
        primary->append(line, size, keep, now, notes);
    }
    if ((filterBits & RuvUbc::FilterMirrors) && !m_mirrors.empty())
        writeToMirrors(line, size, keep, now, primary, notes);
}

void RuvUbcPrivate::writeToMirrors(const char *line, int size, bool keep, qint64 now, LogSink *primary,
                                   SinkNotes &notes)
{
    // Files already written, by device and inode: a mirror that reaches one
    // of them through another path would double its lines.
    QVarLengthArray<FileId, 8> written;
    FileId id;
    if (primary && primary->fileId(now, &id, notes))
        written.append(id);
    for (const auto &mirror : m_mirrors) {
        if (primary && mirror->path() == primary->path())
            continue;
        const bool open = mirror->fileId(now, &id, notes);
        if (open && std::find(written.cbegin(), written.cend(), id) != written.cend())
            continue;
        mirror->append(line, size, keep, now, notes);
        if (open)
            written.append(id);
    }
}

void RuvUbcPrivate::log(const UbcDataProtocol &record, ThreadState &state)
{
    if (!enabled.load(std::memory_order_relaxed))
        return;
    const int filterBits = state.filter;

    if (filterBits & (RuvUbc::FilterPrimary | RuvUbc::FilterMirrors)) {
        int seqAt = 0;
        const int size = JsonLineWriter::write(state.line, record, state.texts, &seqAt);
        if (size < 0) {
            qCWarning(lcRuvUbc, "RuvUbc: a record of function %s is too large for one line; dropped",
                     qUtf8Printable(record.fncode.left(64)));
        } else {
            SinkNotes notes;
            writeToFiles(state, size, seqAt, filterBits, notes);
            emitNotes(notes);
        }
    }

    if ((filterBits & RuvUbc::FilterListeners) && m_listenerCount.load(std::memory_order_acquire)) {
        std::shared_ptr<const ListenerList> listeners;
        {
            QMutexLocker lock(&m_listenerMutex);
            listeners = m_listeners;
        }
        if (listeners) {
            for (const auto &entry : *listeners)
                entry.second(record);
        }
    }
}

void RuvUbcPrivate::setPrimaryPath(const QString &path)
{
    const QString absolute = path.isEmpty() ? QString() : absolutePath(path);
    QMutexLocker lock(&m_mutex);
    m_primaryPath = absolute;
    if (!m_primary)
        return;
    const QString target = configuredPrimaryPath();
    if (target == m_primary->path())
        return;
    auto sink = makePrimarySink(target);
    sink->adoptQueue(*m_primary);
    m_primary = std::move(sink);
}

void RuvUbcPrivate::addMirrorPath(const QString &path)
{
    if (path.isEmpty())
        return;
    const QString absolute = absolutePath(path);
    QMutexLocker lock(&m_mutex);
    for (const auto &mirror : m_mirrors) {
        if (mirror->path() == absolute)
            return;
    }
    m_mirrors.push_back(makeSink(absolute));
}

QString RuvUbcPrivate::primaryPath() const
{
    QMutexLocker lock(&m_mutex);
    return m_primary ? m_primary->path() : configuredPrimaryPath();
}

QStringList RuvUbcPrivate::mirrorPaths() const
{
    QMutexLocker lock(&m_mutex);
    QStringList paths;
    for (const auto &mirror : m_mirrors)
        paths.append(mirror->path());
    return paths;
}

int RuvUbcPrivate::queued() const
{
    QMutexLocker lock(&m_mutex);
    int count = 0;
    forEachSink([&count](const LogSink &sink) { count += sink.queued(); });
    return count;
}

quint64 RuvUbcPrivate::dropped() const
{
    QMutexLocker lock(&m_mutex);
    quint64 count = 0;
    forEachSink([&count](const LogSink &sink) { count += sink.dropped(); });
    return count;
}

bool RuvUbcPrivate::flush()
{
    if (!enabled.load(std::memory_order_relaxed))
        return queued() == 0;
    SinkNotes notes;
    bool empty = true;
    {
        QMutexLocker lock(&m_mutex);
        const qint64 now = LogSink::nowMs();
        forEachSink([&](LogSink &sink) { empty = sink.flush(now, notes) && empty; });
    }
    emitNotes(notes);
    return empty;
}

void RuvUbcPrivate::setMaxQueuedBytes(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_maxQueuedBytes = qMax<qint64>(0, bytes);
    forEachSink([this](LogSink &sink) { sink.setMaxQueuedBytes(m_maxQueuedBytes); });
}

qint64 RuvUbcPrivate::maxQueuedBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_maxQueuedBytes;
}

void RuvUbcPrivate::setMaxFileBytes(qint64 bytes)
{
    QMutexLocker lock(&m_mutex);
    m_maxFileBytes = qMax<qint64>(0, bytes);
    if (m_primary)
        m_primary->setMaxFileBytes(m_maxFileBytes);
}

qint64 RuvUbcPrivate::maxFileBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_maxFileBytes;
}

void RuvUbcPrivate::flushAtExit()
{
    SinkNotes notes;
    QStringList paths;
    int waiting = 0;
    {
        QMutexLocker lock(&m_mutex);
        const bool writing = enabled.load(std::memory_order_relaxed);
        const qint64 now = LogSink::nowMs();
        // Only queues: a file removed at exit with nothing waiting for it is no news.
        forEachSink([&](LogSink &sink) {
            if (sink.queued() && writing)
                sink.flush(now, notes);
            if (sink.queued()) {
                waiting += sink.queued();
                paths << sink.path();
            }
        });
        // Once per count: the teardown after a quit repeats only news.
        if (waiting == m_reportedAtExit)
            waiting = 0;
        else
            m_reportedAtExit = waiting;
    }
    emitNotes(notes);
    if (waiting)
        qCWarning(lcRuvUbc, "RuvUbc: at exit, %d records could not be written (still waiting for %s)", waiting,
                  qUtf8Printable(paths.join(QStringLiteral(", "))));
}

void RuvUbcPrivate::setProductCode(const QString &code)
{
    // A string of the log's own: the code may be a literal whose data goes
    // with the plugin that set it, and every record shares this one, so the
    // line writer keeps its bytes instead of escaping them each time.
    const QString own = code.isNull() ? QString() : QString(code.constData(), code.size());
    QMutexLocker lock(&m_contextMutex);
    m_productCode = own;
    m_machineDigest = machineDigest(m_machineId, code);
}

QString RuvUbcPrivate::productCode() const
{
    QMutexLocker lock(&m_contextMutex);
    return m_productCode;
}

int RuvUbcPrivate::addListener(RuvUbc::Listener listener)
{
    if (!listener)
        return 0;
    QMutexLocker lock(&m_listenerMutex);
    auto list = m_listeners ? std::make_shared<ListenerList>(*m_listeners) : std::make_shared<ListenerList>();
    const int id = m_nextListenerId++;
    list->emplace_back(id, std::move(listener));
    m_listenerCount.store(int(list->size()), std::memory_order_release);
    m_listeners = std::move(list);
    return id;
}

void RuvUbcPrivate::removeListener(int id)
{
    QMutexLocker lock(&m_listenerMutex);
    if (!m_listeners)
        return;
    auto list = std::make_shared<ListenerList>(*m_listeners);
    for (auto it = list->begin(); it != list->end(); ++it) {
        if (it->first == id) {
            list->erase(it);
            m_listenerCount.store(int(list->size()), std::memory_order_release);
            m_listeners = std::move(list);
            return;
        }
    }
}
