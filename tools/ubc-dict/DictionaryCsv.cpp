#include "DictionaryCsv.h"

#include "CsvReader.h"

namespace {

bool fail(DictionaryCsv::Error *error, int line, const QString &message)
{
    error->line = line;
    error->message = message;
    return false;
}

} // namespace

bool DictionaryCsv::read(const QByteArray &data, QVector<DictRow> *rows, Error *error)
{
    rows->clear();
    CsvReader reader;
    if (!reader.parse(data))
        return fail(error, reader.errorLine(), reader.errorString());
    const QVector<CsvReader::Record> records = reader.records();
    if (records.isEmpty())
        return fail(error, 1, QStringLiteral("no header row"));

    const QStringList expected = DictRow::columnNames();
    const CsvReader::Record &header = records.first();
    // position of each column in the file's rows
    std::array<int, DictRow::ColumnCount> position;
    position.fill(-1);
    for (int i = 0; i < header.fields.size(); ++i) {
        const int column = expected.indexOf(header.fields.at(i));
        if (column < 0)
            return fail(error, header.line,
                        QStringLiteral("unknown column \"%1\" in the header (expected %2)")
                            .arg(header.fields.at(i), expected.join(QLatin1String(", "))));
        if (position[column] >= 0)
            return fail(error, header.line,
                        QStringLiteral("column \"%1\" appears twice in the header").arg(expected.at(column)));
        position[column] = i;
    }
    for (int column = 0; column < DictRow::ColumnCount; ++column) {
        if (position[column] < 0)
            return fail(error, header.line,
                        QStringLiteral("column \"%1\" is missing from the header").arg(expected.at(column)));
    }

    QVector<DictRow> result;
    result.reserve(records.size() - 1);
    for (int r = 1; r < records.size(); ++r) {
        const CsvReader::Record &record = records.at(r);
        if (record.fields.size() != DictRow::ColumnCount)
            return fail(error, record.line,
                        QStringLiteral("row has %1 fields, the header has %2")
                            .arg(record.fields.size())
                            .arg(int(DictRow::ColumnCount)));
        DictRow row;
        row.line = record.line;
        for (int column = 0; column < DictRow::ColumnCount; ++column)
            row.values[column] = record.fields.at(position[column]);
        result << row;
    }
    *rows = result;
    return true;
}

QString DictionaryCsv::quoteField(const QString &field)
{
    if (field.isNull())
        return QString();
    if (field.isEmpty())
        return QStringLiteral("\"\"");
    static const QString special = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (const QChar c : field)
        quote = quote || special.contains(c);
    if (!quote)
        return field;
    QString doubled = field;
    doubled.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QByteArray DictionaryCsv::write(const QVector<DictRow> &rows)
{
    QString text = DictRow::columnNames().join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const DictRow &row : rows) {
        QStringList fields;
        for (const QString &value : row.values)
            fields << quoteField(value);
        text += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}
