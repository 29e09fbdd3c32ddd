#include "CodedJournal.h"

#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

#include <algorithm>

using namespace UbcReport;

CodedJournal::CodedJournal(const ReportFilter &filter) : m_filter(filter) {}

bool CodedJournal::read(const QString &path, const std::function<void(int64_t)> &malformed, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    int64_t lineNo = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        ++lineNo;
        ++m_lines;
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QString time = o.value(QLatin1String("time")).toString();
        const QString code = o.value(QLatin1String("code")).toString();
        const QJsonValue attrs = o.value(QLatin1String("attrs"));
        if (time.size() < 10 || code.isEmpty() || !(attrs.isObject() || attrs.isNull())) {
            malformed(lineNo);
            continue;
        }
        if (!m_filter.acceptsDay(time.left(10).toStdString()))
            continue;
        if (code == QLatin1String("580101004")) {
            ++m_saves;
        } else if (code == QLatin1String("580101002")) {
            ++m_idleReturns;
        } else if (code != QLatin1String("580101003")) {
            CodedAgg &c = m_coded[code.toStdString()];
            ++c.count;
            const QJsonValue tjsc = attrs.toObject().value(QLatin1String("tjsc"));
            if (tjsc.isString()) {
                const int64_t seconds = toInt64OrZero(tjsc.toString().toStdString());
                ++c.timed;
                c.totalSeconds += seconds;
                c.maxSeconds = std::max(c.maxSeconds, seconds);
            }
        }
    }
    return true;
}
