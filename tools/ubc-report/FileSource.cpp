#include "FileSource.h"

#include "SeqSet.h"

#include <QtCore/QFile>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <queue>
#include <unistd.h>
#include <unordered_map>
#ifdef Q_OS_WIN
// The logs are read byte for byte, never as text, and not inherited.
#define O_CLOEXEC (O_BINARY | O_NOINHERIT)
#endif
#include <unordered_set>

using namespace UbcReport;
namespace od = simdjson::ondemand;

namespace {

// The fields of one record that the report reads; views into the parser's buffers.
struct RawRecord
{
    std::string_view pcode, fncode, fnname, fngroup, trigertime, hardwareid, ver, projectid,
        prjfullpath, prjedocnt, prjsize, duration, sessionid, location, firstAttrKey;
    uint64_t seq = 0;
    int attrCount = 0;
    bool hasLocation = false;
};

template<size_t N>
bool keyIs(const char *raw, const char (&name)[N])
{
    // raw points into a padded buffer, so reading N bytes past a short key is safe.
    return std::memcmp(raw, name, N - 1) == 0 && raw[N - 1] == '"';
}

// Parses one line; returns null or the reason it is malformed.
const char *parseRecord(od::parser &parser, const char *line, size_t len, size_t capacity,
                        RawRecord &r)
{
    r = RawRecord();
    od::document doc;
    if (parser.iterate(line, len, capacity).get(doc))
        return "not JSON";
    od::object obj;
    if (doc.get_object().get(obj))
        return "not a JSON object";
    bool haveSeq = false, haveSession = false, haveCode = false, haveTime = false;
    for (auto item : obj) {
        if (item.error())
            return "broken JSON";
        od::field field = item.value_unsafe();
        const char *k = field.key().raw();
        od::value v = field.value();
        std::string_view *target = nullptr;
        switch (k[0]) {
        case 'p':
            if (keyIs(k, "pcode")) target = &r.pcode;
            else if (keyIs(k, "projectid")) target = &r.projectid;
            else if (keyIs(k, "prjfullpath")) target = &r.prjfullpath;
            else if (keyIs(k, "prjedocnt")) target = &r.prjedocnt;
            else if (keyIs(k, "prjsize")) target = &r.prjsize;
            break;
        case 'f':
            if (keyIs(k, "fncode")) { target = &r.fncode; haveCode = true; }
            else if (keyIs(k, "fnname")) target = &r.fnname;
            else if (keyIs(k, "fngroup")) target = &r.fngroup;
            break;
        case 't':
            if (keyIs(k, "trigertime")) { target = &r.trigertime; haveTime = true; }
            break;
        case 'h':
            if (keyIs(k, "hardwareid")) target = &r.hardwareid;
            break;
        case 'v':
            if (keyIs(k, "ver")) target = &r.ver;
            break;
        case 'd':
            if (keyIs(k, "duration")) target = &r.duration;
            break;
        case 's':
            if (keyIs(k, "sessionid")) {
                target = &r.sessionid;
                haveSession = true;
            } else if (keyIs(k, "seq")) {
                if (v.get_uint64().get(r.seq) || r.seq == 0)
                    return "seq is not a positive integer";
                haveSeq = true;
            }
            break;
        case 'a':
            if (keyIs(k, "attrs")) {
                od::object attrs;
                if (v.get_object().get(attrs))
                    return "attrs is not an object";
                for (auto attrItem : attrs) {
                    if (attrItem.error())
                        return "broken JSON in attrs";
                    od::field attr = attrItem.value_unsafe();
                    std::string_view key, value;
                    if (attr.unescaped_key().get(key) || attr.value().get_string().get(value))
                        return "attrs holds a value that is not a string";
                    if (r.attrCount++ == 0)
                        r.firstAttrKey = key;
                    if (key == "location") {
                        r.hasLocation = true;
                        r.location = value;
                    }
                }
            }
            break;
        default:
            break;
        }
        if (target && v.get_string().get(*target))
            return "a field is not a string";
    }
    if (!doc.current_location().error())
        return "text after the record";
    if (!haveCode || !haveSession || !haveTime)
        return "fncode, sessionid or trigertime missing";
    if (!haveSeq)
        return "seq missing";
    return nullptr;
}

// Strings to dense indices, without allocating to look one up.
class Interner
{
public:
    uint32_t id(std::string_view s, bool *added = nullptr)
    {
        auto it = m_ids.find(s);
        if (added)
            *added = it == m_ids.end();
        if (it != m_ids.end())
            return it->second;
        m_strings.emplace_back(s);
        const uint32_t n = uint32_t(m_strings.size() - 1);
        m_ids.emplace(m_strings.back(), n);
        return n;
    }
    const std::string &text(uint32_t id) const { return m_strings[id]; }
    size_t size() const { return m_strings.size(); }

private:
    std::deque<std::string> m_strings; // stable addresses for the views in m_ids
    std::unordered_map<std::string_view, uint32_t> m_ids;
};

struct FileRange
{
    int file;
    int64_t begin, end;
};

struct SessionState
{
    SessionAgg agg;
    SeqSet seqs;
    std::vector<FileRange> ranges; // where its lines are, for the timeline
    bool machineSet = false, verSet = false;
};

struct CodeState
{
    CodeAgg agg;
    bool named = false;
};

struct LabelState
{
    int64_t count = 0;
    Location location = NoLocation;
};

uint64_t pairKey(uint32_t a, uint32_t b)
{
    return (uint64_t(a) << 32) | b;
}

void keepMin(std::string &kept, bool &set, std::string_view value)
{
    if (!set || value < kept) {
        kept.assign(value.data(), value.size());
        set = true;
    }
}

// Reads a file in large blocks and hands out its lines with their numbers and
// offsets; every line is followed by at least SIMDJSON_PADDING readable bytes.
class LineReader
{
public:
    explicit LineReader(int fd, int64_t begin = 0, int64_t end = -1)
        : m_fd(fd), m_offset(begin), m_end(end)
    {
        m_buffer.resize(BlockSize + simdjson::SIMDJSON_PADDING);
        if (begin > 0 && lseek(fd, begin, SEEK_SET) < 0)
            m_error = errno;
    }
    int error() const { return m_error; }

