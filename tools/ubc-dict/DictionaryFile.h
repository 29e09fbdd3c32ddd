#pragma once

#include "DictRow.h"

#include <QString>
#include <QVector>

#include <memory>

class DictionaryFilePrivate;

// The SQLite dictionary file. Reading opens it read-only, so a missing file is
// an error rather than a new empty database; writing builds a temporary file
// beside the target and renames it over the target only once it is complete,
// with the target's mode. SIGINT, SIGTERM or SIGHUP during a write remove the
// temporary file and its journal.
class DictionaryFile
{
public:
    // An entry the way the library reads it: columns by name, flags by toBool().
    struct Entry
    {
        QString name;
        QString group;
        QString attrNames;
        bool addLayer = false;
        bool addRegion = false;
    };
    enum LookupResult { Found, Missing, Failed };

    explicit DictionaryFile(const QString &path);
    ~DictionaryFile();
    DictionaryFile(const DictionaryFile &) = delete;
    DictionaryFile &operator=(const DictionaryFile &) = delete;

    // True when the file starts with the SQLite header.
    static bool isDatabase(const QString &path);

    bool read(QVector<DictRow> *rows);
    LookupResult lookup(const QString &code, Entry *entry);
    bool write(const QVector<DictRow> &rows);

    QString errorString() const;

private:
    std::unique_ptr<DictionaryFilePrivate> d;
};
