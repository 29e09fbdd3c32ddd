#include "RuvUbcHelper.h"

#include <JsonString.h>
#include <LogSink.h>
#include <RuvUbc.h>

#include <QtCore/QAtomicInteger>
#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QLoggingCategory>
#include <QtCore/QMutex>
#include <QtCore/QThread>
#include <QtCore/QVariant>

#include <memory>

Q_LOGGING_CATEGORY(lcHost, "kelubc.host")

namespace {

const char HelperProperty[] = "RuvUbcHelper";

// Numbers the events of this process, whichever helper writes them: with
// the behaviour log's session id they name each event wherever it is copied.
QAtomicInteger<quint64> lastSeq;

// {"time":"<UTC, ms>","code":"<decimal>","attrs":{...}|null,"pcode":..,"gid":..,"sessionid":..,"seq":<n>}
// The code is a string: JSON readers that use doubles lose codes above 2^53.
QByteArray journalLine(quint64 code, const RuvUbcAttrType *attributes)
{
    UbcDataProtocol writer;
    RuvUbc::instance()->initUbcDataProtocol(writer);
    QByteArray line;
    line.reserve(96);
    line += "{\"time\":\"";
    line += QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    line += "\",\"code\":\"";
    line += QByteArray::number(code);
    line += "\",\"attrs\":";
    if (!attributes) {
        line += "null";
    } else {
        line += '{';
        for (auto it = attributes->cbegin(); it != attributes->cend(); ++it) {
            if (it != attributes->cbegin())
                line += ',';
            JsonString::append(line, it.key());
            line += ':';
            JsonString::append(line, it.value());
        }
        line += '}';
    }
    line += ",\"pcode\":";
    JsonString::append(line, writer.pcode);
    line += ",\"gid\":";
    JsonString::append(line, writer.gid);
    line += ",\"sessionid\":";
    JsonString::append(line, writer.sessionid);
    line += ",\"seq\":";
    line += QByteArray::number(lastSeq.fetchAndAddRelaxed(1) + 1);
    line += "}\n";
    return line;
}

// The person's choice, read on every call: off, nothing about their work
// reaches the journal, the counts or the signals.
bool collecting()
{
    return RuvUbc::instance()->isCollectionEnabled();
}

void emitNotes(const SinkNotes &notes)
{
    LogSink::emitNotes(notes, lcHost(), "RuvUbcHelper: journal: ");
}

} // namespace

class RuvUbcHelperPrivate
{
public:
    // The journal's file writer: the record log's, with all its rules.
    void setPath(const QString &path);
    // Writes the event's line, when there is a journal.
    void journal(quint64 code, const RuvUbcAttrType *attributes, SinkNotes &notes);

    mutable QMutex mutex;
    std::unique_ptr<LogSink> sink; // none: no journal
    int eventCount = 0;
    int timeRecordCount = 0;
    QMap<quint64, int> timeRecords;
};

void RuvUbcHelperPrivate::setPath(const QString &path)
{
    if (path.isEmpty()) {
        sink.reset();
        return;
    }
    auto next = std::make_unique<LogSink>(path, RuvUbcHelper::MaxPendingLines);
    if (sink)
        next->adoptQueue(*sink);
    sink = std::move(next);
}

void RuvUbcHelperPrivate::journal(quint64 code, const RuvUbcAttrType *attributes, SinkNotes &notes)
{
    if (!sink)
        return;
    const QByteArray line = journalLine(code, attributes);
    sink->append(line.constData(), line.size(), true, LogSink::nowMs(), notes);
}

RuvUbcHelper::RuvUbcHelper(QObject *parent)
    : QObject(parent), d(new RuvUbcHelperPrivate)
{
    registerMetaTypes();
}

RuvUbcHelper::RuvUbcHelper(const QString &journalPath, QObject *parent)
    : RuvUbcHelper(parent)
{
    d->setPath(journalPath);
}

