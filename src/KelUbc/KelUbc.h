#ifndef KELUBC_H
#define KELUBC_H

#include "KelUbcGlobal.h"

#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>

// What the host tells about a project.
struct KELUBC_EXPORT SOperation
{
    QString prjFullPath;
    qint64 prjReserved = 0; // free for the host; the library never reads it
    int prjEdoCnt = 0;
    qint64 prjSize = 0;
    QString projectId;
};

// The type of a model-data statistic's last event.
enum UbcMDEventType : qint32 {
    UbcMDEventNone = 0,         // held, never sent
    UbcMDEventCommit = 1,       // waits for commitMD
    UbcMDEventProjectClose = 2  // sent when the project closes
};

// The state of one model-data statistic.
struct KELUBC_EXPORT UBCMDStateInfo
{
    UBCMDStateInfo();
    UBCMDStateInfo(const UBCMDStateInfo &other);
    UBCMDStateInfo(UBCMDStateInfo &&other) noexcept;
    UBCMDStateInfo &operator=(const UBCMDStateInfo &other);
    UBCMDStateInfo &operator=(UBCMDStateInfo &&other) noexcept;
    ~UBCMDStateInfo();

    quint64 code;
    int state;      // a UbcMDEventType value
    int committed;  // 1 once sent
    qint64 startTime; // project working time (ms) when timing began; negative: never
    QMap<QString, QString> attrs;
};

class KelUbcPrivate;

// The facade. Reach it through instance() once the application object exists,
// and call it from the GUI thread.
class KELUBC_EXPORT KelUbc
{
public:
    static KelUbc *instance();

    KelUbc();
    ~KelUbc();

    // Application lifecycle
    void openApp();
    void startApp();
    void closeApp();

    // Project lifecycle
    void newProject(const SOperation &op, const QMap<QString, QString> &attributes);
    void openProject(const SOperation &op);
    void saveProject(const SOperation &op);
    void closeProject(const SOperation &op);

    // Named events: the code is looked up in the function dictionary
    void send(const QString &fncode);
    void send(const QString &fncode, const QString &value);
    void send(const QString &fncode, const QMap<QString, QString> &attrs);
    void send(const QString &fncode, const QStringList &values);

    // Coded events for the host's helper object "RuvUbcHelper"
    // A "layer" or "Layer" key carries the current layer to the helper; this
    // form writes that back into the caller's map, the const one does not
    // (it takes a braced list: send(code, {{"k", "v"}})).
    void send(quint64 code, QMap<QString, QString> &attributes);
    void send(quint64 code, const QMap<QString, QString> &attributes);
    void send(quint64 code, const QString &key, const QString &value, const bool &addLayer);
    void send(quint64 code, const bool &addLayer);
    void recordTime(quint64 code);

    // Executed actions and property edits
    void sendActionExecute(const QString &fncode, const QString &fnname, bool byShortcut);
    void sendElementPropValueModified(const QString &fncode, const QString &propName,
                                      const QString &elementName, const QString &value);

    // Project working time, in milliseconds
    qint64 getProjRuningTime();
    void setProjRuningTime(qint64 time);

    // Model-data statistics
    QMap<quint64, UBCMDStateInfo> getProjMDInfo();
    void setProjMDInfo(QMap<quint64, UBCMDStateInfo> states);
    void sendMDByEvent(quint64 code, UbcMDEventType type, bool startTiming,
                       QString &key, QString &value);
    void commitMD(quint64 code, QString &key, QString &value, bool flag);

    // Behaviour-log pass-through
    void lock();
    void unLock();
    void setLogFilePath(const QString &path);
    void addLogFilePath(const QString &path);

    // Current texts
    void setCurLayer(const QString &layer);
    void setCurMajor(const QString &major);
    void setCurRegion(const QString &region);

private:
    Q_DISABLE_COPY(KelUbc)
    Q_DECLARE_PRIVATE(KelUbc)
    KelUbcPrivate *d_ptr;
};

#endif // KELUBC_H
