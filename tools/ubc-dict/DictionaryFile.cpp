#include "DictionaryFile.h"

#include "InterruptCleanup.h"
#include "UbcDictLogging.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryFile>
#include <QVariant>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#endif

namespace {

// One uniquely named connection, removed again when it goes out of scope.
// Queries on it must be destroyed first, so declare them after it.
class Connection
{
public:
    Connection(const QString &path, bool readOnly)
    {
        static QAtomicInt counter;
        m_name = QStringLiteral("ubc-dict-%1").arg(counter.fetchAndAddRelaxed(1));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        if (readOnly)
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open())
            m_error = db.lastError().text();
    }
    ~Connection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }
    bool isOpen() const { return m_error.isNull(); }
    QString error() const { return m_error; }

private:
    QString m_name;
    QString m_error;
};

QString textOf(const QVariant &value)
{
    if (value.isNull())
        return QString();
    const QString text = value.toString();
    return text.isNull() ? QString(QLatin1String("")) : text;
}

QVariant sqlText(const QString &text)
{
    // A null QString in a QVariant is no SQL NULL in Qt 6: say the type only.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return text.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
#else
    return text.isNull() ? QVariant(QVariant::String) : QVariant(text);
#endif
}

bool replaceFile(const QString &from, const QString &to, QString *error)
{
#ifdef Q_OS_WIN
    const QString nativeFrom = QDir::toNativeSeparators(from);
    const QString nativeTo = QDir::toNativeSeparators(to);
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(nativeFrom.utf16()),
                    reinterpret_cast<const wchar_t *>(nativeTo.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *error = qt_error_string(int(GetLastError()));
#else
    // rename(2) replaces the target atomically: readers see the old file or the new one.
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *error = qt_error_string(errno);
#endif
    return false;
}

// Gives the new file the mode of the file it replaces (0644 for a new one).
void copyMode(const QString &target, const QString &file)
{
#ifdef Q_OS_WIN
    const QFileInfo info(target);
    const bool ok = QFile::setPermissions(file, info.exists() ? info.permissions()
                                                              : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                    | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const QString error = QStringLiteral("failed");
#else
    // Not QFileInfo::permissions(): it reports what this user may do, which
    // makes a read-only file writable for root.
    struct stat st;
    const mode_t mode = ::stat(QFile::encodeName(target).constData(), &st) == 0 ? st.st_mode & 07777 : 0644;
    const bool ok = ::chmod(QFile::encodeName(file).constData(), mode) == 0;
    const QString error = qt_error_string(errno);
#endif
    if (!ok)
        qCWarning(lcUbcDict, "cannot give %s the mode of %s: %s", qUtf8Printable(file), qUtf8Printable(target),
                  qUtf8Printable(error));
}

const char CreateTable[] =
    "create table FuncDict ("
    " fncode text not null primary key,"
    " fnName text,"
    " fnGroup text,"
    " fnAttrName text,"
    " fnAddLayer integer not null check (fnAddLayer in (0, 1)),"
    " fnAddRegion integer not null check (fnAddRegion in (0, 1)))";

} // namespace

class DictionaryFilePrivate
{
public:
    bool fail(const QString &message)
    {
        error = message;
        return false;
    }
    bool openForReading(Connection &connection);
    bool fill(const QString &file, const QVector<DictRow> &rows);

    QString path;
    QString error;
};

bool DictionaryFilePrivate::openForReading(Connection &connection)
{
    if (!connection.isOpen())
        return fail(QStringLiteral("cannot open the database: %1").arg(connection.error()));
    return true;
}

bool DictionaryFilePrivate::fill(const QString &file, const QVector<DictRow> &rows)
{
    Connection connection(file, false);
    if (!connection.isOpen())
        return fail(QStringLiteral("cannot create the database: %1").arg(connection.error()));
    QSqlDatabase db = connection.db();
    QSqlQuery query(db);
    if (!query.exec(QLatin1String(CreateTable)))
        return fail(QStringLiteral("cannot create table FuncDict: %1").arg(query.lastError().text()));
    if (!db.transaction())
        return fail(QStringLiteral("cannot start a transaction: %1").arg(db.lastError().text()));
    query.prepare(QStringLiteral("insert into FuncDict (fncode, fnName, fnGroup, fnAttrName, fnAddLayer, fnAddRegion)"
                                 " values (?, ?, ?, ?, ?, ?)"));
    for (const DictRow &row : rows) {
        const QString what = QStringLiteral("%1: fncode \"%2\"").arg(row.origin(), row.values[DictRow::Code]);
        for (int column : {DictRow::Code, DictRow::Name, DictRow::Group, DictRow::AttrNames})
            query.addBindValue(sqlText(row.values[column]));
        for (int column : {DictRow::AddLayer, DictRow::AddRegion}) {
            const QString &flag = row.values[column];
            if (flag != QLatin1String("0") && flag != QLatin1String("1")) {
                db.rollback();
                return fail(QStringLiteral("%1: %2 must be 0 or 1").arg(what, DictRow::columnName(column)));
            }
            query.addBindValue(flag == QLatin1String("1") ? 1 : 0);
        }
        if (!query.exec()) {
            const QString message = query.lastError().text();
            db.rollback();
            return fail(QStringLiteral("%1: cannot store the row: %2").arg(what, message));
        }
    }
    if (!db.commit()) {
        const QString message = db.lastError().text();
        db.rollback();
        return fail(QStringLiteral("cannot commit: %1").arg(message));
    }
    return true;
}

DictionaryFile::DictionaryFile(const QString &path)
    : d(new DictionaryFilePrivate)
{
    d->path = path;
}

DictionaryFile::~DictionaryFile() = default;

bool DictionaryFile::isDatabase(const QString &path)
{
    QFile file(path);
    static const QByteArray magic("SQLite format 3", 16); // with its terminating NUL
    return file.open(QIODevice::ReadOnly) && file.read(magic.size()) == magic;
}

bool DictionaryFile::read(QVector<DictRow> *rows)
{
    rows->clear();
    if (!QFileInfo(d->path).isFile())
        return d->fail(QStringLiteral("no such file"));
    Connection connection(d->path, true);
    if (!d->openForReading(connection))
        return false;
    QSqlQuery query(connection.db());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select rowid, fncode, fnName, fnGroup, fnAttrName, fnAddLayer, fnAddRegion"
                                   " from FuncDict order by rowid")))
        return d->fail(QStringLiteral("cannot read table FuncDict: %1").arg(query.lastError().text()));
    while (query.next()) {
        DictRow row;
        row.rowId = query.value(0).toLongLong();
        for (int column = 0; column < DictRow::ColumnCount; ++column)
            row.values[column] = textOf(query.value(column + 1));
        rows->append(row);
    }
    if (query.lastError().isValid())
        return d->fail(QStringLiteral("cannot read table FuncDict: %1").arg(query.lastError().text()));
    return true;
}

