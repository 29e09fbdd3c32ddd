#include "ClickHouseSource.h"

#include "ClickHouseClient.h"
#include "ClickHouseCodedEvents.h"
#include "ClickHouseQueries.h"
#include "ClickHouseRollups.h"

#include <algorithm>
#include <iterator>
#include <map>

using namespace UbcReport;

namespace {

// ClickHouse refuses queries over 256 KiB by default.
const size_t MaxCopiedBytes = 100000;

} // namespace

class ClickHouseSourcePrivate
{
public:
    ClickHouseSourcePrivate(const ClickHouseSource::Server &server, const ReportFilter &filter)
        : client(server.url, server.user, server.password), queries(server.table, filter), rollups(server.table, filter),
          codedEvents(server.table, filter), filter(filter), table(server.table), useRollups(server.rollups) {}

    ClickHouseClient client;
    ClickHouseQueries queries;
    ClickHouseRollups rollups;
    ClickHouseCodedEvents codedEvents;
    ReportFilter filter;
    QString table, error;
    bool useRollups;
    // The rows and the records (seq present) of the sessions with copies, by
    // the per-session roll-up.
    int64_t copiedRows = 0, copiedRecords = 0;

    // The sessions and counts from the records alone, or from the roll-ups;
    // the last round (the timeline and the rest) added to *last.
    bool readRecords(Aggregates &a, std::vector<ClickHouseResult> *results);
    bool readRollups(Aggregates &a, std::vector<ClickHouseResult> *results, std::vector<ClickHouseQueries::Query> *last,
                     bool *recount, bool machineDays);

    bool run(const std::vector<ClickHouseQueries::Query> &batch, std::vector<ClickHouseResult> *results);
    // Each reads one query's rows into the aggregates.
    static bool hasCopies(ClickHouseResult &r);
    static void readSessions(ClickHouseResult &r, Aggregates &a);
    static void readCommands(ClickHouseResult &r, Aggregates &a);
    static void readMachines(ClickHouseResult &r, Aggregates &a);
    static void readProperties(ClickHouseResult &r, Aggregates &a);
    static void readProjects(ClickHouseResult &r, Aggregates &a);
    static void readDays(ClickHouseResult &r, Aggregates &a);
    static void readTimeline(ClickHouseResult &r, Aggregates &a);
    static void readUploadLosses(ClickHouseResult &r, Aggregates &a);
    static void readSessionDays(ClickHouseResult &r, Aggregates &a, std::map<std::string, int64_t> *copies);
    static void readCommandCounts(ClickHouseResult &r, Aggregates &a, const char *column, int sign);
    static void readNames(ClickHouseResult &r, Aggregates &a);
    static int64_t total(ClickHouseResult &r, const char *column);
    // Whether the roll-ups hold the records as often as each other; false
    // with a warning when not.
    static bool rollupsAgree(const char *what, int64_t byCommand, int64_t bySession);
};

bool ClickHouseSourcePrivate::run(const std::vector<ClickHouseQueries::Query> &batch, std::vector<ClickHouseResult> *results)
{
    if (!client.run(batch, results)) {
        error = client.errorString();
        return false;
    }
    return true;
}

bool ClickHouseSourcePrivate::hasCopies(ClickHouseResult &r)
{
    const int records = r.column("records"), rows = r.column("rows");
    for (int i = 0; i < r.rowCount(); ++i)
        if (r.number(i, rows) > r.number(i, records))
            return true;
    return false;
}

void ClickHouseSourcePrivate::readSessions(ClickHouseResult &r, Aggregates &a)
{
    const int id = r.column("sessionid"), machine = r.column("machine"), version = r.column("version"),
              first = r.column("firstSec"), last = r.column("lastSec"), records = r.column("records"),
              closeSeconds = r.column("closeSeconds"), closed = r.column("closed"), lastSeq = r.column("lastSeq"),
              numbered = r.column("numbered"), firstDay = r.column("firstDay");
    for (int i = 0; i < r.rowCount(); ++i) {
        SessionAgg &s = a.sessions[r.text(i, id)];
        s.machine = r.text(i, machine);
        s.ver = r.text(i, version);
        s.firstSec = r.number(i, first);
        s.lastSec = r.number(i, last);
        s.records = r.number(i, records);
        s.closeSeconds = r.number(i, closed) > 0 ? r.number(i, closeSeconds) : -1;
        s.lastSeq = r.unsignedNumber(i, lastSeq);
        s.numbered = r.number(i, numbered);
        s.firstDay = r.text(i, firstDay);
    }
}

