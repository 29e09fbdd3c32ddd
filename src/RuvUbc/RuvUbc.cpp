#include <RuvUbc.h>

#include "JsonLineWriter.h"
#include "RuvUbcPrivate.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QStandardPaths>

#include <atomic>

namespace {

std::atomic<RuvUbcPrivate *> g_made{nullptr};

// The library's teardown at exit: the last try for what still waits.
struct ExitFlush
{
    ~ExitFlush()
    {
        if (RuvUbcPrivate *d = g_made.load())
            d->flushAtExit();
    }
};

// Run by every application object as it is made (or at once, if one
// exists when the library loads): a quit tries every queue once more.
void hookApplicationQuit()
{
    QCoreApplication *app = QCoreApplication::instance();
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] {
        if (RuvUbcPrivate *d = g_made.load())
            d->flushAtExit();
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(hookApplicationQuit)

RuvUbc *RuvUbc::instance()
{
    // Never destroyed: other libraries may still log from their own teardown
    // at exit, and every line is already in the kernel, so nothing is lost.
    static RuvUbc *const self = [] {
        auto *log = new RuvUbc;
        lcRuvUbc(); // made before the teardown below, so it outlives it
        g_made.store(log->d);
        static ExitFlush exitFlush;
        return log;
    }();
    return self;
}

RuvUbc::RuvUbc()
    : d(new RuvUbcPrivate)
{
}

RuvUbc::~RuvUbc()
{
    delete d;
}

void RuvUbc::initUbcDataProtocol(UbcDataProtocol &record) { d->initRecord(record); }
void RuvUbc::logUbcDataProtocol(UbcDataProtocol &record)
{
    RuvUbcPrivate::ThreadState &state = RuvUbcPrivate::threadState();
    if (state.over.active) {
        const auto it = record.attrs.find(state.over.key);
        if (it != record.attrs.end())
            it.value() = state.over.value;
    }
    d->log(record, state);
}

void RuvUbc::setAttributeOverride(const QString &key, const QString &value)
{
    RuvUbcPrivate::threadState().over = {true, key, value};
}

void RuvUbc::clearAttributeOverride() { RuvUbcPrivate::threadState().over = {}; }
bool RuvUbc::eraseLogFiles() { return d->eraseFiles(); }

void RuvUbc::setFilterType(int type) { RuvUbcPrivate::threadState().filter = type; }
int RuvUbc::filterType() const { return RuvUbcPrivate::threadState().filter; }

void RuvUbc::setCollectionEnabled(bool enabled) { d->enabled.store(enabled, std::memory_order_relaxed); }
bool RuvUbc::isCollectionEnabled() const { return d->enabled.load(std::memory_order_relaxed); }

void RuvUbc::setProductCode(const QString &code) { d->setProductCode(code); }
QString RuvUbc::productCode() const { return d->productCode(); }
QString RuvUbc::sessionId() const { return d->sessionId; }

void RuvUbc::setLogFilePath(const QString &path) { d->setPrimaryPath(path); }
void RuvUbc::addLogFilePath(const QString &path) { d->addMirrorPath(path); }
QString RuvUbc::logFilePath() const { return d->primaryPath(); }
QStringList RuvUbc::mirrorPaths() const { return d->mirrorPaths(); }

QString RuvUbc::defaultLogFilePath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    return folder + QStringLiteral("/ubc/records.jsonl");
}

int RuvUbc::queuedRecords() const { return d->queued(); }
quint64 RuvUbc::droppedRecords() const { return d->dropped(); }
bool RuvUbc::flush() { return d->flush(); }
void RuvUbc::setMaxQueuedBytes(qint64 bytes) { d->setMaxQueuedBytes(bytes); }
void RuvUbc::setMaxLogFileBytes(qint64 bytes) { d->setMaxFileBytes(bytes); }
qint64 RuvUbc::maxLogFileBytes() const { return d->maxFileBytes(); }
qint64 RuvUbc::maxQueuedBytes() const { return d->maxQueuedBytes(); }

int RuvUbc::addListener(Listener listener) { return d->addListener(std::move(listener)); }
void RuvUbc::removeListener(int id) { d->removeListener(id); }

QByteArray RuvUbc::toJsonLine(const UbcDataProtocol &record, quint64 seq)
{
    QByteArray line;
    line.resize(qMax(JsonLineWriter::write(line, record, seq), 0));
    return line;
}

QStringList RuvUbc::fieldNames()
{
    QStringList names;
    names.reserve(JsonLineWriter::FieldCount);
    for (int i = 0; i < JsonLineWriter::FieldCount; ++i)
        names.append(JsonLineWriter::fieldName(i));
    return names;
}
