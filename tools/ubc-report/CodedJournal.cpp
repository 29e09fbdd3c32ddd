#include "CodedJournal.h"

#include <RecordFormat/JournalLineReader.h>
#include <RecordFormat/RecordCodes.h>

#include <QtCore/QFile>

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
    JournalLineReader reader;
    JournalEvent e;
    int64_t lineNo = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        ++lineNo;
        ++m_lines;
        if (line.isEmpty())
            continue;
        if (reader.read(std::string_view(line.constData(), size_t(line.size())), e)) {
            malformed(lineNo);
            continue;
        }
        // A line without a product is the desktop's, whichever it is.
        if (!m_filter.acceptsDay(e.time.substr(0, 10))
            || (m_filter.byProduct && !e.pcode.empty() && e.pcode != m_filter.product))
            continue;
        if (e.code == RecordCodes::EditCountText) {
            ++m_saves;
        } else if (e.code == RecordCodes::IdleText) {
            ++m_idleReturns;
        } else if (e.code != RecordCodes::ActiveText) {
            CodedAgg &c = m_coded[std::string(e.code)];
            ++c.count;
            if (const RecordAttr *tjsc = e.attr("tjsc")) {
                const int64_t seconds = toInt64OrZero(tjsc->value);
                ++c.timed;
                c.totalSeconds += seconds;
                c.maxSeconds = std::max(c.maxSeconds, seconds);
            }
        }
    }
    return true;
}
