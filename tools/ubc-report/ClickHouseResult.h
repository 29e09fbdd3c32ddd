#ifndef CLICKHOUSERESULT_H
#define CLICKHOUSERESULT_H

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <cstdint>
#include <string>
#include <vector>

// A query's answer in FORMAT TSVWithNamesAndTypes, its values taken by column
// name. Kept as the body and the place of each value in it: read once, as
// the values are taken, with no tree of values in between.
class ClickHouseResult
{
public:
    static const char *format() { return "TSVWithNamesAndTypes"; }

    // False with *error when body is not such an answer (an error the server
    // met after it began to answer ends the body with a line of its own).
    bool parse(const QByteArray &body, QString *error);

    int rowCount() const { return m_columns ? int(m_fields.size() / m_columns) : 0; }
    // The index of a result column; -1, and listed in missing(), when the answer has none.
    int column(const char *name);
    QStringList missing() const { return m_missing; }

    int64_t number(int row, int column) const;
    uint64_t unsignedNumber(int row, int column) const; // seq: a derived one has the top bit set
    std::string text(int row, int column) const;

private:
    struct Field
    {
        int begin, size;
    };
    const char *field(int row, int column, int *size) const;

    QByteArray m_body;
    QStringList m_names, m_missing;
    size_t m_columns = 0;
    std::vector<Field> m_fields;    // row after row
};

#endif // CLICKHOUSERESULT_H
