#ifndef HELPERPROBE_H
#define HELPERPROBE_H

#include "Facade.h"

// A bare helper object that keeps what reaches its methods: "code",
// "code {k=v;...}", "time code". It never withdraws itself when destroyed.
class HelperProbe : public QObject
{
    Q_OBJECT
public:
    QStringList got;
    Q_INVOKABLE void sendData(quint64 code) { got << QString::number(code); }
    Q_INVOKABLE void sendData(quint64 code, const QMap<QString, QString> &attrs)
    {
        got << QStringLiteral("%1 {%2}").arg(code).arg(pairs(attrs));
    }
    Q_INVOKABLE void recordTime(quint64 code) { got << QStringLiteral("time %1").arg(code); }
};

#endif
