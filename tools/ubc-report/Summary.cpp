#include "Summary.h"

#include <RecordFormat/RecordCodes.h>
#include <RecordFormat/TrigerTime.h>

#include <QtCore/QDateTime>
#include <QtCore/QFileInfo>
#include <QtCore/QVariant>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <algorithm>
#include <cmath>
#include <set>

using namespace UbcReport;

namespace {

double share(int64_t part, int64_t whole)
{
    return whole > 0 ? std::round(double(part) / double(whole) * 10000.0) / 10000.0 : 0.0;
}

int64_t workSeconds(const SessionAgg &s)
{
    return s.closeSeconds >= 0 ? s.closeSeconds : s.lastSec - s.firstSec;
}

QString languageOf(const Aggregates &a)
{
    int64_t votes[2] = {0, 0};
    for (const auto &label : a.labels) {
        int lang;
        locationOf(label.first, &lang);
        if (lang >= 0)
            votes[lang] += label.second;
    }
    for (const auto &code : a.codes) {
        const int lang = RecordCodes::isLifecycle(code.first) ? lifecycleLanguage(code.second.name) : -1;
        if (lang >= 0)
            votes[lang] += code.second.lifecycle;
    }
    return votes[1] > votes[0] ? QStringLiteral("en") : QStringLiteral("zh");
}

} // namespace

bool Summary::build(const Aggregates &a, const Options &options, Summary *summary, QString *error)
{
    Summary s;
    s.language = options.language.isEmpty() ? languageOf(a) : options.language;
    s.addSessions(a);
    s.addCommands(a);
    s.addLabelsAndProperties(a);
    s.addProjects(a);
    s.addTotals(a);     // the statistics' rate needs the working time
    s.addStatistics(a);
    s.addVersions(a);
    s.addDaily(a);
    s.addTimeline(a);
    s.addCompleteness(a);
    s.addPeriod(a, options.filter);
    if (!options.dictionary.isEmpty() && !s.addDictionary(options.dictionary, a, error))
        return false;
    *summary = std::move(s);
    return true;
}

void Summary::addSessions(const Aggregates &a)
{
    for (const auto &it : a.sessions) {
        const SessionAgg &agg = it.second;
        Session r;
        r.id = qs(it.first);
        r.machine = qs(agg.machine);
        r.ver = qs(agg.ver);
        r.start = QDateTime::fromSecsSinceEpoch(agg.firstSec, Qt::UTC).toString(Qt::ISODate);
        r.workSeconds = workSeconds(agg);
        r.closed = agg.closeSeconds >= 0;
        r.records = agg.records;
        r.actions = agg.actions;
        r.shortcuts = agg.shortcuts;
        sessions.push_back(std::move(r));
    }
    // a.sessions is ordered by id, bytewise: equal working times keep that order.
    std::stable_sort(sessions.begin(), sessions.end(),
                     [](const Session &x, const Session &y) { return x.workSeconds > y.workSeconds; });
}

void Summary::addCommands(const Aggregates &a)
{
    std::vector<std::pair<const std::string *, const CodeAgg *>> used;
    for (const auto &it : a.codes) {
        const CodeAgg &c = it.second;
        for (int l = 0; l < LocationCount; ++l)
            locations[l].count += c.byLocation[l];
        if (c.lifecycle)
            lifecycle.push_back({qs(it.first), qs(c.name), c.lifecycle});
        if (c.actions + c.events + c.edits)
            used.emplace_back(&it.first, &c);
    }
    std::sort(used.begin(), used.end(), [](const auto &x, const auto &y) {
        if (x.second->actions != y.second->actions)
            return x.second->actions > y.second->actions;
        if (x.second->events != y.second->events)
            return x.second->events > y.second->events;
        return *x.first < *y.first;
    });
    for (const auto &it : used) {
        const CodeAgg &c = *it.second;
        Command o;
        o.code = qs(*it.first);
        o.name = qs(c.name);
        o.group = qs(c.group);
        o.actions = c.actions;
        o.events = c.events;
        o.edits = c.edits;
        o.shortcut = c.byLocation[Shortcut];
        o.shortcutShare = share(o.shortcut, c.actions);
        std::copy(std::begin(c.byLocation), std::end(c.byLocation), o.byLocation);
        o.machines = c.machines;
        o.menuOnlyMachines = c.menuOnlyMachines;
        // Someone reached it by its shortcut, so it has one; others never did.
        if (o.shortcut > 0 && o.menuOnlyMachines > 0)
            shortcutGaps.push_back(commands.size());
        commands.push_back(std::move(o));
    }
    std::stable_sort(shortcutGaps.begin(), shortcutGaps.end(), [this](size_t x, size_t y) {
        return commands[x].menuOnlyMachines > commands[y].menuOnlyMachines;
    });
}

