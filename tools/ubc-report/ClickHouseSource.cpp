#include "ClickHouseSource.h"

#include "ClickHouseClient.h"
#include "ClickHouseQueries.h"

#include <algorithm>
#include <iterator>
#include <map>

using namespace UbcReport;

class ClickHouseSourcePrivate
{
public:
    ClickHouseSourcePrivate(const ClickHouseSource::Server &server, const ReportFilter &filter)
        : client(server.url, server.user, server.password), queries(server.table, filter) {}

    ClickHouseClient client;
    ClickHouseQueries queries;
    QString error;

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
    using Reader = void (*)(ClickHouseResult &, Aggregates &);
    ClickHouseQueries &q = d->queries;
    q.setDeduplicate(false);
    // The queries that count copies apart from the rows run beside the sessions'
    // as if no session had any, and run again, reading those sessions apart, if some have.
    auto counting = [&] {
        return std::vector<ClickHouseQueries::Query>{q.commands(), q.properties(), q.projects(), q.days()};
    };
    const Reader countingReaders[] = {ClickHouseSourcePrivate::readCommands, ClickHouseSourcePrivate::readProperties,
                                      ClickHouseSourcePrivate::readProjects, ClickHouseSourcePrivate::readDays};
    std::vector<ClickHouseQueries::Query> batch{q.sessions(), q.machines()};
    for (const ClickHouseQueries::Query &query : counting())
        batch.push_back(query);
    const size_t lossesFound = batch.size();
    batch.push_back(q.hasUploadLosses());
    std::vector<ClickHouseResult> results;
    if (!d->run(batch, &results))
        return false;
    if (ClickHouseSourcePrivate::hasCopies(results[0])) {
        q.setDeduplicate(true);
        std::vector<ClickHouseResult> again;
        if (!d->run(counting(), &again))
            return false;
        std::move(again.begin(), again.end(), results.begin() + 2);
    }

    Aggregates a;
    ClickHouseSourcePrivate::readSessions(results[0], a);
    ClickHouseSourcePrivate::readMachines(results[1], a);
    for (size_t i = 0; i < std::size(countingReaders); ++i)
        countingReaders[i](results[2 + i], a);

    // The session with the most records (the smallest id among equals) is shown as a timeline.
    const auto chosen = std::max_element(a.sessions.begin(), a.sessions.end(), [](const auto &x, const auto &y) {
        return x.second.records < y.second.records;
    });
    // The timeline and the uploaders' losses (when their table exists) in one more round.
    ClickHouseResult &found = results[lossesFound];
    const bool losses = found.rowCount() > 0 && found.number(0, found.column("tables")) > 0;
    std::vector<ClickHouseQueries::Query> last;
    if (chosen != a.sessions.end()) {
        a.timelineSession = chosen->first;
        last.push_back(q.timeline(chosen->first, TimelineLimit));
    }
    if (losses)
        last.push_back(q.uploadLosses());
    std::vector<ClickHouseResult> lastResults;
    if (!last.empty() && !d->run(last, &lastResults))
        return false;
    if (chosen != a.sessions.end())
        ClickHouseSourcePrivate::readTimeline(lastResults.front(), a);
    if (losses)
        ClickHouseSourcePrivate::readUploadLosses(lastResults.back(), a);
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
