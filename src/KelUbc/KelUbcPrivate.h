#ifndef KELUBCPRIVATE_H
#define KELUBCPRIVATE_H

//
//  W A R N I N G
//  -------------
// Not part of the public API; may change from version to version.
//

#include "KelUbc.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtSql/QSqlDatabase>

struct UbcDataProtocol;

// One cached row of the function dictionary.
struct FuncDictEntry
{
    QString fnName;
    QString fnGroup;
    QString fnAttrName;
    bool fnAddLayer = false;
    bool fnAddRegion = false;
};

// Owns all state of the library and watches the application's events.
// No Q_OBJECT: it needs no signals, slots or meta-object of its own.
class KelUbcPrivate : public QObject
{
public:
    KelUbcPrivate();
    ~KelUbcPrivate() override;

    static KelUbcPrivate *get(KelUbc *q) { return q->d_func(); }

    // The labels that records and locations carry, as GBK source texts.
    enum Label {
        LabelSpecialFunction, LabelStartApp, LabelOpenApp, LabelCloseApp,
        LabelOpenProject, LabelNewProject, LabelSaveProject, LabelCloseProject,
        LabelRibbonToolbar, LabelContextMenu, LabelViewPanel, LabelShortcut,
        LabelRibbonQuickBar, LabelProperty,
        LabelCount
    };
    // Handed to translate() as they stand; the host's translator decodes them.
    static constexpr const char *labelSources[LabelCount] = {
        "\xcc\xd8\xca\xe2\xb9\xa6\xc4\xdc", // 特殊功能
        "\xc6\xf4\xb6\xaf\xc8\xed\xbc\xfe", // 启动软件
        "\xb4\xf2\xbf\xaa\xc8\xed\xbc\xfe", // 打开软件
        "\xb9\xd8\xb1\xd5\xc8\xed\xbc\xfe", // 关闭软件
        "\xb4\xf2\xbf\xaa\xb9\xa4\xb3\xcc", // 打开工程
        "\xd0\xc2\xbd\xa8\xb9\xa4\xb3\xcc", // 新建工程
        "\xb1\xa3\xb4\xe6\xb9\xa4\xb3\xcc", // 保存工程
        "\xb9\xd8\xb1\xd5\xb9\xa4\xb3\xcc", // 关闭工程
        "Ribbon\xb9\xa4\xbe\xdf\xc0\xb8", // Ribbon工具栏
        "\xd3\xd2\xbc\xfc", // 右键
        "\xca\xd3\xcd\xbc\xc3\xe6\xb0\xe5", // 视图面板
        "\xbf\xec\xbd\xdd\xbc\xfc", // 快捷键
        "Ribbon\xbf\xec\xbd\xdd\xc0\xb8", // Ribbon快捷栏
        "\xca\xf4\xd0\xd4", // 属性
    };
    static const char *labelSource(Label label) { return labelSources[label]; }
    static QString label(Label label)
    {
        return QCoreApplication::translate("KelUbc", labelSource(label), nullptr, -1);
    }

    // Time stamps are taken in UTC: whole-second differences are the same as
    // in local time, and reading the local zone costs microseconds per call.
    static QDateTime now() { return QDateTime::currentDateTimeUtc(); }

    // A fresh record as the behaviour log initialises it, attributes emptied.
    static UbcDataProtocol newRecord();
    // Common logging steps and the info line (KelUbcPrivate.cpp)
    void logRecord(UbcDataProtocol &record, bool addLayer, bool addRegion);
    void writeLog(const UbcDataProtocol &record);

    // Function dictionary and named events (KelUbcCore.cpp)
    QHash<QString, FuncDictEntry>::iterator findFuncDictEntry(const QString &fncode);
    void send(const QString &fncode, const QMap<QString, QString> &attrs);
    void send(const QString &fncode, const QStringList &values);

    // Coded events, executed actions and property edits (KelUbcActions.cpp)
    void send(quint64 code, QMap<QString, QString> &attributes);
    void applyLayerRule(QMap<QString, QString> &attributes) const;
    void send(quint64 code, const QString &key, const QString &value, bool addLayer);
    void send(quint64 code, bool addLayer);
    static QObject *ubcHelper();
    static void helperSendData(quint64 code);
    static void helperSendData(quint64 code, const QMap<QString, QString> &attributes);
    static void helperRecordTime(quint64 code);
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
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Model-data statistics (KelUbcModelData.cpp)
    QMap<quint64, UBCMDStateInfo> getProjMDInfo() const;
    void setProjMDInfo(const QMap<quint64, UBCMDStateInfo> &states);
    void sendMDByEvent(quint64 code, UbcMDEventType type, bool startTiming,
                       const QString &key, const QString &value);
    void commitMD(quint64 code, const QString &key, const QString &value);
    void commitMDOnProjectClose();
    void markCommitted(qint64 key);

    QSqlDatabase m_db;
    QHash<QString, FuncDictEntry> m_funcDict;
    QDateTime m_appStartTime;
    QDateTime m_projectOpenTime;
    QString m_projectId;
    QString m_location;
    QString m_major;
    QString m_layer;
    QString m_region;
    QDateTime m_lastActivity;
    QMap<qint64, UBCMDStateInfo> m_mdStates;

private:
    void handleMousePress(QObject *watched);
    void handleMouseMove();
};

#endif // KELUBCPRIVATE_H
