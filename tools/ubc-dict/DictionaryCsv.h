#pragma once

#include "DictRow.h"

#include <QByteArray>
#include <QVector>

// The dictionary's CSV form: a header row naming the six columns in any order,
// then one row per code. write() gives the canonical form: header in the order
// of DictRow::columnNames(), LF line ends, no BOM, a field quoted only when it
// holds a comma, quote or line break, or is empty text rather than NULL.
class DictionaryCsv
{
public:
    struct Error
    {
        int line = 0;
        QString message;
    };

    static bool read(const QByteArray &data, QVector<DictRow> *rows, Error *error);
    static QByteArray write(const QVector<DictRow> &rows);
    static QString quoteField(const QString &field);
};
