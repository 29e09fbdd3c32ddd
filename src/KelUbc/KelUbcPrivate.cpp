#include "KelUbcPrivate.h"

#include <QtCore/QDebug>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtSql/QSqlError>

#include <atomic>

Q_LOGGING_CATEGORY(lcKelUbc, "kelubc.facade")

KelUbcPrivate::KelUbcPrivate()
    : QObject(nullptr),
      m_db(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("KelUbc"))),
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

void KelUbcPrivate::logRecord(UbcDataProtocol &record, bool addLayer, bool addRegion)
{
    if (!record.fncode.isEmpty() && !record.fnname.isEmpty()) {
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
        writeLog(record);
    }
    m_location = QLatin1String("");
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

void KelUbcPrivate::writeLog(const UbcDataProtocol &record)
{
    static const char file[] = "src/KelUbc/KelUbc";
    static const char function[] = "KelUbcPrivate::writeLog";
    // The line QDebug would make, without its stream, for the common names.
    if (printsPlain(record.fnname)) {
        const QMessageLogContext context(file, 302, function, "default");
        qt_message_output(QtInfoMsg, context, QLatin1Char('"') + record.fnname + QLatin1Char('"'));
        return;
    }
    QMessageLogger(file, 302, function).info() << record.fnname;
}
