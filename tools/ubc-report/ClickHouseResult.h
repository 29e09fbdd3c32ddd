#ifndef CLICKHOUSERESULT_H
#define CLICKHOUSERESULT_H

#include <QtCore/QByteArray>
#include <QtCore/QJsonArray>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <cstdint>
#include <string>

// A query's answer in FORMAT JSONCompact, its values taken by column name.
class ClickHouseResult
{
public:
    // False with *error when body is not such an answer.
    bool parse(const QByteArray &body, QString *error);

    int rowCount() const { return int(m_rows.size()); }
    // The index of a result column; -1, and listed in missing(), when the answer has none.
    int column(const char *name);
    QStringList missing() const { return m_missing; }

    // 64-bit numbers come as text, smaller ones as JSON numbers.
    int64_t number(int row, int column) const;
    uint64_t unsignedNumber(int row, int column) const; // seq: a derived one has the top bit set
    std::string text(int row, int column) const;

private:
    QJsonValue value(int row, int column) const;

    QStringList m_names, m_missing;
    QJsonArray m_rows;
};

#endif // CLICKHOUSERESULT_H
