#ifndef UPLOADBATCH_H
#define UPLOADBATCH_H

#include <QtCore/QByteArray>
#include <QtCore/QVector>

// Lines [fileStart, fileEnd) of the log turned into rows for the store.
struct UploadBatch
{
    qint64 fileStart = 0, fileEnd = 0;
    int lines = 0;                // raw lines, empty and refused ones included
    QByteArray rows;
    QVector<int> rowEnd;          // end of row k in rows
    QVector<qint64> rowFileStart; // log offset of row k's line
    QVector<qint64> rowFileEnd;   // log offset after row k's line
    QVector<int> rowLines;        // raw lines up to and including row k

    bool isEmpty() const { return lines == 0; }
    int rowCount() const { return rowEnd.size(); }
    // Rows [first, end) as one body.
    QByteArray body(int first, int end) const
    {
        const int begin = first == 0 ? 0 : rowEnd.at(first - 1);
        return rows.mid(begin, rowEnd.at(end - 1) - begin);
    }
};

#endif // UPLOADBATCH_H