void ClickHouseSourcePrivate::readCommands(ClickHouseResult &r, Aggregates &a)
{
    const int fncode = r.column("fncode"), kindColumn = r.column("kind"), labelColumn = r.column("label"),
              firstName = r.column("firstName"), firstGroup = r.column("firstGroup"), records = r.column("records");
    std::map<std::string, bool> named;
    for (int i = 0; i < r.rowCount(); ++i) {
        const std::string code = r.text(i, fncode);
        CodeAgg &c = a.codes[code];
        const RecordKind kind = RecordKind(r.number(i, kindColumn));
        const std::string label = r.text(i, labelColumn), name = r.text(i, firstName), group = r.text(i, firstGroup);
        const int64_t n = r.number(i, records);
        bool &hasName = named[code];
        if (kind != PropertyEdit && (!hasName || name < c.name)) {
            c.name = name;
            hasName = true;
        }
        if (!group.empty() && (c.group.empty() || group < c.group))
            c.group = group;
        switch (kind) {
        case Lifecycle: c.lifecycle += n; break;
        case Action:
            c.actions += n;
            c.byLocation[locationOf(label)] += n;
            a.labels[label] += n;
            break;
        case PropertyEdit: c.edits += n; break;
        case NamedEvent: c.events += n; break;
        }
    }
}

void ClickHouseSourcePrivate::readMachines(ClickHouseResult &r, Aggregates &a)
{
    const int fncode = r.column("fncode"), machines = r.column("machines"), menuOnly = r.column("menuOnlyMachines");
    for (int i = 0; i < r.rowCount(); ++i) {
        CodeAgg &c = a.codes[r.text(i, fncode)];
        c.machines = r.number(i, machines);
        c.menuOnlyMachines = r.number(i, menuOnly);
    }
}

void ClickHouseSourcePrivate::readProperties(ClickHouseResult &r, Aggregates &a)
{
    const int key = r.column("firstKey"), edits = r.column("edits");
    for (int i = 0; i < r.rowCount(); ++i)
        a.properties[r.text(i, key)] = r.number(i, edits);
}

void ClickHouseSourcePrivate::readProjects(ClickHouseResult &r, Aggregates &a)
{
    const int id = r.column("projectid"), path = r.column("path"), created = r.column("created"), opened = r.column("opened"),
              saves = r.column("saves"), closes = r.column("closes"), openSeconds = r.column("openSeconds"),
              edits = r.column("edits"), sizeKB = r.column("sizeKB");
    for (int i = 0; i < r.rowCount(); ++i) {
        ProjectAgg &p = a.projects[r.text(i, id)];
        p.path = r.text(i, path);
        p.news = r.number(i, created);
        p.opens = r.number(i, opened);
        p.saves = r.number(i, saves);
        p.closes = r.number(i, closes);
        p.openSeconds = r.number(i, openSeconds);
        p.edits = r.number(i, edits);
        p.sizeKB = r.number(i, sizeKB);
    }
}

void ClickHouseSourcePrivate::readDays(ClickHouseResult &r, Aggregates &a)
{
    const int dayColumn = r.column("day"), session = r.column("sessionid"), records = r.column("records"),
              actions = r.column("actions"), shortcuts = r.column("shortcuts");
    for (int i = 0; i < r.rowCount(); ++i) {
        DayAgg &day = a.days[r.text(i, dayColumn)];
        day.records += r.number(i, records);
        day.actions += r.number(i, actions);
        ++day.sessions;
        SessionAgg &s = a.sessions[r.text(i, session)];
        s.actions += r.number(i, actions);
        s.shortcuts += r.number(i, shortcuts);
    }
}