    // Calls f(line, length, capacity, lineNo, offset, next): offsets of the line and of the one after it.
    template<typename F>
    bool forEachLine(F f)
    {
        size_t have = 0;
        int64_t lineNo = 0;
        bool eof = false;
        while (!eof && !m_error) {
            const size_t room = m_buffer.size() - simdjson::SIMDJSON_PADDING - have;
            size_t want = room;
            if (m_end >= 0)
                want = size_t(std::max<int64_t>(0, std::min<int64_t>(int64_t(room), m_end - m_offset - int64_t(have))));
            ssize_t n = want ? ::read(m_fd, m_buffer.data() + have, want) : 0;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                m_error = errno;
                return false;
            }
            eof = n == 0;
            have += size_t(n);
            size_t pos = 0;
            const char *base = m_buffer.data();
            for (;;) {
                const void *nl = std::memchr(base + pos, '\n', have - pos);
                if (!nl && !(eof && pos < have))
                    break;
                const size_t stop = nl ? size_t(static_cast<const char *>(nl) - base) : have;
                size_t len = stop - pos;
                if (len && base[pos + len - 1] == '\r')
                    --len;
                ++lineNo;
                const size_t next = nl ? stop + 1 : have;
                f(base + pos, len, m_buffer.size() - pos, lineNo, m_offset + int64_t(pos),
                  m_offset + int64_t(next));
                pos = next;
            }
            std::memmove(m_buffer.data(), base + pos, have - pos);
            m_offset += int64_t(pos);
            have -= pos;
            if (have == m_buffer.size() - simdjson::SIMDJSON_PADDING) // a line longer than the block
                m_buffer.resize(m_buffer.size() * 2);
        }
        return !m_error;
    }

private:
    static constexpr size_t BlockSize = 8 << 20;
    int m_fd;
    int64_t m_offset;   // file offset of m_buffer[0]
    int64_t m_end;
    int m_error = 0;
    std::vector<char> m_buffer;
};

} // namespace

