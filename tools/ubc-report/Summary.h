#ifndef SUMMARY_H
#define SUMMARY_H

#include "ReportData.h"
#include "ReportFilter.h"

#include <QtCore/QJsonObject>
#include <QtCore/QString>

// Turns Aggregates into the report's summary: the numbers the text, JSON and
// HTML outputs show, sorted and with their shares.
class Summary
{
public:
    struct Options
    {
        ReportFilter filter;
        QString dictionary;     // KelUbc.db, or empty
        QString language;       // "zh", "en", or empty to follow the records
    };

    // False with *error when the dictionary cannot be read.
    static bool build(const UbcReport::Aggregates &aggregates, const Options &options,
                      QJsonObject *summary, QString *error);
};

#endif // SUMMARY_H
