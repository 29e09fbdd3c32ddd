#pragma once

#include <QString>
#include <QStringList>

#include <array>

// One row of the table FuncDict as text, whichever file it came from. A null
// QString stands for SQL NULL (an empty unquoted CSV field); flags are kept as
// the text found ("0", "1" or anything else) so the checker can judge them.
struct DictRow
{
    enum Column { Code, Name, Group, AttrNames, AddLayer, AddRegion, ColumnCount };

    static QString columnName(int column);
    static QStringList columnNames(); // in the canonical CSV order

    // "line 7" for a CSV row, "row 3" (SQLite rowid) for a database row.
    QString origin() const;

    std::array<QString, ColumnCount> values;
    int line = 0;
    qint64 rowId = 0;
};