class FileSourcePrivate
{
public:
    ReportFilter filter;
    FileSource::MalformedSink onMalformed;
    FileSource::Stats stats;
    QString error;
    QStringList files;
    od::parser parser;

    Interner sessionIds, machines, codes, labels, properties, projects, days;
    std::vector<SessionState> sessions;
    std::vector<CodeState> codeStates;
    std::vector<LabelState> labelStates;
    std::vector<int64_t> propertyCounts;
    std::vector<ProjectAgg> projectAggs;
    std::vector<DayAgg> dayAggs;
    std::unordered_set<uint64_t> daySessions;                       // (day, session)
    std::unordered_map<uint64_t, std::pair<int64_t, int64_t>> machineCodes; // actions, shortcuts

    uint32_t lastSession = UINT32_MAX;
    std::string lastSessionId;

    std::map<std::string, CodedAgg> coded;
    int64_t saves = 0, idleReturns = 0;
    std::string timelineSession;
    std::vector<TimelineEvent> timeline;

    void malformed(int64_t &counter, int file, int64_t line, const char *why)
    {
        ++counter;
        if (onMalformed)
            onMalformed(files.value(file), line, why);
    }
    void add(const RawRecord &r, int file, int64_t begin, int64_t end);
    bool readLog(int file);
};

void FileSourcePrivate::add(const RawRecord &r, int file, int64_t begin, int64_t end)
{
    uint32_t s;
    if (lastSession != UINT32_MAX && r.sessionid == lastSessionId) {
        s = lastSession;
    } else {
        bool added;
        s = sessionIds.id(r.sessionid, &added);
        if (added)
            sessions.emplace_back();
        lastSession = s;
        lastSessionId.assign(r.sessionid.data(), r.sessionid.size());
    }
    SessionState &session = sessions[s];
    if (!session.seqs.insert(r.seq)) {
        ++stats.duplicates;
        return;
    }
    ++stats.records;
    if (session.ranges.empty() || session.ranges.back().file != file)
        session.ranges.push_back({file, begin, end});
    else
        session.ranges.back().end = end;

    int64_t ms = 0;
    parseTrigerTime(r.trigertime, &ms); // checked by the caller
    SessionAgg &sa = session.agg;
    const int64_t sec = secondsOf(ms);
    sa.firstSec = std::min(sa.firstSec, sec);
    sa.lastSec = std::max(sa.lastSec, sec);
    ++sa.records;
    keepMin(sa.machine, session.machineSet, r.hardwareid);
    keepMin(sa.ver, session.verSet, r.ver);

    const RecordKind kind = classify(r.fncode, r.fnname, r.hasLocation, r.attrCount, r.firstAttrKey);
    bool added;
    const uint32_t c = codes.id(r.fncode, &added);
    if (added)
        codeStates.emplace_back();
    CodeState &code = codeStates[c];
    if (kind != PropertyEdit)
        keepMin(code.agg.name, code.named, r.fnname);
    if (!r.fngroup.empty() && r.fngroup != "null" && (code.agg.group.empty() || r.fngroup < code.agg.group))
        code.agg.group.assign(r.fngroup.data(), r.fngroup.size());

    const uint32_t day = days.id(r.trigertime.substr(0, 10), &added);
    if (added)
        dayAggs.emplace_back();
    DayAgg &da = dayAggs[day];
    ++da.records;
    if (daySessions.insert(pairKey(day, s)).second)
        ++da.sessions;

    switch (kind) {
    case Lifecycle: {
        ++code.agg.lifecycle;
        const char last = r.fncode[5];
        if (last == '2') {
            sa.closeSeconds = std::max(sa.closeSeconds, toInt64OrZero(r.duration));
        } else if (last >= '3' && last <= '6') {
            const uint32_t p = projects.id(r.projectid, &added);
            if (added)
                projectAggs.emplace_back();
            ProjectAgg &pa = projectAggs[p];
            if (r.prjfullpath > std::string_view(pa.path))
                pa.path.assign(r.prjfullpath.data(), r.prjfullpath.size());
            pa.news += last == '3';
            pa.opens += last == '4';
            pa.saves += last == '5';
            pa.closes += last == '6';
            if (last == '6')
                pa.openSeconds += toInt64OrZero(r.duration);
            pa.edits = std::max(pa.edits, toInt64OrZero(r.prjedocnt));
            pa.sizeKB = std::max(pa.sizeKB, toInt64OrZero(r.prjsize));
        }
        break;
    }
    case Action: {
        ++code.agg.actions;
        ++sa.actions;
        ++da.actions;
        const uint32_t l = labels.id(r.location, &added);
        if (added) {
            labelStates.emplace_back();
            labelStates.back().location = locationOf(r.location);
        }
        ++labelStates[l].count;
        const Location where = labelStates[l].location;
        ++code.agg.byLocation[where];
        const bool shortcut = where == Shortcut;
        sa.shortcuts += shortcut;
        auto &mc = machineCodes[pairKey(machines.id(r.hardwareid), c)];
        ++mc.first;
        mc.second += shortcut;
        break;
    }
    case PropertyEdit: {
        ++code.agg.edits;
        const uint32_t p = properties.id(r.firstAttrKey, &added);
        if (added)
            propertyCounts.push_back(0);
        ++propertyCounts[p];
        break;
    }
    case NamedEvent:
        ++code.agg.events;
        break;
    }
}