void ClickHouseSourcePrivate::readTimeline(ClickHouseResult &r, Aggregates &a)
{
    const int seq = r.column("seq"), time = r.column("trigertime"), fncode = r.column("fncode"), fnname = r.column("fnname"),
              kind = r.column("kind"), label = r.column("label");
    for (int i = 0; i < r.rowCount(); ++i) {
        TimelineEvent e;
        e.seq = r.unsignedNumber(i, seq);
        e.trigertime = r.text(i, time);
        e.code = r.text(i, fncode);
        e.name = r.text(i, fnname);
        e.kind = RecordKind(r.number(i, kind));
        e.location = e.kind == Action ? locationOf(r.text(i, label)) : NoLocation;
        a.timeline.push_back(std::move(e));
    }
}

void ClickHouseSourcePrivate::readUploadLosses(ClickHouseResult &r, Aggregates &a)
{
    const int kind = r.column("kind"), records = r.column("records");
    a.uploadLosses.emplace();
    for (int i = 0; i < r.rowCount(); ++i)
        (*a.uploadLosses)[r.text(i, kind)] = r.number(i, records);
}

// A row per session and day: the day's figures, and the session's folded over its days.
void ClickHouseSourcePrivate::readSessionDays(ClickHouseResult &r, Aggregates &a, std::map<std::string, int64_t> *copies)
{
    const int rows = r.column("rows");
    const int id = r.column("sessionid"), dayColumn = r.column("day"), machine = r.column("machine"), version = r.column("version"),
              first = r.column("firstSec"), last = r.column("lastSec"), records = r.column("records"),
              closeSeconds = r.column("closeSeconds"), closed = r.column("closed"), lastSeq = r.column("lastSeq"),
              numbered = r.column("numbered"), actions = r.column("actions"), shortcuts = r.column("shortcuts");
    for (int i = 0; i < r.rowCount(); ++i) {
        const std::string day = r.text(i, dayColumn), m = r.text(i, machine), v = r.text(i, version);
        const auto [session, added] = a.sessions.try_emplace(r.text(i, id));
        const bool seen = !added;
        SessionAgg &s = session->second;
        if (!seen || m < s.machine)
            s.machine = m;
        if (!seen || v < s.ver)
            s.ver = v;
        if (!seen || day < s.firstDay)
            s.firstDay = day;
        s.firstSec = std::min(s.firstSec, r.number(i, first));
        s.lastSec = std::max(s.lastSec, r.number(i, last));
        s.records += r.number(i, records);
        if (r.number(i, closed) > 0)
            s.closeSeconds = std::max(s.closeSeconds < 0 ? INT64_MIN : s.closeSeconds, r.number(i, closeSeconds));
        s.lastSeq = std::max(s.lastSeq, r.unsignedNumber(i, lastSeq));
        s.numbered += r.number(i, numbered);
        s.actions += r.number(i, actions);
        s.shortcuts += r.number(i, shortcuts);
        if (r.number(i, rows) > r.number(i, records))
            (*copies)[session->first] += r.number(i, rows) - r.number(i, records);
        DayAgg &d = a.days[day];
        d.records += r.number(i, records);
        d.actions += r.number(i, actions);
        ++d.sessions;
    }
}

// Counts per fncode, kind, label and property, added (sign 1) or taken back (-1).
void ClickHouseSourcePrivate::readCommandCounts(ClickHouseResult &r, Aggregates &a, const char *column, int sign)
{
    const int fncode = r.column("fncode"), kindColumn = r.column("kind"), labelColumn = r.column("label"),
              firstKey = r.column("firstKey"), records = r.column(column);
    for (int i = 0; i < r.rowCount(); ++i) {
        CodeAgg &c = a.codes[r.text(i, fncode)];
        const int64_t n = sign * r.number(i, records);
        switch (RecordKind(r.number(i, kindColumn))) {
        case Lifecycle: c.lifecycle += n; break;
        case Action: {
            const std::string label = r.text(i, labelColumn);
            c.actions += n;
            c.byLocation[locationOf(label)] += n;
            a.labels[label] += n;
            break;
        }
        case PropertyEdit:
            c.edits += n;
            a.properties[r.text(i, firstKey)] += n;
            break;
        case NamedEvent: c.events += n; break;
        }
    }
}

