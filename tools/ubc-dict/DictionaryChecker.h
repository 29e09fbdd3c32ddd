#pragma once

#include "DictRow.h"

#include <QVector>

// Judges dictionary rows the way the library will use them. Errors are what
// `build` refuses (an empty or duplicate code, a flag other than 0 or 1);
// warnings are rows the library reads but that will not log what was meant.
class DictionaryChecker
{
public:
    struct Finding
    {
        enum Severity { Warning, Error };
        Severity severity = Warning;
        int row = 0; // index into the checked rows
        QString message;
    };

    static QVector<Finding> check(const QVector<DictRow> &rows);
    static bool hasErrors(const QVector<Finding> &findings);
};
