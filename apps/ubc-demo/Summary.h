#ifndef SUMMARY_H
#define SUMMARY_H

#include <QtCore/QMap>
#include <QtCore/QString>

#include <functional>
#include <string_view>

// What the host knows about the session beyond the two logs.
struct SessionFacts
{
    qint64 runningTime = 0;       // ms, when the project last closed
    int editCount = 0;
    QMap<quint64, int> statistics; // code to UbcMDEventType
    QMap<quint64, int> timeRecords; // recordTime calls per code
};

// Reads back the record log and the coded-event log and prints what they
// hold, so the summary shows the files, not the host's intentions.
class Summary
{
public:
    Summary(const QString &recordsPath, const QString &eventsPath);

    // False when the record log is missing or a log holds a line that is not
    // a record or a coded event.
    bool read();
    void print(const SessionFacts &facts) const;
    QString error() const { return m_error; }

private:
    // Calls take(line) for each line that is not blank; take says why a line
    // is not what the log should hold, or null.
    bool readLines(const QString &path, const std::function<const char *(std::string_view)> &take);

    QString m_recordsPath;
    QString m_eventsPath;
    QString m_error;
    int m_records = 0;
    int m_events = 0;
    QMap<QString, int> m_byGroup;
    QMap<QString, int> m_byLocation;
    QMap<quint64, int> m_byCode;
    QMap<quint64, QString> m_durations; // statistic code to its "tjsc"
};

#endif // SUMMARY_H
