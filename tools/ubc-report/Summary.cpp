#include "Summary.h"

#include <QtCore/QDateTime>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonArray>
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

QJsonObject locationCounts(const int64_t (&counts)[LocationCount])
{
    QJsonObject o;
    for (int l = 0; l < LocationCount; ++l)
        o.insert(QLatin1String(locationKey(Location(l))), qint64(counts[l]));
    return o;
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
        const int lang = isLifecycleCode(code.first) ? lifecycleLanguage(code.second.name) : -1;
        if (lang >= 0)
            votes[lang] += code.second.lifecycle;
    }
    return votes[1] > votes[0] ? QStringLiteral("en") : QStringLiteral("zh");
}

bool readDictionary(const QString &path, QJsonObject *out, const Aggregates &a, QString *error)
{
    if (!QFileInfo(path).isReadable()) {
        *error = QStringLiteral("%1: cannot read the dictionary").arg(path);
        return false;
    }
    const QString connection = QStringLiteral("ubc-report-dictionary");
    QJsonArray unused;
    int commands = 0;
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
            ++commands;
            const std::string code = q.value(0).toString().toStdString();
            auto it = a.codes.find(code);
            if (it != a.codes.end() && it->second.actions + it->second.events + it->second.edits > 0)
                continue;
            unused.append(QJsonObject{{QStringLiteral("code"), q.value(0).toString()},
                                      {QStringLiteral("name"), q.value(1).toString()},
                                      {QStringLiteral("group"), q.value(2).toString()}});
        }
    }
    QSqlDatabase::removeDatabase(connection);
    if (!ok)
        return false;
    *out = QJsonObject{{QStringLiteral("path"), path},
                       {QStringLiteral("commands"), commands},
                       {QStringLiteral("used"), commands - unused.size()},
                       {QStringLiteral("unused"), unused}};
    return true;
}

} // namespace