void ClickHouseSourcePrivate::readNames(ClickHouseResult &r, Aggregates &a)
{
    const int fncode = r.column("fncode"), firstName = r.column("firstName"), firstGroup = r.column("firstGroup");
    for (int i = 0; i < r.rowCount(); ++i) {
        CodeAgg &c = a.codes[r.text(i, fncode)];
        c.name = r.text(i, firstName);
        c.group = r.text(i, firstGroup);
    }
}

int64_t ClickHouseSourcePrivate::total(ClickHouseResult &r, const char *column)
{
    const int c = r.column(column);
    int64_t sum = 0;
    for (int i = 0; i < r.rowCount(); ++i)
        sum += r.number(i, c);
    return sum;
}

// Each view writes its own roll-up after the records are in: a server killed
// between two of them leaves a block in some roll-ups only, and the copy the
// uploader sends again counts twice in the others. The copies are told apart
// by the per-session roll-up, so the roll-ups counted per command must hold
// the same rows.
bool ClickHouseSourcePrivate::rollupsAgree(const char *what, int64_t byCommand, int64_t bySession)
{
    if (byCommand == bySession)
        return true;
    qCWarning(lcClickHouse, "the roll-ups disagree (%s: %lld rows by command, %lld by session): the report reads the records; "
                            "rebuild the roll-ups to read them again",
              what, static_cast<long long>(byCommand), static_cast<long long>(bySession));
    return false;
}

bool ClickHouseSourcePrivate::readRecords(Aggregates &a, std::vector<ClickHouseResult> *results)
{
    using Reader = void (*)(ClickHouseResult &, Aggregates &);
    ClickHouseQueries &q = queries;
    q.setDeduplicate(false);
    // The queries that count copies apart from the rows run beside the sessions'
    // as if no session had any, and run again, reading those sessions apart, if some have.
    auto counting = [&] {
        return std::vector<ClickHouseQueries::Query>{q.commands(), q.properties(), q.projects(), q.days()};
    };
    const Reader countingReaders[] = {readCommands, readProperties, readProjects, readDays};
    std::vector<ClickHouseQueries::Query> batch{q.sessions(), q.machines()};
    for (const ClickHouseQueries::Query &query : counting())
        batch.push_back(query);
    if (!run(batch, results))
        return false;
    if (hasCopies((*results)[0])) {
        q.setDeduplicate(true);
        std::vector<ClickHouseResult> again;
        if (!run(counting(), &again))
            return false;
        std::move(again.begin(), again.end(), results->begin() + 2);
    }
    readSessions((*results)[0], a);
    readMachines((*results)[1], a);
    for (size_t i = 0; i < std::size(countingReaders); ++i)
        countingReaders[i]((*results)[2 + i], a);
    return true;
}

// The roll-ups answer for the sessions, days, commands, machines and projects.
// The per-day command counts include copies: for the sessions that hold some,
// the counts with copies are taken back and those of the seq present put in.
bool ClickHouseSourcePrivate::readRollups(Aggregates &a, std::vector<ClickHouseResult> *results,
                                          std::vector<ClickHouseQueries::Query> *last, bool *recount, bool machineDays)
{
    const bool machines = rollups.answersMachines(machineDays);
    // The project records are few: their copies are found by the server.
    ClickHouseQueries projects(rollups.projectRecords(), filter);
    projects.setDeduplicate(true);
    std::vector<ClickHouseQueries::Query> batch{rollups.sessionDays(), rollups.commandCounts(), rollups.names(),
                                                machines ? rollups.machines() : queries.machines(), projects.projects()};
    if (!run(batch, results))
        return false;
    std::map<std::string, int64_t> copies;
    readSessionDays((*results)[0], a, &copies);
    readCommandCounts((*results)[1], a, "records", 1);
    readNames((*results)[2], a);
    readMachines((*results)[3], a);
    readProjects((*results)[4], a);

    std::vector<std::string> copied;
    size_t bytes = 0;
    int64_t rows = 0;
    for (const auto &it : a.sessions)
        rows += it.second.records;
    copiedRows = copiedRecords = 0;
    for (const auto &it : copies) {
        if (it.second > 0) {
            copied.push_back(it.first);
            bytes += it.first.size() + 4;
            rows += it.second;
            const int64_t records = a.sessions[it.first].records;
            copiedRecords += records;
            copiedRows += records + it.second;
        }
    }
    // The sessions are named in the queries, which have a size limit: past it,
    // the records alone answer. So they do when the roll-ups disagree.
    if (bytes > MaxCopiedBytes || !rollupsAgree("all", total((*results)[1], "records"), rows)) {
        a = Aggregates();
        results->clear();
        return readRecords(a, results);
    }
    queries.setDeduplicate(!copied.empty());
    queries.setCopiedSessions(copied);
    if (!copied.empty())
        last->push_back(rollups.commandCountsOf(copied));
    *recount = !copied.empty();
    return true;
}