void Summary::addLabelsAndProperties(const Aggregates &a)
{
    for (const auto &it : a.labels)
        labels.push_back({qs(it.first), locationOf(it.first), it.second});
    for (const auto &it : a.properties)
        properties.push_back({qs(it.first), it.second});
    std::stable_sort(properties.begin(), properties.end(),
                     [](const Property &x, const Property &y) { return x.edits > y.edits; });
}

void Summary::addProjects(const Aggregates &a)
{
    for (const auto &it : a.projects) {
        const ProjectAgg &pa = it.second;
        Project p;
        p.id = qs(it.first);
        p.path = qs(pa.path);
        p.name = pa.path.empty() ? p.id : QFileInfo(p.path).fileName();
        p.created = pa.news;
        p.opened = pa.opens;
        p.saves = pa.saves;
        p.closes = pa.closes;
        p.openSeconds = pa.openSeconds;
        p.edits = pa.edits;
        p.sizeKB = pa.sizeKB;
        projects.push_back(std::move(p));
    }
    std::stable_sort(projects.begin(), projects.end(),
                     [](const Project &x, const Project &y) { return x.openSeconds > y.openSeconds; });
}

void Summary::addStatistics(const Aggregates &a)
{
    for (const auto &it : a.coded) {
        const auto code = a.codes.find(it.first);
        const CodedAgg &c = it.second;
        Sent o;
        o.code = qs(it.first);
        o.name = code != a.codes.end() ? qs(code->second.name) : QString();
        o.count = c.count;
        o.timed = c.timed;
        o.totalSeconds = c.totalSeconds;
        o.meanSeconds = c.timed ? std::round(double(c.totalSeconds) / double(c.timed) * 10.0) / 10.0 : 0.0;
        o.maxSeconds = c.maxSeconds;
        statistics.sent.push_back(std::move(o));
    }
    statistics.saves = a.saves;
    statistics.idleReturns = a.idleReturns;
    statistics.idleReturnsPerHour = totals.workSeconds > 0
        ? std::round(double(a.idleReturns) * 3600.0 / double(totals.workSeconds) * 100.0) / 100.0 : 0.0;
}

void Summary::addVersions(const Aggregates &a)
{
    struct Row { int64_t sessions = 0, records = 0, actions = 0, shortcuts = 0, work = 0; std::set<std::string> machines; };
    std::map<std::string, Row> rows;
    for (const auto &it : a.sessions) {
        const SessionAgg &s = it.second;
        Row &v = rows[s.ver];
        ++v.sessions;
        v.records += s.records;
        v.actions += s.actions;
        v.shortcuts += s.shortcuts;
        v.work += workSeconds(s);
        v.machines.insert(s.machine);
    }
    for (const auto &it : rows) {
        const Row &v = it.second;
        versions.push_back({qs(it.first), v.sessions, int64_t(v.machines.size()), v.records, v.actions,
                            share(v.shortcuts, v.actions), v.work, v.sessions ? v.work / v.sessions : 0});
    }
}

void Summary::addDaily(const Aggregates &a)
{
    for (const auto &it : a.days)
        daily.push_back({qs(it.first), it.second.records, it.second.actions, it.second.sessions});
}

void Summary::addTimeline(const Aggregates &a)
{
    int64_t startMs = 0;
    for (size_t i = 0; i < a.timeline.size(); ++i) {
        const TimelineEvent &e = a.timeline[i];
        int64_t ms = 0;
        TrigerTime::toEpochMs(e.trigertime, &ms);
        if (i == 0)
            startMs = ms;
        timeline.events.push_back({ms - startMs, e.seq, qs(e.code), qs(e.name), e.kind, e.location});
    }
    timeline.session = qs(a.timelineSession);
    if (!a.timeline.empty())
        timeline.start = qs(a.timeline.front().trigertime);
    const auto chosen = a.sessions.find(a.timelineSession);
    if (chosen != a.sessions.end())
        timeline.truncated = chosen->second.records > int64_t(a.timeline.size());
}

