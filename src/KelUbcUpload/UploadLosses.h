#ifndef UPLOADLOSSES_H
#define UPLOADLOSSES_H

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QVector>

// What the desktop lost on the way to the store, counted for the store's
// table ubc.upload_losses and kept beside the log (log path + ".losses") so
// a restart forgets nothing. A report freezes the counts into rows, each
// with a random lossid, and is sent as it is until confirmed: a row that
// arrives twice folds into one.
class UploadLosses
{
public:
    enum Kind { QueueDropped, SetAside, RotatedUnsent, KindCount };

    explicit UploadLosses(const QString &path);

    void add(Kind kind, quint64 records);
    bool isEmpty() const;
    // The rows of the report waiting to be confirmed, as JSON lines; made
    // from the counts (with gid) when none waits.
    QByteArray reportRows(const QString &gid);
    // The store has the report.
    void reported();
    quint64 count(Kind kind) const { return m_counts[kind]; }

private:
    struct Row
    {
        quint64 lossid;
        qint64 reported; // seconds since the epoch
        int kind;
        quint64 records;
        QString gid;
    };
    void load();
    void save();

    const QString m_path;
    quint64 m_counts[KindCount] = {};
    QVector<Row> m_report;
    bool m_saveFailing = false;
};

#endif // UPLOADLOSSES_H
