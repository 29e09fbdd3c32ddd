#ifndef FILESOURCE_H
#define FILESOURCE_H

#include "ReportData.h"
#include "ReportFilter.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <functional>
#include <memory>

// Reads record logs (JSON lines as RuvUbc writes them) and the helper's coded
// event journals into Aggregates, streaming: memory grows with the distinct
// sessions, codes, projects and days, not with the records. Malformed lines
// are counted and handed to the sink, then skipped.
class FileSource
{
public:
    struct Stats
    {
        int64_t lines = 0, records = 0, malformed = 0, duplicates = 0, filtered = 0;
        int64_t codedLines = 0, codedMalformed = 0;
    };
    using MalformedSink = std::function<void(const QString &file, int64_t line, const char *why)>;

    explicit FileSource(const ReportFilter &filter, MalformedSink onMalformed = {});
    ~FileSource();

    // False with errorString() when a file cannot be read; what was read stays counted.
    bool readLogs(const QStringList &paths);
    bool readCoded(const QStringList &paths);
    // Picks the session shown as a timeline and reads its records again.
    bool readTimeline();

    UbcReport::Aggregates aggregates() const;
    Stats stats() const;
    QString errorString() const;

private:
    std::unique_ptr<class FileSourcePrivate> d;
};

#endif // FILESOURCE_H