void Summary::addCompleteness(const Aggregates &a)
{
    std::map<std::string, Completeness> versions, days;
    auto add = [](Completeness &c, const SessionAgg &s) {
        ++c.sessions;
        c.gapSessions += int64_t(s.lastSeq) > s.numbered;
        c.expected += int64_t(s.lastSeq);
        c.present += s.numbered;
    };
    auto finish = [](Completeness &c) { c.share = c.expected > 0 ? share(c.present, c.expected) : 1.0; };
    Coverage &cover = completeness;
    for (const auto &it : a.sessions) {
        const SessionAgg &s = it.second;
        if (s.lastSeq == 0)
            continue;   // no numbered record: nothing to count against
        add(cover.total, s);
        add(versions[s.ver], s);
        add(days[s.firstDay], s);
        if (int64_t(s.lastSeq) > s.numbered)
            cover.gaps.push_back({qs(it.first), qs(s.machine), qs(s.ver), qs(s.firstDay), int64_t(s.lastSeq), s.numbered});
    }
    finish(cover.total);
    for (auto *rows : {&versions, &days}) {
        std::vector<Completeness> &out = rows == &versions ? cover.byVersion : cover.byDay;
        for (auto &it : *rows) {
            it.second.key = qs(it.first);
            finish(it.second);
            out.push_back(it.second);
        }
    }
    std::stable_sort(cover.gaps.begin(), cover.gaps.end(), [](const Gap &x, const Gap &y) {
        return x.expected - x.present > y.expected - y.present;
    });
    if (a.uploadLosses) {
        std::vector<Loss> losses;
        for (const char *kind : {"queue_dropped", "set_aside", "rotated_unsent"}) {
            const auto it = a.uploadLosses->find(kind);
            losses.push_back({QLatin1String(kind), it == a.uploadLosses->end() ? 0 : it->second});
        }
        for (const auto &it : *a.uploadLosses) {
            const QString kind = qs(it.first);
            if (std::none_of(losses.begin(), losses.end(), [&](const Loss &l) { return l.kind == kind; }))
                losses.push_back({kind, it.second});
        }
        cover.uploadLosses = std::move(losses);
    }
}

void Summary::addTotals(const Aggregates &a)
{
    std::set<std::string> machines;
    std::vector<int64_t> work;
    for (const auto &it : a.sessions) {
        machines.insert(it.second.machine);
        totals.records += it.second.records;
        totals.unclosedSessions += it.second.closeSeconds < 0;
        work.push_back(workSeconds(it.second));
        totals.workSeconds += work.back();
    }
    std::sort(work.begin(), work.end());
    totals.medianSessionSeconds = work.empty() ? 0 : work[work.size() / 2];
    totals.sessions = int64_t(a.sessions.size());
    totals.machines = int64_t(machines.size());
    for (const auto &it : a.codes) {
        totals.lifecycle += it.second.lifecycle;
        totals.actions += it.second.actions;
        totals.edits += it.second.edits;
        totals.events += it.second.events;
    }
    totals.projects = int64_t(a.projects.size());
    for (LocationShare &l : locations)
        l.share = share(l.count, totals.actions);
}

void Summary::addPeriod(const Aggregates &a, const ReportFilter &filter)
{
    period.since = qs(filter.since);
    period.until = qs(filter.until);
    if (filter.byProduct)
        period.product = qs(filter.product);
    if (!a.days.empty()) {
        period.firstDay = qs(a.days.begin()->first);
        period.lastDay = qs(a.days.rbegin()->first);
    }
}

bool Summary::addDictionary(const QString &path, const Aggregates &a, QString *error)
{
    if (!QFileInfo(path).isReadable()) {
        *error = QStringLiteral("%1: cannot read the dictionary").arg(path);
        return false;
    }
    const QString connection = QStringLiteral("ubc-report-dictionary");
    Dictionary d;
    d.path = path;
    bool ok;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery q(db);
        ok = db.open() && q.exec(QStringLiteral("SELECT fncode, fnName, fnGroup FROM FuncDict ORDER BY fncode"));
        if (!ok)
            *error = QStringLiteral("%1: not a function dictionary (%2)").arg(path, q.lastError().text());
        while (ok && q.next()) {
            ++d.commands;
            const auto it = a.codes.find(q.value(0).toString().toStdString());
            if (it != a.codes.end() && it->second.actions + it->second.events + it->second.edits > 0)
                continue;
            d.unused.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
        }
    }
    QSqlDatabase::removeDatabase(connection);
    if (!ok)
        return false;
    d.used = d.commands - int64_t(d.unused.size());
    dictionary = std::move(d);
    return true;
}
