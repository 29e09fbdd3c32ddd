#ifndef ROTATEDLOGS_H
#define ROTATEDLOGS_H

#include <QtCore/QString>
#include <QtCore/QVector>

// The numbered files a log is rotated into, beside it: log path + "." + N,
// N from 1 without leading zeros, a higher number newer. Numbers restart
// only once none is left, so the order of the files present is always the
// order they were written in.
class RotatedLogs
{
public:
    struct File
    {
        quint64 number = 0;
        QString path;
        qint64 size = 0;
    };

    // Oldest first.
    static QVector<File> list(const QString &logPath);
    // The name the log takes when it is rotated now: one above the newest.
    static QString nextPath(const QString &logPath);
};

#endif // ROTATEDLOGS_H