RuvUbcHelper::~RuvUbcHelper()
{
    // One more try for what waits; what still cannot go is told, not lost in silence.
    if (d->sink && d->sink->queued()) {
        SinkNotes notes;
        if (!d->sink->flush(LogSink::nowMs(), notes))
            notes.append({QtWarningMsg, QStringLiteral("%1 lines could not be written to %2")
                                            .arg(d->sink->queued()).arg(d->sink->path())});
        emitNotes(notes);
    }
    // A published pointer must not outlive the helper: the library would
    // invoke a deleted object.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        const void *self = this;
        // Compares the stored address only: casting would touch the object.
        auto withdraw = [app, self] {
            const QVariant value = app->property(HelperProperty);
            if (value.userType() == qMetaTypeId<RuvUbcHelper *>()
                && *static_cast<void *const *>(value.constData()) == self)
                app->setProperty(HelperProperty, QVariant());
        };
        if (app->thread() == QThread::currentThread())
            withdraw();
        else
            QMetaObject::invokeMethod(app, withdraw, Qt::QueuedConnection);
    }
    delete d;
}

RuvUbcHelper *RuvUbcHelper::publish(RuvUbcHelper *helper)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        qCWarning(lcHost, "RuvUbcHelper::publish: no application object to publish on");
        return helper;
    }
    app->setProperty(HelperProperty, helper ? QVariant::fromValue(helper) : QVariant());
    return helper;
}

void RuvUbcHelper::registerMetaTypes()
{
    qRegisterMetaType<RuvUbcAttrType>("RuvUbcAttrType");
    qRegisterMetaType<RuvUbcHelper *>();
}

QString RuvUbcHelper::journalPath() const
{
    QMutexLocker lock(&d->mutex);
    return d->sink ? d->sink->path() : QString();
}

void RuvUbcHelper::setJournalPath(const QString &path)
{
    SinkNotes notes;
    {
        QMutexLocker lock(&d->mutex);
        if (path == (d->sink ? d->sink->path() : QString()))
            return;
        // Lines that wait for the old journal go to the new one.
        d->setPath(path);
        if (d->sink)
            d->sink->flush(LogSink::nowMs(), notes);
    }
    emitNotes(notes);
}

int RuvUbcHelper::eventCount() const
{
    QMutexLocker lock(&d->mutex);
    return d->eventCount;
}

int RuvUbcHelper::timeRecordCount() const
{
    QMutexLocker lock(&d->mutex);
    return d->timeRecordCount;
}

QMap<quint64, int> RuvUbcHelper::timeRecords() const
{
    QMutexLocker lock(&d->mutex);
    return d->timeRecords;
}

int RuvUbcHelper::pendingLines() const
{
    QMutexLocker lock(&d->mutex);
    return d->sink ? d->sink->queued() : 0;
}

bool RuvUbcHelper::eraseJournal()
{
    QMutexLocker lock(&d->mutex);
    if (!d->sink)
        return true;
    const QString path = d->sink->path();
    d->sink = std::make_unique<LogSink>(path, MaxPendingLines); // closes the old file
    if (!QFile::remove(path) && QFileInfo::exists(path)) {
        qCWarning(lcHost, "RuvUbcHelper: could not erase %s", qUtf8Printable(path));
        return false;
    }
    return true;
}

bool RuvUbcHelper::flushJournal()
{
    SinkNotes notes;
    bool empty = true;
    {
        QMutexLocker lock(&d->mutex);
        if (d->sink)
            empty = d->sink->flush(LogSink::nowMs(), notes);
    }
    emitNotes(notes);
    return empty;
}

void RuvUbcHelper::sendData(quint64 code)
{
    if (!collecting())
        return;
    SinkNotes notes;
    {
        QMutexLocker lock(&d->mutex);
        ++d->eventCount;
        d->journal(code, nullptr, notes);
    }
    emitNotes(notes);
    Q_EMIT dataSent(code, RuvUbcAttrType(), false);
}

// By value as the invokable's declaration has it; QMap copies are shared.
void RuvUbcHelper::sendData(quint64 code, RuvUbcAttrType attributes) // NOLINT(performance-unnecessary-value-param)
{
    if (!collecting())
        return;
    SinkNotes notes;
    {
        QMutexLocker lock(&d->mutex);
        ++d->eventCount;
        d->journal(code, &attributes, notes);
    }
    emitNotes(notes);
    Q_EMIT dataSent(code, attributes, true);
}

void RuvUbcHelper::recordTime(quint64 code)
{
    if (!collecting())
        return;
    {
        QMutexLocker lock(&d->mutex);
        ++d->timeRecordCount;
        ++d->timeRecords[code];
    }
    Q_EMIT timeRecorded(code);
}
