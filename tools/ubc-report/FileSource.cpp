#include "FileSource.h"

#include "CodedJournal.h"
#include "LineReader.h"
#include "RecordAggregator.h"
#include "RecordLine.h"
#include "SeqSet.h"

#include <QtCore/QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <queue>
#include <unistd.h>
#ifdef Q_OS_WIN
// The logs are read byte for byte, never as text, and not inherited.
#define O_CLOEXEC (O_BINARY | O_NOINHERIT)
#endif

using namespace UbcReport;

namespace {

// A file opened for reading, closed with its scope.
class InputFile
{
public:
    explicit InputFile(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)), m_errno(errno) {}
    ~InputFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }
    int error() const { return m_errno; }

private:
    int m_fd;
    int m_errno;
};

QString errorText(const QString &path, int error)
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

class FileSourcePrivate
{
public:
    explicit FileSourcePrivate(const ReportFilter &f) : filter(f), journal(f) {}

    ReportFilter filter;
    FileSource::MalformedSink onMalformed;
    FileSource::Stats stats;
    QString error;
    QStringList files;
    RecordLine reader;
    RecordAggregator aggregator;
    CodedJournal journal;
    std::string timelineSession;
    std::vector<TimelineEvent> timeline;

    void malformed(int64_t &counter, int file, int64_t line, const char *why)
    {
        ++counter;
        if (onMalformed)
            onMalformed(files.value(file), line, why);
    }
    bool readLog(int file);
};

bool FileSourcePrivate::readLog(int file)
{
    const QString path = files[file];
    const InputFile input(path);
    if (input.fd() < 0) {
        error = errorText(path, input.error());
        return false;
    }
    LineReader lines(input.fd(), RecordLine::Padding);
    ReportRecord r;
    const bool ok = lines.forEachLine([&](const LineReader::Line &line) {
        ++stats.lines;
        if (line.size == 0)
            return;
        if (const char *why = reader.read(line.data, line.size, line.capacity, r)) {
            malformed(stats.malformed, file, line.number, why);
            return;
        }
        if (!filter.accepts(r.pcode, r.trigertime)) {
            ++stats.filtered;
            return;
        }
        if (aggregator.add(r, file, line.offset, line.next))
            ++stats.records;
        else
            ++stats.duplicates;
    });
    if (!ok)
        error = errorText(path, lines.error());
    return ok;
}

FileSource::FileSource(const ReportFilter &filter, MalformedSink onMalformed)
    : d(new FileSourcePrivate(filter))
{
    d->onMalformed = std::move(onMalformed);
}

FileSource::~FileSource() = default;

bool FileSource::readLogs(const QStringList &paths)
{
    for (const QString &path : paths) {
        d->files << path;
        if (!d->readLog(d->files.size() - 1))
            return false;
    }
    return true;
}

bool FileSource::readCoded(const QStringList &paths)
{
    for (const QString &path : paths) {
        d->files << path;
        const int file = d->files.size() - 1;
        const int64_t before = d->journal.lines();
        const bool ok = d->journal.read(path, [&](int64_t line) {
            d->malformed(d->stats.codedMalformed, file, line, "not a coded event");
        }, &d->error);
        d->stats.codedLines += d->journal.lines() - before;
        if (!ok)
            return false;
    }
    return true;
}

bool FileSource::readTimeline()
{
    std::string id;
    std::vector<RecordAggregator::FileRange> ranges;
    if (!d->aggregator.timelineSession(&id, &ranges))
        return true;
    d->timelineSession = id;
    // Lines of other sessions are passed over before parsing where the id needs no escaping.
    const bool plain = std::none_of(id.begin(), id.end(), [](char c) { return c == '"' || c == '\\' || uint8_t(c) < 0x20; });
    const std::string needle = "\"sessionid\":\"" + id + '"';
    // Skips ahead by up to the needle's length where find() would stop at every quote.
    const std::boyer_moore_horspool_searcher<std::string::const_iterator> search(needle.begin(), needle.end());

    // The first TimelineLimit events in the timeline's order; the last of them on top.
    std::priority_queue<TimelineEvent, std::vector<TimelineEvent>, decltype(&timelineBefore)> kept(&timelineBefore);
    SeqSet seen;
    ReportRecord r;
    for (const RecordAggregator::FileRange &range : ranges) {
        const QString path = d->files[range.file];
        const InputFile input(path);
        if (input.fd() < 0) {
            d->error = errorText(path, input.error());
            return false;
        }
        LineReader lines(input.fd(), RecordLine::Padding, range.begin, range.end);
        lines.forEachLine([&](const LineReader::Line &line) {
            if (plain && std::search(line.data, line.data + line.size, search) == line.data + line.size)
                return;
            if (d->reader.read(line.data, line.size, line.capacity, r) || r.sessionid != id
                || !d->filter.accepts(r.pcode, r.trigertime) || !seen.insert(r.seq))
                return;
            TimelineEvent e;
            e.seq = r.seq;
            e.trigertime = std::string(r.trigertime);
            e.code = std::string(r.fncode);
            e.name = std::string(r.fnname);
            e.kind = classify(r.fncode, r.fnname, r.hasLocation, r.attrCount, r.firstAttrKey);
            e.location = e.kind == Action ? locationOf(r.location) : NoLocation;
            if (kept.size() == TimelineLimit && timelineBefore(kept.top(), e))
                return;
            kept.push(std::move(e));
            if (kept.size() > TimelineLimit)
                kept.pop();
        });
    }
    d->timeline.resize(kept.size());
    for (size_t i = kept.size(); i-- > 0; kept.pop())
        d->timeline[i] = kept.top();
    return true;
}

Aggregates FileSource::aggregates() const
{
    Aggregates a;
    d->aggregator.fill(a);
    a.timelineSession = d->timelineSession;
    a.timeline = d->timeline;
    a.coded = d->journal.coded();
    a.saves = d->journal.saves();
    a.idleReturns = d->journal.idleReturns();
    return a;
}

FileSource::Stats FileSource::stats() const
{
    return d->stats;
}

QString FileSource::errorString() const
{
    return d->error;
}
