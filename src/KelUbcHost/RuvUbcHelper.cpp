#include "RuvUbcHelper.h"

#include <JsonString.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QList>
#include <QtCore/QMutex>
#include <QtCore/QThread>
#include <QtCore/QVariant>

namespace {

const char HelperProperty[] = "RuvUbcHelper";

// {"time":"<UTC, ms>","code":"<decimal>","attrs":{...}|null}
// The code is a string: JSON readers that use doubles lose codes above 2^53.
QByteArray journalLine(quint64 code, const RuvUbcAttrType *attributes)
{
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
    line += "}\n";
    return line;
}

} // namespace

class RuvUbcHelperPrivate
{
public:
    void journal(const QByteArray &line);
    // Appends what waits to the journal; false when the file failed.
    bool drain();
    void warnOnce(const QString &reason);

    mutable QMutex mutex;
    QString journalPath;
    QList<QByteArray> pending; // lines not yet in the journal, oldest first
    bool torn = false;         // a partial line ends the journal
    bool failing = false;      // warned; until a line is written again
    int dropped = 0;           // lines lost to the bound in this outage
    int eventCount = 0;
    int timeRecordCount = 0;
    QMap<quint64, int> timeRecords;
};

void RuvUbcHelperPrivate::journal(const QByteArray &line)
{
    if (journalPath.isEmpty())
        return;
    if (pending.size() >= RuvUbcHelper::MaxPendingLines && !drain()) {
        // The newest go: the file gets an unbroken run of the oldest.
        if (dropped++ == 0)
            qWarning("RuvUbcHelper: %d lines wait for the journal %s; dropping new ones",
                     int(pending.size()), qUtf8Printable(journalPath));
        return;
    }
    pending.append(line);
    drain();
}

bool RuvUbcHelperPrivate::drain()
{
    if (pending.isEmpty())
        return true;
    // Opened for each batch: a journal moved or removed between events is
    // created anew instead of swallowing lines into an unlinked file.
    QFile file(journalPath);
    const QFileInfo info(file);
    if (!info.absoluteDir().exists() && !QDir().mkpath(info.absolutePath())) {
        warnOnce(QStringLiteral("cannot create the folder %1").arg(info.absolutePath()));
        return false;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        warnOnce(file.errorString());
        return false;
    }
    while (!pending.isEmpty()) {
        // Unbuffered: one write(2) per line on an O_APPEND descriptor.
        const QByteArray line = torn ? QByteArray(1, '\n') + pending.constFirst()
                                     : pending.constFirst();
        const qint64 written = file.write(line);
        if (written != line.size()) {
            if (written > 0)
                torn = true; // the next line starts on a line of its own
            warnOnce(file.errorString());
            return false;
        }
        torn = false;
        pending.removeFirst();
    }
    failing = false;
    dropped = 0;
    return true;
}

void RuvUbcHelperPrivate::warnOnce(const QString &reason)
{
    if (failing)
        return;
    failing = true;
    qWarning("RuvUbcHelper: cannot write the journal %s (%s); %d line(s) kept for a later try",
             qUtf8Printable(journalPath), qUtf8Printable(reason), int(pending.size()));
}

RuvUbcHelper::RuvUbcHelper(QObject *parent)
    : QObject(parent), d(new RuvUbcHelperPrivate)
{
    registerMetaTypes();
}

RuvUbcHelper::RuvUbcHelper(const QString &journalPath, QObject *parent)
    : RuvUbcHelper(parent)
{
    d->journalPath = journalPath;
}

RuvUbcHelper::~RuvUbcHelper()
{
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
        qWarning("RuvUbcHelper::publish: no application object to publish on");
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
    return d->journalPath;
}

void RuvUbcHelper::setJournalPath(const QString &path)
{
    QMutexLocker lock(&d->mutex);
    if (path == d->journalPath)
        return;
    // Lines that wait for the old journal go to the new one.
    d->journalPath = path;
    d->torn = false;
    d->failing = false;
    if (path.isEmpty())
        d->pending.clear();
    else
        d->drain();
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
    return d->pending.size();
}

bool RuvUbcHelper::flushJournal()
{
    QMutexLocker lock(&d->mutex);
    return d->drain();
}

void RuvUbcHelper::sendData(quint64 code)
{
    {
        QMutexLocker lock(&d->mutex);
        ++d->eventCount;
        d->journal(journalLine(code, nullptr));
    }
    Q_EMIT dataSent(code, RuvUbcAttrType(), false);
}

// By value as the invokable's declaration has it; QMap copies are shared.
void RuvUbcHelper::sendData(quint64 code, RuvUbcAttrType attributes) // NOLINT(performance-unnecessary-value-param)
{
    {
        QMutexLocker lock(&d->mutex);
        ++d->eventCount;
        d->journal(journalLine(code, &attributes));
    }
    Q_EMIT dataSent(code, attributes, true);
}

void RuvUbcHelper::recordTime(quint64 code)
{
    {
        QMutexLocker lock(&d->mutex);
        ++d->timeRecordCount;
        ++d->timeRecords[code];
    }
    Q_EMIT timeRecorded(code);
}
