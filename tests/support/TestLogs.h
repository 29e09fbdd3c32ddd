#ifndef TESTLOGS_H
#define TESTLOGS_H

// Readers of the JSON-lines files that the programs under test write, the
// attribute maps the tests write as "k=v;l=w", and plain file reading.

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QStringList>

namespace TestLogs {

// The whole lines of a file, without what follows the last newline; nothing
// for a missing file.
inline QList<QByteArray> lines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> out = file.readAll().split('\n');
    out.removeLast();
    return out;
}

// The lines of a log and of the files it was rotated to: the numbered
// files first, oldest first, then the log itself; each numbered file's size
// when asked.
inline QList<QByteArray> rotatedLines(const QString &log, QList<qint64> *sizes = nullptr)
{
    QList<QByteArray> out;
    for (quint64 n = 1;; ++n) {
        const QString path = log + QLatin1Char('.') + QString::number(n);
        if (!QFile::exists(path))
            break;
        out += lines(path);
        if (sizes)
            *sizes << QFileInfo(path).size();
    }
    return out + lines(log);
}

// Each line as an object; an empty object for a line that is not one (a torn
// fragment).
inline QList<QJsonObject> objects(const QList<QByteArray> &lines)
{
    QList<QJsonObject> out;
    for (const QByteArray &line : lines)
        out << QJsonDocument::fromJson(line).object();
    return out;
}
inline QList<QJsonObject> objects(const QString &path) { return objects(lines(path)); }

// One field of each record whose fncode is code (of every record when code is
// null), an object field as compact JSON.
inline QStringList column(const QList<QJsonObject> &records, const QString &key, const QString &code = QString())
{
    QStringList out;
    for (const QJsonObject &o : records) {
        if (!code.isNull() && o.value(QStringLiteral("fncode")).toString() != code)
            continue;
        const QJsonValue v = o.value(key);
        out << (v.isObject() ? QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact))
                             : v.toString());
    }
    return out;
}

inline QString joined(const QStringList &list) { return list.join(QLatin1Char(' ')); }

// "from" up to "to - 1", as the tests number the records they write.
inline QStringList numbers(int from, int to)
{
    QStringList out;
    while (from < to)
        out << QString::number(from++);
    return out;
}

// A file's bytes; nothing for a file that cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &data, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    return file.open(mode) && file.write(data) == data.size();
}
inline bool appendFile(const QString &path, const QByteArray &data)
{
    return writeFile(path, data, QIODevice::WriteOnly | QIODevice::Append);
}

// A record's or an event's attributes as "k=v;..." in key order.
inline QString attrsOf(const QJsonObject &o)
{
    QStringList out;
    const QJsonObject a = o.value(QStringLiteral("attrs")).toObject();
    for (auto it = a.begin(); it != a.end(); ++it)
        out << it.key() + QLatin1Char('=') + it.value().toString();
    return out.join(QLatin1Char(';'));
}

// The map as "k=v" pairs in key order.
inline QString pairs(const QMap<QString, QString> &map, QChar separator = QLatin1Char(';'))
{
    QStringList out;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        out << it.key() + QLatin1Char('=') + it.value();
    return out.join(separator);
}

inline QMap<QString, QString> attrsFrom(const QString &text)
{
    QMap<QString, QString> out;
    for (const QString &pair : text.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        out.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return out;
}

} // namespace TestLogs

#endif