DictionaryFile::LookupResult DictionaryFile::lookup(const QString &code, Entry *entry)
{
    if (!QFileInfo(d->path).isFile()) {
        d->fail(QStringLiteral("no such file"));
        return Failed;
    }
    Connection connection(d->path, true);
    if (!d->openForReading(connection))
        return Failed;
    QSqlQuery query(connection.db());
    query.prepare(QStringLiteral("select * from FuncDict where fncode = ?"));
    query.addBindValue(code);
    if (!query.exec()) {
        d->fail(QStringLiteral("cannot read table FuncDict: %1").arg(query.lastError().text()));
        return Failed;
    }
    if (!query.next())
        return Missing;
    // Columns the table lacks read as empty or false, as in the library.
    const QSqlRecord record = query.record();
    auto column = [&](const char *name) {
        const int index = record.indexOf(QLatin1String(name));
        return index < 0 ? QVariant() : query.value(index);
    };
    entry->group = column("fnGroup").toString();
    entry->name = column("fnName").toString();
    entry->attrNames = column("fnAttrName").toString();
    entry->addLayer = column("fnAddLayer").toBool();
    entry->addRegion = column("fnAddRegion").toBool();
    return Found;
}

bool DictionaryFile::write(const QVector<DictRow> &rows)
{
    const QFileInfo target(d->path);
    if (target.isDir())
        return d->fail(QStringLiteral("is a directory"));
    const QDir dir = target.absoluteDir();
    if (!dir.exists())
        return d->fail(QStringLiteral("directory %1 does not exist").arg(QDir::toNativeSeparators(dir.path())));

    InterruptCleanup cleanup; // outlives the temporary file, which is removed on failure
    // QTemporaryFile keeps its handle until destroyed, and Windows cannot
    // rename an open file: only its name is kept.
    struct TempName
    {
        QString name;
        bool keep = false;
        ~TempName()
        {
            if (!keep && !name.isEmpty())
                QFile::remove(name);
        }
    } temp;
    {
        QTemporaryFile file(dir.filePath(QStringLiteral(".%1.XXXXXX.tmp").arg(target.fileName())));
        if (!file.open())
            return d->fail(QStringLiteral("cannot create a temporary file in %1: %2")
                               .arg(QDir::toNativeSeparators(dir.path()), file.errorString()));
        file.setAutoRemove(false);
        temp.name = file.fileName();
    }
    cleanup.arm({temp.name, temp.name + QStringLiteral("-journal")});
    qCDebug(lcUbcDict, "building %s", qUtf8Printable(temp.name));

    if (!d->fill(temp.name, rows))
        return false;
    // Only now: a read-only mode would have kept SQLite from filling the file.
    copyMode(target.absoluteFilePath(), temp.name);
    QString error;
    if (!replaceFile(temp.name, target.absoluteFilePath(), &error))
        return d->fail(QStringLiteral("cannot replace the file: %1").arg(error));
    temp.keep = true;
    return true;
}

QString DictionaryFile::errorString() const { return d->error; }
