#ifndef CODEDJOURNAL_H
#define CODEDJOURNAL_H

#include "ReportData.h"
#include "ReportFilter.h"

#include <QtCore/QString>

#include <functional>
#include <map>
#include <string>

// Counts the host helper's journal of coded events: the statistics sent with
// their durations, the saves and the returns from idle, within the filter's days
// (and product, for lines that name one).
class CodedJournal
{
public:
    explicit CodedJournal(const ReportFilter &filter);

    // False with *error when the file cannot be read; malformed(lineNumber)
    // for each line that is not a coded event.
    bool read(const QString &path, const std::function<void(int64_t)> &malformed, QString *error);

    int64_t lines() const { return m_lines; }
    const std::map<std::string, UbcReport::CodedAgg> &coded() const { return m_coded; }
    int64_t saves() const { return m_saves; }
    int64_t idleReturns() const { return m_idleReturns; }

private:
    ReportFilter m_filter;
    int64_t m_lines = 0, m_saves = 0, m_idleReturns = 0;
    std::map<std::string, UbcReport::CodedAgg> m_coded;
};

#endif // CODEDJOURNAL_H
