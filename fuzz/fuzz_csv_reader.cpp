// The dictionary CSV of ubc-dict: any bytes either fail with a line number or
// give records that, written out again with every text field quoted, read
// back the same, NULL (an empty unquoted field) and empty text kept apart.
// The dictionary form on top of it reads back its own canonical output.

#include "FuzzSupport.h"

#include <CsvReader.h>
#include <DictionaryCsv.h>

namespace {

QByteArray quoteAll(const QVector<CsvReader::Record> &records)
{
    QByteArray out;
    for (const CsvReader::Record &record : records) {
        for (int i = 0; i < record.fields.size(); ++i) {
            if (i)
                out += ',';
            const QString &field = record.fields[i];
            if (!field.isNull())
                out += '"' + field.toUtf8().replace('"', "\"\"") + '"';
        }
        out += "\r\n";
    }
    return out;
}

QString describe(const QVector<CsvReader::Record> &records)
{
    QStringList lines;
    for (const CsvReader::Record &record : records) {
        QStringList fields;
        for (const QString &field : record.fields)
            fields << (field.isNull() ? QStringLiteral("<null>") : QLatin1Char('[') + field + QLatin1Char(']'));
        lines << QString::number(record.line) + QLatin1Char(':') + fields.join(QLatin1Char(','));
    }
    return lines.join(QLatin1Char('\n'));
}

bool sameFields(const QVector<CsvReader::Record> &a, const QVector<CsvReader::Record> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].fields.size() != b[i].fields.size())
            return false;
        for (int k = 0; k < a[i].fields.size(); ++k) {
            if (a[i].fields[k] != b[i].fields[k] || a[i].fields[k].isNull() != b[i].fields[k].isNull())
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(bytes), int(size));
    CsvReader reader;
    if (!reader.parse(input)) {
        fuzz::check(reader.records().isEmpty() && reader.errorLine() >= 1
                        && reader.errorLine() <= input.count('\n') + input.count('\r') + 1
                        && !reader.errorString().isEmpty(),
                    "failure without a line and message", reader.errorString());
    } else {
        const QVector<CsvReader::Record> records = reader.records();
        int lastLine = 0;
        for (const CsvReader::Record &record : records) {
            fuzz::check(record.line > lastLine && !record.fields.isEmpty(), "record lines");
            lastLine = record.line;
        }
        CsvReader again;
        const QByteArray written = quoteAll(records);
        fuzz::check(again.parse(written), "own output rejected", again.errorString());
        fuzz::check(sameFields(records, again.records()), "round trip",
                    describe(records) + QStringLiteral("\n--\n") + describe(again.records()));
    }

    QVector<DictRow> rows;
    DictionaryCsv::Error error;
    if (DictionaryCsv::read(input, &rows, &error)) {
        const QByteArray canonical = DictionaryCsv::write(rows);
        QVector<DictRow> reread;
        fuzz::check(DictionaryCsv::read(canonical, &reread, &error), "canonical CSV rejected", error.message);
        fuzz::check(reread.size() == rows.size(), "dictionary row count");
        for (int i = 0; i < rows.size(); ++i) {
            for (int c = 0; c < DictRow::ColumnCount; ++c) {
                const QString &a = rows[i].values[size_t(c)];
                const QString &b = reread[i].values[size_t(c)];
                fuzz::check(a == b && a.isNull() == b.isNull(), "dictionary round trip", a + QStringLiteral(" / ") + b);
            }
        }
        fuzz::check(DictionaryCsv::write(reread) == canonical, "canonical form not stable");
    } else {
        fuzz::check(error.line >= 0 && !error.message.isEmpty(), "dictionary error without a message");
    }
    return 0;
}