ClickHouseSource::ClickHouseSource(const Server &server, const ReportFilter &filter)
    : d(new ClickHouseSourcePrivate(server, filter))
{
}

ClickHouseSource::~ClickHouseSource() = default;

QString ClickHouseSource::errorString() const
{
    return d->error;
}

bool ClickHouseSource::read(Aggregates *out)
{
    ClickHouseQueries &q = d->queries;
    const QString losses = q.uploadLossesTable();
    const QStringList rollupTables = ClickHouseRollups::tables(d->table);
    std::vector<ClickHouseResult> found, results;
    const QString machineDays = ClickHouseRollups::machineDaysTable(d->table);
    if (!d->run({q.existingTables(rollupTables + QStringList{losses, machineDays}), d->codedEvents.exists()}, &found))
        return false;
    const bool coded = ClickHouseCodedEvents::found(found[1]);
    QStringList existing;
    const int name = found[0].column("name");
    for (int i = 0; i < found[0].rowCount(); ++i)
        existing << QString::fromStdString(found[0].text(i, name));
    auto exists = [&](const QString &table) { return existing.contains(table.section(QLatin1Char('.'), 1)); };

    Aggregates a;
    std::vector<ClickHouseQueries::Query> last;
    bool recount = false;       // last ends with the command counts of the sessions that hold copies
    const bool rollups = d->useRollups && std::all_of(rollupTables.begin(), rollupTables.end(), exists);
    if (rollups ? !d->readRollups(a, &results, &last, &recount, exists(machineDays)) : !d->readRecords(a, &results))
        return false;
    results.insert(results.end(), found.begin(), found.end());

    // The session with the most records (the smallest id among equals) is shown as a timeline.
    const auto chosen = std::max_element(a.sessions.begin(), a.sessions.end(), [](const auto &x, const auto &y) {
        return x.second.records < y.second.records;
    });
    const bool timeline = chosen != a.sessions.end(), lost = exists(losses);
    if (timeline) {
        a.timelineSession = chosen->first;
        last.insert(last.begin(), q.timeline(chosen->first, TimelineLimit));
    }
    if (lost)
        last.insert(last.begin() + timeline, q.uploadLosses());
    // The statistics sent, when the store keeps the helpers' coded events.
    if (coded)
        last.insert(last.begin() + timeline + lost, d->codedEvents.counts());
    std::vector<ClickHouseResult> lastResults;
    if (!last.empty() && !d->run(last, &lastResults))
        return false;
    if (timeline)
        ClickHouseSourcePrivate::readTimeline(lastResults[0], a);
    if (lost)
        ClickHouseSourcePrivate::readUploadLosses(lastResults[timeline], a);
    if (coded)
        ClickHouseCodedEvents::read(lastResults[timeline + lost], a);
    if (recount) {
        using P = ClickHouseSourcePrivate;
        ClickHouseResult &counts = lastResults.back();
        if (!P::rollupsAgree("the sessions with copies", P::total(counts, "records"), d->copiedRows)
            || !P::rollupsAgree("the seq present in them", P::total(counts, "present"), d->copiedRecords)) {
            d->useRollups = false;
            d->queries.setCopiedSessions({});
            return read(out);
        }
        // Their counts with copies out, without copies in.
        P::readCommandCounts(counts, a, "records", -1);
        P::readCommandCounts(counts, a, "present", 1);
    }
    std::move(lastResults.begin(), lastResults.end(), std::back_inserter(results));
    for (ClickHouseResult &r : results) {
        if (!r.missing().isEmpty()) {
            d->error = QStringLiteral("ClickHouse's answer lacks the columns %1").arg(r.missing().join(QLatin1String(", ")));
            return false;
        }
    }
    *out = std::move(a);
    return true;
}