bool Summary::build(const Aggregates &a, const Options &options, QJsonObject *summary, QString *error)
{
    QJsonObject s;
    const QString language = options.language.isEmpty() ? languageOf(a) : options.language;
    s.insert(QStringLiteral("language"), language);

    // Sessions, machines, working time.
    struct SessionRow { const std::string *id; const SessionAgg *agg; int64_t work; };
    std::vector<SessionRow> sessions;
    std::set<std::string> machines;
    int64_t records = 0, totalWork = 0, unclosed = 0;
    for (const auto &it : a.sessions) {
        sessions.push_back({&it.first, &it.second, workSeconds(it.second)});
        machines.insert(it.second.machine);
        records += it.second.records;
        totalWork += sessions.back().work;
        unclosed += it.second.closeSeconds < 0;
    }
    std::sort(sessions.begin(), sessions.end(), [](const SessionRow &x, const SessionRow &y) {
        return x.work != y.work ? x.work > y.work : *x.id < *y.id;
    });
    QJsonArray sessionList;
    for (const SessionRow &r : sessions) {
        sessionList.append(QJsonObject{
            {QStringLiteral("id"), qs(*r.id)},
            {QStringLiteral("machine"), qs(r.agg->machine)},
            {QStringLiteral("ver"), qs(r.agg->ver)},
            {QStringLiteral("start"), QDateTime::fromSecsSinceEpoch(r.agg->firstSec, Qt::UTC).toString(Qt::ISODate)},
            {QStringLiteral("workSeconds"), qint64(r.work)},
            {QStringLiteral("closed"), r.agg->closeSeconds >= 0},
            {QStringLiteral("records"), qint64(r.agg->records)},
            {QStringLiteral("actions"), qint64(r.agg->actions)},
            {QStringLiteral("shortcuts"), qint64(r.agg->shortcuts)}});
    }
    s.insert(QStringLiteral("sessions"), sessionList);

    // Commands, by how often they ran as actions.
    int64_t kinds[4] = {0, 0, 0, 0};
    int64_t locations[LocationCount] = {};
    std::vector<std::pair<const std::string *, const CodeAgg *>> commands;
    QJsonArray lifecycle;
    for (const auto &it : a.codes) {
        const CodeAgg &c = it.second;
        kinds[Lifecycle] += c.lifecycle;
        kinds[Action] += c.actions;
        kinds[PropertyEdit] += c.edits;
        kinds[NamedEvent] += c.events;
        for (int l = 0; l < LocationCount; ++l)
            locations[l] += c.byLocation[l];
        if (c.lifecycle)
            lifecycle.append(QJsonObject{{QStringLiteral("code"), qs(it.first)},
                                         {QStringLiteral("name"), qs(c.name)},
                                         {QStringLiteral("count"), qint64(c.lifecycle)}});
        if (c.actions + c.events + c.edits)
            commands.emplace_back(&it.first, &c);
    }
    std::sort(commands.begin(), commands.end(), [](const auto &x, const auto &y) {
        if (x.second->actions != y.second->actions)
            return x.second->actions > y.second->actions;
        if (x.second->events != y.second->events)
            return x.second->events > y.second->events;
        return *x.first < *y.first;
    });
    QJsonArray commandList, gaps;
    for (const auto &it : commands) {
        const CodeAgg &c = *it.second;
        const int64_t shortcut = c.byLocation[Shortcut];
        QJsonObject o{{QStringLiteral("code"), qs(*it.first)},
                      {QStringLiteral("name"), qs(c.name)},
                      {QStringLiteral("group"), qs(c.group)},
                      {QStringLiteral("actions"), qint64(c.actions)},
                      {QStringLiteral("events"), qint64(c.events)},
                      {QStringLiteral("edits"), qint64(c.edits)},
                      {QStringLiteral("shortcut"), qint64(shortcut)},
                      {QStringLiteral("shortcutShare"), share(shortcut, c.actions)},
                      {QStringLiteral("byLocation"), locationCounts(c.byLocation)},
                      {QStringLiteral("machines"), qint64(c.machines)},
                      {QStringLiteral("menuOnlyMachines"), qint64(c.menuOnlyMachines)}};
        commandList.append(o);
        // Someone reached it by its shortcut, so it has one; others never did.
        if (shortcut > 0 && c.menuOnlyMachines > 0)
            gaps.append(o);
    }
    std::vector<QJsonObject> gapRows;
    for (const QJsonValue &v : gaps)
        gapRows.push_back(v.toObject());
    std::stable_sort(gapRows.begin(), gapRows.end(), [](const QJsonObject &x, const QJsonObject &y) {
        return x.value(QLatin1String("menuOnlyMachines")).toDouble() > y.value(QLatin1String("menuOnlyMachines")).toDouble();
    });
    gaps = QJsonArray();
    for (const QJsonObject &o : gapRows)
        gaps.append(o);
    s.insert(QStringLiteral("commands"), commandList);
    s.insert(QStringLiteral("lifecycle"), lifecycle);
    s.insert(QStringLiteral("shortcutGaps"), gaps);

    QJsonArray locationList;
    for (int l = 0; l < LocationCount; ++l)
        locationList.append(QJsonObject{{QStringLiteral("location"), QLatin1String(locationKey(Location(l)))},
                                        {QStringLiteral("count"), qint64(locations[l])},
                                        {QStringLiteral("share"), share(locations[l], kinds[Action])}});
    s.insert(QStringLiteral("locations"), locationList);
    QJsonArray labelList;
    for (const auto &it : a.labels)
        labelList.append(QJsonObject{{QStringLiteral("label"), qs(it.first)},
                                     {QStringLiteral("location"), QLatin1String(locationKey(locationOf(it.first)))},
                                     {QStringLiteral("count"), qint64(it.second)}});
    s.insert(QStringLiteral("labels"), labelList);

    std::vector<std::pair<std::string, int64_t>> props(a.properties.begin(), a.properties.end());
    std::stable_sort(props.begin(), props.end(), [](const auto &x, const auto &y) { return x.second > y.second; });
    QJsonArray propertyList;
    for (const auto &p : props)
        propertyList.append(QJsonObject{{QStringLiteral("property"), qs(p.first)},
                                        {QStringLiteral("edits"), qint64(p.second)}});
    s.insert(QStringLiteral("properties"), propertyList);

    std::vector<std::pair<std::string, ProjectAgg>> projects(a.projects.begin(), a.projects.end());
    std::stable_sort(projects.begin(), projects.end(), [](const auto &x, const auto &y) {
        return x.second.openSeconds > y.second.openSeconds;
    });
    QJsonArray projectList;
    for (const auto &p : projects) {
        const ProjectAgg &pa = p.second;
        projectList.append(QJsonObject{
            {QStringLiteral("id"), qs(p.first)},
            {QStringLiteral("path"), qs(pa.path)},
            {QStringLiteral("name"), pa.path.empty() ? qs(p.first) : QFileInfo(qs(pa.path)).fileName()},
            {QStringLiteral("created"), qint64(pa.news)},
            {QStringLiteral("opened"), qint64(pa.opens)},
            {QStringLiteral("saves"), qint64(pa.saves)},
            {QStringLiteral("closes"), qint64(pa.closes)},
            {QStringLiteral("openSeconds"), qint64(pa.openSeconds)},
            {QStringLiteral("edits"), qint64(pa.edits)},
            {QStringLiteral("sizeKB"), qint64(pa.sizeKB)}});
    }
    s.insert(QStringLiteral("projects"), projectList);

    // Statistics from the helper's journal.
    QJsonArray sent;
    for (const auto &it : a.coded) {
        auto code = a.codes.find(it.first);
        const CodedAgg &c = it.second;
        sent.append(QJsonObject{
            {QStringLiteral("code"), qs(it.first)},
            {QStringLiteral("name"), code != a.codes.end() ? qs(code->second.name) : QString()},
            {QStringLiteral("count"), qint64(c.count)},
            {QStringLiteral("timed"), qint64(c.timed)},
            {QStringLiteral("totalSeconds"), qint64(c.totalSeconds)},
            {QStringLiteral("meanSeconds"), c.timed ? std::round(double(c.totalSeconds) / double(c.timed) * 10.0) / 10.0 : 0.0},
            {QStringLiteral("maxSeconds"), qint64(c.maxSeconds)}});
    }
    s.insert(QStringLiteral("statistics"), QJsonObject{
        {QStringLiteral("sent"), sent},
        {QStringLiteral("saves"), qint64(a.saves)},
        {QStringLiteral("idleReturns"), qint64(a.idleReturns)},
        {QStringLiteral("idleReturnsPerHour"),
         totalWork > 0 ? std::round(double(a.idleReturns) * 3600.0 / double(totalWork) * 100.0) / 100.0 : 0.0}});

    // Versions side by side.
    struct VersionRow { int64_t sessions = 0, records = 0, actions = 0, shortcuts = 0, work = 0; std::set<std::string> machines; };
    std::map<std::string, VersionRow> versions;
    for (const SessionRow &r : sessions) {
        VersionRow &v = versions[r.agg->ver];
        ++v.sessions;
        v.records += r.agg->records;
        v.actions += r.agg->actions;
        v.shortcuts += r.agg->shortcuts;
        v.work += r.work;
        v.machines.insert(r.agg->machine);
    }
    QJsonArray versionList;
    for (const auto &it : versions) {
        const VersionRow &v = it.second;
        versionList.append(QJsonObject{
            {QStringLiteral("ver"), qs(it.first)},
            {QStringLiteral("sessions"), qint64(v.sessions)},
            {QStringLiteral("machines"), int(v.machines.size())},
            {QStringLiteral("records"), qint64(v.records)},
            {QStringLiteral("actions"), qint64(v.actions)},
            {QStringLiteral("shortcutShare"), share(v.shortcuts, v.actions)},
            {QStringLiteral("workSeconds"), qint64(v.work)},
            {QStringLiteral("meanSessionSeconds"), qint64(v.sessions ? v.work / v.sessions : 0)}});
    }
    s.insert(QStringLiteral("versions"), versionList);

    QJsonArray daily;
    for (const auto &it : a.days)
        daily.append(QJsonObject{{QStringLiteral("day"), qs(it.first)},
                                 {QStringLiteral("records"), qint64(it.second.records)},
                                 {QStringLiteral("actions"), qint64(it.second.actions)},
                                 {QStringLiteral("sessions"), qint64(it.second.sessions)}});
    s.insert(QStringLiteral("daily"), daily);

    // One session as a timeline, times relative to its first record.
    QJsonArray events;
    int64_t startMs = 0;
    for (size_t i = 0; i < a.timeline.size(); ++i) {
        const TimelineEvent &e = a.timeline[i];
        int64_t ms = 0;
        parseTrigerTime(e.trigertime, &ms);
        if (i == 0)
            startMs = ms;
        events.append(QJsonObject{{QStringLiteral("t"), qint64(ms - startMs)},
                                  {QStringLiteral("seq"), qint64(e.seq)},
                                  {QStringLiteral("code"), qs(e.code)},
                                  {QStringLiteral("name"), qs(e.name)},
                                  {QStringLiteral("kind"), QLatin1String(kindKey(e.kind))},
                                  {QStringLiteral("location"), QLatin1String(locationKey(e.location))}});
    }
    QJsonObject timeline{{QStringLiteral("session"), qs(a.timelineSession)},
                         {QStringLiteral("start"), a.timeline.empty() ? QString() : qs(a.timeline.front().trigertime)},
                         {QStringLiteral("events"), events}};
    auto chosen = a.sessions.find(a.timelineSession);
    if (chosen != a.sessions.end())
        timeline.insert(QStringLiteral("truncated"), chosen->second.records > int64_t(a.timeline.size()));
    s.insert(QStringLiteral("timeline"), timeline);

    const int64_t median = sessions.empty() ? 0 : [&] {
        std::vector<int64_t> w;
        for (const SessionRow &r : sessions)
            w.push_back(r.work);
        std::sort(w.begin(), w.end());
        return w[w.size() / 2];
    }();
    s.insert(QStringLiteral("totals"), QJsonObject{
        {QStringLiteral("records"), qint64(records)},
        {QStringLiteral("sessions"), int(a.sessions.size())},
        {QStringLiteral("unclosedSessions"), qint64(unclosed)},
        {QStringLiteral("machines"), int(machines.size())},
        {QStringLiteral("lifecycle"), qint64(kinds[Lifecycle])},
        {QStringLiteral("actions"), qint64(kinds[Action])},
        {QStringLiteral("edits"), qint64(kinds[PropertyEdit])},
        {QStringLiteral("events"), qint64(kinds[NamedEvent])},
        {QStringLiteral("projects"), int(a.projects.size())},
        {QStringLiteral("workSeconds"), qint64(totalWork)},
        {QStringLiteral("medianSessionSeconds"), qint64(median)}});
    s.insert(QStringLiteral("period"), QJsonObject{
        {QStringLiteral("since"), qs(options.filter.since)},
        {QStringLiteral("until"), qs(options.filter.until)},
        {QStringLiteral("product"), options.filter.byProduct ? qs(options.filter.product) : QString()},
        {QStringLiteral("firstDay"), a.days.empty() ? QString() : qs(a.days.begin()->first)},
        {QStringLiteral("lastDay"), a.days.empty() ? QString() : qs(a.days.rbegin()->first)}});

    if (!options.dictionary.isEmpty()) {
        QJsonObject dictionary;
        if (!readDictionary(options.dictionary, &dictionary, a, error))
            return false;
        s.insert(QStringLiteral("dictionary"), dictionary);
    }
    *summary = s;
    return true;
}
