#include "KelUbcPrivate.h"

#include <QtCore/QDebug>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtSql/QSqlError>

#include <algorithm>
#include <atomic>

Q_LOGGING_CATEGORY(lcKelUbc, "kelubc.facade")

KelUbcPrivate::KelUbcPrivate()
    : QObject(nullptr),
      m_db(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("KelUbc"))),
      m_location(QLatin1String("")),
      m_major(QLatin1String("")),
      m_layer(QLatin1String("")),
      m_region(QLatin1String(""))
{
    m_db.setDatabaseName(QCoreApplication::applicationDirPath() + QStringLiteral("/KelUbc.db"));
    // Read-only: a missing dictionary must fail the open, not create an empty file.
    // A writer's exclusive lock would hold each look-up for the driver's default
    // 5 s in the host's GUI thread; 10 ms rides out a commit, then the event drops.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=10"));
    if (!m_db.open()) {
        QMessageLogger().debug() << m_db.lastError();
        warnDictionaryUnusable(m_db.databaseName(), m_db.lastError().text());
    }
    m_lastActivity = now();
}

// Once per process: a host that builds facades of its own, or looks up many
// codes, hears it once, with the path to put the file at.
void KelUbcPrivate::warnDictionaryUnusable(const QString &path, const QString &why)
{
    static std::atomic<bool> warned{false};
    if (warned.exchange(true))
        return;
    const QString where = QDir::toNativeSeparators(path);
    if (QFileInfo::exists(path))
        qCWarning(lcKelUbc, "KelUbc: cannot read the function dictionary %s (%s); named events are dropped",
                  qUtf8Printable(where), qUtf8Printable(why));
    else
        qCWarning(lcKelUbc, "KelUbc: no function dictionary at %s; named events are dropped and actions carry no group",
                  qUtf8Printable(where));
}

KelUbcPrivate::~KelUbcPrivate() = default;

KelUbcPrivate *KelUbcPrivate::singleton()
{
    KelUbc *q = KelUbc::instance();
    return q ? get(q) : nullptr;
}

bool KelUbcPrivate::collecting()
{
    return RuvUbc::instance()->isCollectionEnabled();
}

void KelUbcPrivate::sendCoded(KelUbcHelperLink::Method method, quint64 code,
                              const QMap<QString, QString> *attributes)
{
    if (collecting())
        m_helperLink.invoke(method, code, attributes);
}

UbcDataProtocol KelUbcPrivate::newRecord()
{
    UbcDataProtocol record;
    RuvUbc::instance()->initUbcDataProtocol(record);
    record.attrs.clear();
    return record;
}

void KelUbcPrivate::logRecord(UbcDataProtocol &record, bool addLayer, bool addRegion, const QString *info)
{
    if (record.fncode.isEmpty() || record.fnname.isEmpty())
        return;
    RuvUbc::instance()->setFilterType(15);
    if (record.fngroup.isEmpty())
        record.fngroup = QStringLiteral("null");
    // A caller's own "layer" or "region", even an empty one, wins.
    if (addLayer && !record.attrs.contains(QStringLiteral("layer")))
        record.attrs.insert(QStringLiteral("layer"), m_layer);
    if (addRegion && !record.attrs.contains(QStringLiteral("region")))
        record.attrs.insert(QStringLiteral("region"), m_region);
    RuvUbc::instance()->logUbcDataProtocol(record);
    RuvUbc::instance()->setFilterType(0);
    writeLog(record, info ? *info : infoText(record.fnname));
}

// True when QDebug would write text between its quotes unchanged.
static bool printsPlain(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // ASCII and the CJK ideographs that every Qt 5.15 and 6 knows need no
        // call into the character tables: function names are mostly these.
        if (u < 0x80) {
            if (u < 0x20 || u == 0x7f || u == '"' || u == '\\')
                return false;
        } else if (u < 0x4e00 || u > 0x9fef) {
            if (c.isSurrogate() || !c.isPrint())
                return false;
        }
    }
    return true;
}

QString KelUbcPrivate::infoText(const QString &name)
{
    if (!printsPlain(name))
        return QString(QLatin1String(""));
    // One allocation: the info line goes out with every record.
    QString text(name.size() + 2, Qt::Uninitialized);
    QChar *out = text.data();
    out[0] = QLatin1Char('"');
    std::copy(name.constBegin(), name.constEnd(), out + 1);
    out[name.size() + 1] = QLatin1Char('"');
    return text;
}

void KelUbcPrivate::writeLog(const UbcDataProtocol &record, const QString &info)
{
    static const char file[] = "src/KelUbc/KelUbc";
    static const char function[] = "KelUbcPrivate::writeLog";
    // The line QDebug would make, without its stream, for the common names.
    if (!info.isEmpty()) {
        const QMessageLogContext context(file, 302, function, "default");
        qt_message_output(QtInfoMsg, context, info);
        return;
    }
    QMessageLogger(file, 302, function).info() << record.fnname;
}
