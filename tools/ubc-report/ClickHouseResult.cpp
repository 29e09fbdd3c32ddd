#include "ClickHouseResult.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

bool ClickHouseResult::parse(const QByteArray &body, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("ClickHouse answered something that is not JSON: %1").arg(parseError.errorString());
        return false;
    }
    m_names.clear();
    for (const QJsonValue &c : doc.object().value(QLatin1String("meta")).toArray())
        m_names << c.toObject().value(QLatin1String("name")).toString();
    m_rows = doc.object().value(QLatin1String("data")).toArray();
    return true;
}

int ClickHouseResult::column(const char *name)
{
    const int i = int(m_names.indexOf(QLatin1String(name)));
    if (i < 0)
        m_missing << QLatin1String(name);
    return i;
}

QJsonValue ClickHouseResult::value(int row, int column) const
{
    return column < 0 ? QJsonValue() : m_rows.at(row).toArray().at(column);
}

int64_t ClickHouseResult::number(int row, int column) const
{
    const QJsonValue v = value(row, column);
    return v.isString() ? v.toString().toLongLong() : int64_t(v.toDouble());
}

uint64_t ClickHouseResult::unsignedNumber(int row, int column) const
{
    const QJsonValue v = value(row, column);
    return v.isString() ? v.toString().toULongLong() : uint64_t(v.toDouble());
}

std::string ClickHouseResult::text(int row, int column) const
{
    return value(row, column).toString().toStdString();
}
