#include "DictionaryChecker.h"

#include <QHash>

QVector<DictionaryChecker::Finding> DictionaryChecker::check(const QVector<DictRow> &rows)
{
    QVector<Finding> findings;
    auto add = [&findings](Finding::Severity severity, int row, const QString &message) {
        findings << Finding{severity, row, message};
    };
    QHash<QString, int> firstRowOfCode;

    for (int r = 0; r < rows.size(); ++r) {
        const DictRow &row = rows.at(r);
        for (int column = 0; column < DictRow::ColumnCount; ++column) {
            if (row.values[column].contains(QChar(0)))
                add(Finding::Error, r, QStringLiteral("%1 holds a NUL character (U+0000); "
                                                      "build refuses it in a CSV file").arg(DictRow::columnName(column)));
        }
        const QString &code = row.values[DictRow::Code];
        if (code.isEmpty()) {
            add(Finding::Error, r, QStringLiteral("fncode is empty"));
        } else {
            const auto first = firstRowOfCode.constFind(code);
            if (first != firstRowOfCode.constEnd())
                add(Finding::Error, r, QStringLiteral("duplicate code \"%1\", first at %2")
                                           .arg(code, rows.at(first.value()).origin()));
            else
                firstRowOfCode.insert(code, r);
            if (code.trimmed() != code)
                add(Finding::Warning, r, QStringLiteral("code \"%1\" has blanks around it; "
                                                        "the library matches codes exactly").arg(code));
        }

        if (row.values[DictRow::Name].isEmpty())
            add(Finding::Warning, r, QStringLiteral("fnName is empty; the library logs nothing for this code"));

        for (int column : {DictRow::AddLayer, DictRow::AddRegion}) {
            const QString &flag = row.values[column];
            if (flag != QLatin1String("0") && flag != QLatin1String("1"))
                add(Finding::Error, r, QStringLiteral("%1 is %2, expected 0 or 1")
                                           .arg(DictRow::columnName(column),
                                                flag.isEmpty() ? QStringLiteral("empty")
                                                               : QLatin1Char('"') + flag + QLatin1Char('"')));
        }

        const QString &attrs = row.values[DictRow::AttrNames];
        if (!attrs.isEmpty()) {
            const QStringList parts = attrs.split(QLatin1Char(';'), Qt::KeepEmptyParts);
            for (int i = 0; i < parts.size(); ++i) {
                if (parts.at(i).isEmpty()) {
                    add(Finding::Warning, r, QStringLiteral("fnAttrName \"%1\" has an empty name at position %2 of %3")
                                                 .arg(attrs)
                                                 .arg(i + 1)
                                                 .arg(parts.size()));
                    break;
                }
            }
        }
    }
    return findings;
}

bool DictionaryChecker::hasErrors(const QVector<Finding> &findings)
{
    for (const Finding &f : findings) {
        if (f.severity == Finding::Error)
            return true;
    }
    return false;
}