bool FileSourcePrivate::readLog(int file)
{
    const QString path = files[file];
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    LineReader reader(fd);
    RawRecord r;
    const bool ok = reader.forEachLine([&](const char *line, size_t len, size_t capacity,
                                           int64_t lineNo, int64_t offset, int64_t next) {
        ++stats.lines;
        if (len == 0)
            return;
        const char *why = parseRecord(parser, line, len, capacity, r);
        int64_t ms;
        if (!why && !parseTrigerTime(r.trigertime, &ms))
            why = "trigertime is not a date and time";
        if (why) {
            malformed(stats.malformed, file, lineNo, why);
            return;
        }
        if (!filter.accepts(r.pcode, r.trigertime)) {
            ++stats.filtered;
            return;
        }
        add(r, file, offset, next);
    });
    if (!ok)
        error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(reader.error())));
    ::close(fd);
    return ok;
}

FileSource::FileSource(const ReportFilter &filter, MalformedSink onMalformed)
    : d(new FileSourcePrivate)
{
    d->filter = filter;
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
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            d->error = QStringLiteral("%1: %2").arg(path, f.errorString());
            return false;
        }
        d->files << path;
        int64_t lineNo = 0;
        while (!f.atEnd()) {
            const QByteArray line = f.readLine().trimmed();
            ++lineNo;
            ++d->stats.codedLines;
            if (line.isEmpty())
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            const QString time = o.value(QLatin1String("time")).toString();
            const QString code = o.value(QLatin1String("code")).toString();
            const QJsonValue attrs = o.value(QLatin1String("attrs"));
            if (time.size() < 10 || code.isEmpty() || !(attrs.isObject() || attrs.isNull())) {
                d->malformed(d->stats.codedMalformed, d->files.size() - 1, lineNo, "not a coded event");
                continue;
            }
            if (!d->filter.acceptsDay(time.left(10).toStdString()))
                continue;
            if (code == QLatin1String("580101004")) {
                ++d->saves;
            } else if (code == QLatin1String("580101002")) {
                ++d->idleReturns;
            } else if (code != QLatin1String("580101003")) {
                CodedAgg &c = d->coded[code.toStdString()];
                ++c.count;
                const QJsonValue tjsc = attrs.toObject().value(QLatin1String("tjsc"));
                if (tjsc.isString()) {
                    const int64_t seconds = toInt64OrZero(tjsc.toString().toStdString());
                    ++c.timed;
                    c.totalSeconds += seconds;
                    c.maxSeconds = std::max(c.maxSeconds, seconds);
                }
            }
        }
    }
    return true;
}

