#ifndef RUVUBCHELPER_H
#define RUVUBCHELPER_H

#include "KelUbcHostGlobal.h"

#include <QtCore/QMap>
#include <QtCore/QMetaType>
#include <QtCore/QObject>
#include <QtCore/QString>

// The attribute map of a coded event, under the name the library asks for.
typedef QMap<QString, QString> RuvUbcAttrType;

class RuvUbcHelperPrivate;

// A ready helper object for KelUbc's coded events. Publish it on the
// application and the library finds it under the property "RuvUbcHelper":
//
//     RuvUbcHelper::publish(new RuvUbcHelper(QStringLiteral("events.jsonl"), &app));
//
// Each coded event is appended to the journal file as one JSON line
// {"time": ..., "code": ..., "attrs": {...}, ...} (no journal: events are only
// counted); time records are counted per code. It may live in another thread:
// RuvUbcAttrType is registered with the meta-type system for queued calls.
//
// Journal lines: "time" is UTC ISO 8601 with milliseconds; "code" is the
// decimal code as a JSON string, exact for every quint64; "attrs" is the map
// as an object, or null for the one-argument sendData; then "pcode", "gid"
// and "sessionid" as RuvUbc gives them to its records, and "seq", the
// event's number within the session (from 1, across all helpers of the
// process), so that (sessionid, seq) names the event in the fleet's store. The journal is written
// by the behaviour log's own file writer, under the same rules: each line
// appended with one write and in the file when sendData returns; a new file is
// 0600 in folders made 0700; a symbolic link, FIFO, device or another user's
// file at the path is refused; a cut-short last line is left on a line of its
// own. A journal that cannot be written gets one warning per outage and its
// lines wait in memory (at most MaxPendingLines and 4 MiB), retried at most
// once a second on the next event, or at once by flushJournal() or a new path;
// what still cannot be written when the helper is destroyed is counted in one
// warning. recordTime only counts; it writes nothing. While
// RuvUbc::instance()->isCollectionEnabled() is false, sendData and recordTime
// do nothing at all. Warnings use the logging category "kelubc.host".
// A destroyed helper withdraws itself from the application property.
class KELUBCHOST_EXPORT RuvUbcHelper : public QObject
{
    Q_OBJECT
public:
    explicit RuvUbcHelper(QObject *parent = nullptr);
    explicit RuvUbcHelper(const QString &journalPath, QObject *parent = nullptr);
    ~RuvUbcHelper() override;

    // Stores helper in the application property "RuvUbcHelper"; returns it.
    // A null helper removes the property.
    static RuvUbcHelper *publish(RuvUbcHelper *helper);
    // Registers RuvUbcHelper* and RuvUbcAttrType with the meta-type system.
    static void registerMetaTypes();

    QString journalPath() const;
    void setJournalPath(const QString &path);

    int eventCount() const;                 // sendData calls so far
    int timeRecordCount() const;            // recordTime calls so far
    QMap<quint64, int> timeRecords() const; // recordTime calls per code

    static constexpr int MaxPendingLines = 10000;
    int pendingLines() const; // lines waiting for a journal that failed
    bool flushJournal();      // writes what waits now; true when nothing waits
    // Removes the journal file and forgets what waits for it; events sent at
    // the same time land in the old file before the removal or in a new one.
    bool eraseJournal();

    Q_INVOKABLE void sendData(quint64 code);
    Q_INVOKABLE void sendData(quint64 code, RuvUbcAttrType attributes);
    Q_INVOKABLE void recordTime(quint64 code);

Q_SIGNALS:
    void dataSent(quint64 code, const RuvUbcAttrType &attributes, bool hasAttributes);
    void timeRecorded(quint64 code);

private:
    Q_DISABLE_COPY(RuvUbcHelper)
    RuvUbcHelperPrivate *d;
};

Q_DECLARE_METATYPE(RuvUbcHelper *)

#endif // RUVUBCHELPER_H
