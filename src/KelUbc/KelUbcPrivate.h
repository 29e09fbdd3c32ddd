#ifndef KELUBCPRIVATE_H
#define KELUBCPRIVATE_H

//
//  W A R N I N G
//  -------------
// Not part of the public API; may change from version to version.
//

#include "KelUbc.h"
#include "KelUbcHelperLink.h"

#include <KelUbcLabels.h>
#include <RuvUbc.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QHash>
#include <QtCore/QLoggingCategory>
#include <QtCore/QObject>
#include <QtSql/QSqlDatabase>

// The library's own diagnostics. The record's info line and the dictionary's
// debug lines stay in the default category, where hosts' handlers and filter
// rules have always met them.
Q_DECLARE_LOGGING_CATEGORY(lcKelUbc)

// One cached row of the function dictionary.
struct FuncDictEntry
{
    QString fnName;
    QString fnGroup;
    QStringList fnAttrNames; // fnAttrName, split once by splitAttrNames()
    bool fnAddLayer = false;
    bool fnAddRegion = false;
    QString infoText; // the info line for fnName (KelUbcPrivate::infoText), made on first use

    // At ';', empty parts kept: "a;;b" names a, "" and b.
    static QStringList splitAttrNames(const QString &fnAttrName)
    {
        return fnAttrName.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    }
};

// Owns all state of the library and watches the application's events.
// No Q_OBJECT: it needs no signals, slots or meta-object of its own.
class KelUbcPrivate : public QObject, public KelUbcLabels
{
public:
    KelUbcPrivate();
    ~KelUbcPrivate() override;

    static KelUbcPrivate *get(KelUbc *q) { return q->d_func(); }
    // The singleton's private object, through which every facade reports
    // quits, idle codes, saved counts and committed statistics; null after unload.
    static KelUbcPrivate *singleton();

    static QString label(Label label)
    {
        return QCoreApplication::translate("KelUbc", labelSource(label), nullptr, -1);
    }

    // Time stamps are taken in UTC: whole-second differences are the same as
    // in local time, and reading the local zone costs microseconds per call.
    QDateTime now() const
    {
        const QDateTime utc = QDateTime::currentDateTimeUtc();
        return Q_LIKELY(m_clockOffsetMs == 0) ? utc : utc.addMSecs(m_clockOffsetMs);
    }
    // Test seams, the only ways into the state from outside. This object's clock
    // runs ms ahead from now on, so that tests need not wait out durations
    // and idle gaps. Nothing else calls it.
    void advanceClockForTesting(qint64 ms) { m_clockOffsetMs += ms; }
    // Fuzzing seam: the cache holds this one row, as if read from the file.
    void replaceDictionaryForTesting(const QString &fncode, const FuncDictEntry &entry)
    {
        m_funcDict.clear();
        m_funcDict.insert(fncode, entry);
    }

    // RuvUbc's collection switch, read by both outlets.
    static bool collecting();

    // The record road's one outlet: a fresh record from RuvUbc, filled by fill,
    // logged in the filter bracket with the info line when it has a code and a
    // name (info: its text, if made already); the location label is cleared in
    // every case. With collection off nothing is built or logged.
    template <typename Fill>
    void record(Fill &&fill, bool addLayer = false, bool addRegion = false, const QString *info = nullptr)
    {
        if (collecting()) {
            UbcDataProtocol record = newRecord();
            fill(record);
            logRecord(record, addLayer, addRegion, info);
        }
        if (!m_location.isEmpty())
            m_location = QLatin1String("");
    }
    // The info line's text for a record of this name: the name in quotes, as
    // QDebug writes it; empty, not null, for a name that only QDebug can write.
    static QString infoText(const QString &name);
    // The coded road's one outlet: the helper's method, unless collection is off.
    void sendCoded(KelUbcHelperLink::Method method, quint64 code,
                   const QMap<QString, QString> *attributes = nullptr);

    // Function dictionary and named events (KelUbcCore.cpp)
    QHash<QString, FuncDictEntry>::iterator findFuncDictEntry(const QString &fncode);
    // The record carries attrs, or, when attrs is null, values paired with the
    // entry's attribute names.
    void sendNamed(const QString &fncode, const QMap<QString, QString> *attrs, const QStringList &values);

    // Coded events, executed actions and property edits (KelUbcActions.cpp)
    void send(quint64 code, QMap<QString, QString> &attributes);
    void applyLayerRule(QMap<QString, QString> &attributes) const;
    void send(quint64 code, const QString &key, const QString &value, bool addLayer);
    void send(quint64 code, bool addLayer);
    void sendActionExecute(const QString &fncode, const QString &fnname, bool byShortcut);
    void sendElementPropValueModified(const QString &fncode, const QString &propName,
                                      const QString &elementName, const QString &value);
    static QString cleanPropertyName(const QString &propName);

    // Application and project lifecycle, running time, event watcher (KelUbcLifecycle.cpp)
    void openApp();
    void startApp();
    void closeApp();
    void newProject(const SOperation &op, const QMap<QString, QString> &attributes);
    void openProject(const SOperation &op);
    void saveProject(const SOperation &op);
    void closeProject(const SOperation &op);
    qint64 getProjRuningTime();
    void setProjRuningTime(qint64 time);
    void watch(QCoreApplication *app);
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Model-data statistics (KelUbcModelData.cpp)
    QMap<quint64, UBCMDStateInfo> getProjMDInfo() const;
    void setProjMDInfo(const QMap<quint64, UBCMDStateInfo> &states);
    void sendMDByEvent(quint64 code, UbcMDEventType type, bool startTiming,
                       const QString &key, const QString &value);
    void commitMD(quint64 code, const QString &key, const QString &value);
    void commitMDOnProjectClose();
    void markCommitted(qint64 key);

private:
    friend class KelUbc; // the facade's setters and pass-through write the texts

    static UbcDataProtocol newRecord();
    void logRecord(UbcDataProtocol &record, bool addLayer, bool addRegion, const QString *info);
    static void writeLog(const UbcDataProtocol &record, const QString &info);
    void handleMousePress(QObject *watched);
    void handleMouseMove();
    static void warnDictionaryUnusable(const QString &path, const QString &why);

    QSqlDatabase m_db;
    QHash<QString, FuncDictEntry> m_funcDict;
    QDateTime m_appStartTime;
    QDateTime m_projectOpenTime;
    QString m_projectId;
    QString m_location; // never null: "" when no label waits
    QString m_major;
    QString m_layer;
    QString m_region;
    QDateTime m_lastActivity;
    QMap<qint64, UBCMDStateInfo> m_mdStates;

    KelUbcHelperLink m_helperLink;
    qint64 m_clockOffsetMs = 0; // moved by advanceClockForTesting() only
};

#endif // KELUBCPRIVATE_H