bool FileSource::readTimeline()
{
    // The session with the most records; the smallest id among equals.
    int64_t best = -1;
    uint32_t chosen = 0;
    for (uint32_t s = 0; s < d->sessions.size(); ++s) {
        const int64_t n = d->sessions[s].agg.records;
        if (n > best || (n == best && d->sessionIds.text(s) < d->sessionIds.text(chosen))) {
            best = n;
            chosen = s;
        }
    }
    if (best < 0)
        return true;
    const std::string id = d->sessionIds.text(chosen);
    d->timelineSession = id;
    // Lines of other sessions are passed over before parsing where the id needs no escaping.
    const bool plain = std::none_of(id.begin(), id.end(), [](char c) { return c == '"' || c == '\\' || uint8_t(c) < 0x20; });
    const std::string needle = "\"sessionid\":\"" + id + '"';

    auto later = [](const TimelineEvent &a, const TimelineEvent &b) { return a.seq < b.seq; };
    std::priority_queue<TimelineEvent, std::vector<TimelineEvent>, decltype(later)> kept(later);
    SeqSet seen;
    RawRecord r;
    for (const FileRange &range : d->sessions[chosen].ranges) {
        const QString path = d->files[range.file];
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            d->error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        LineReader reader(fd, range.begin, range.end);
        reader.forEachLine([&](const char *line, size_t len, size_t capacity, int64_t, int64_t, int64_t) {
            if (plain && std::string_view(line, len).find(needle) == std::string_view::npos)
                return;
            if (parseRecord(d->parser, line, len, capacity, r) || r.sessionid != id)
                return;
            int64_t ms;
            if (!parseTrigerTime(r.trigertime, &ms) || !d->filter.accepts(r.pcode, r.trigertime)
                || !seen.insert(r.seq))
                return;
            if (kept.size() == TimelineLimit && r.seq > kept.top().seq)
                return;
            TimelineEvent e;
            e.seq = r.seq;
            e.trigertime = std::string(r.trigertime);
            e.code = std::string(r.fncode);
            e.name = std::string(r.fnname);
            e.kind = classify(r.fncode, r.fnname, r.hasLocation, r.attrCount, r.firstAttrKey);
            e.location = e.kind == Action ? locationOf(r.location) : NoLocation;
            kept.push(std::move(e));
            if (kept.size() > TimelineLimit)
                kept.pop();
        });
        ::close(fd);
    }
    d->timeline.resize(kept.size());
    for (size_t i = kept.size(); i-- > 0; kept.pop())
        d->timeline[i] = kept.top();
    return true;
}

Aggregates FileSource::aggregates() const
{
    Aggregates a;
    for (uint32_t s = 0; s < d->sessions.size(); ++s)
        a.sessions.emplace(d->sessionIds.text(s), d->sessions[s].agg);
    std::vector<CodeAgg> codeAggs;
    for (const CodeState &c : d->codeStates)
        codeAggs.push_back(c.agg);
    for (const auto &mc : d->machineCodes) {
        CodeAgg &c = codeAggs[uint32_t(mc.first)];
        ++c.machines;
        c.menuOnlyMachines += mc.second.second == 0;
    }
    for (uint32_t c = 0; c < codeAggs.size(); ++c)
        a.codes.emplace(d->codes.text(c), codeAggs[c]);
    for (uint32_t l = 0; l < d->labelStates.size(); ++l)
        a.labels.emplace(d->labels.text(l), d->labelStates[l].count);
    for (uint32_t p = 0; p < d->propertyCounts.size(); ++p)
        a.properties.emplace(d->properties.text(p), d->propertyCounts[p]);
    for (uint32_t p = 0; p < d->projectAggs.size(); ++p)
        a.projects.emplace(d->projects.text(p), d->projectAggs[p]);
    for (uint32_t day = 0; day < d->dayAggs.size(); ++day)
        a.days.emplace(d->days.text(day), d->dayAggs[day]);
    a.timelineSession = d->timelineSession;
    a.timeline = d->timeline;
    a.coded = d->coded;
    a.saves = d->saves;
    a.idleReturns = d->idleReturns;
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
