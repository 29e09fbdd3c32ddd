#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class CsvReaderPrivate;

// RFC 4180 reader over bytes in memory. Input must be UTF-8 without NUL bytes
// (a leading BOM is dropped); records end at LF, CRLF or a lone CR; empty
// lines are skipped.
// An empty unquoted field reads as a null QString, a quoted empty field ("")
// as an empty but non-null one, so callers can tell "nothing" from "empty".
class CsvReader
{
public:
    struct Record
    {
        int line = 0; // 1-based line on which the record starts
        QStringList fields;
    };

    CsvReader();
    ~CsvReader();
    CsvReader(const CsvReader &) = delete;
    CsvReader &operator=(const CsvReader &) = delete;

    // Parses the whole input; on failure no records are kept.
    bool parse(const QByteArray &data);

    QVector<Record> records() const;
    QString errorString() const;
    int errorLine() const; // 0 when there is no error

private:
    std::unique_ptr<CsvReaderPrivate> d;
};
