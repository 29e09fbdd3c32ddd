#include "JsonReport.h"

#include "JsonWriter.h"
#include "Summary.h"

#include <RecordFormat/RecordIdentity.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QLoggingCategory>

#include <algorithm>
#include <array>
#include <cstring>

using namespace UbcReport;

// Members are written in ascending key order: the order QJsonObject keeps,
// so the file is the one QJsonDocument would write.

namespace {

Q_LOGGING_CATEGORY(lcJson, "kelubc.report.json", QtWarningMsg)

// The locations in the order of their keys.
const std::array<int, LocationCount> &locationsByKey()
{
    static const std::array<int, LocationCount> order = [] {
        std::array<int, LocationCount> o;
        for (int l = 0; l < LocationCount; ++l)
            o[l] = l;
        std::sort(o.begin(), o.end(), [](int a, int b) {
            return std::strcmp(locationKey(Location(a)), locationKey(Location(b))) < 0;
        });
        return o;
    }();
    return order;
}

template<typename Row, typename F>
void array(JsonWriter &w, const std::vector<Row> &rows, F write)
{
    w.beginArray();
    for (const Row &r : rows)
        write(w, r);
    w.endArray();
}

void strings(JsonWriter &w, const QStringList &list)
{
    w.beginArray();
    for (const QString &s : list)
        w.value(s);
    w.endArray();
}

void command(JsonWriter &w, const Summary::Command &c)
{
    w.beginObject();
    w.key("actions").value(c.actions);
    w.key("byLocation").beginObject();
    for (int l : locationsByKey())
        w.key(locationKey(Location(l))).value(c.byLocation[l]);
    w.endObject();
    w.key("code").value(c.code);
    w.key("edits").value(c.edits);
    w.key("events").value(c.events);
    w.key("group").value(c.group);
    w.key("machines").value(c.machines);
    w.key("menuOnlyMachines").value(c.menuOnlyMachines);
    w.key("name").value(c.name);
    w.key("shortcut").value(c.shortcut);
    w.key("shortcutShare").value(c.shortcutShare);
    w.endObject();
}

// A completeness figure, with its version or day when keyed.
void completeness(JsonWriter &w, const Summary::Completeness &c, bool keyed)
{
    w.beginObject();
    w.key("expected").value(c.expected);
    w.key("gapSessions").value(c.gapSessions);
    if (keyed)
        w.key("key").value(c.key);
    w.key("present").value(c.present);
    w.key("sessions").value(c.sessions);
    w.key("share").value(c.share);
    w.endObject();
}

void keyedCompleteness(JsonWriter &w, const Summary::Completeness &c)
{
    completeness(w, c, true);
}

void coverage(JsonWriter &w, const Summary::Coverage &c)
{
    w.beginObject();
    w.key("byDay");
    array(w, c.byDay, keyedCompleteness);
    w.key("byVersion");
    array(w, c.byVersion, keyedCompleteness);
    w.key("gaps");
    array(w, c.gaps, [](JsonWriter &w, const Summary::Gap &g) {
        w.beginObject();
        w.key("day").value(g.day);
        w.key("expected").value(g.expected);
        w.key("machine").value(g.machine);
        w.key("present").value(g.present);
        w.key("session").value(g.session);
        w.key("ver").value(g.ver);
        w.endObject();
    });
    w.key("total");
    completeness(w, c.total, false);
    if (c.uploadLosses) {
        w.key("uploadLosses");
        array(w, *c.uploadLosses, [](JsonWriter &w, const Summary::Loss &l) {
            w.beginObject();
            w.key("kind").value(l.kind);
            w.key("records").value(l.records);
            w.endObject();
        });
    }
    w.endObject();
}

void input(JsonWriter &w, const Summary::Input &in)
{
    w.beginObject();
    w.key("codedFiles");
    strings(w, in.codedFiles);
    w.key("codedMalformed").value(in.codedMalformed);
    if (in.fromServer) {
        w.key("source").value(QLatin1String("clickhouse"));
        w.key("table").value(in.table);
        w.key("url").value(in.url);
    } else {
        w.key("duplicates").value(in.duplicates);
        w.key("files");
        strings(w, in.files);
        w.key("filtered").value(in.filtered);
        w.key("lines").value(in.lines);
        w.key("malformed").value(in.malformed);
        w.key("source").value(QLatin1String("files"));
    }
    w.endObject();
}

void dictionary(JsonWriter &w, const Summary::Dictionary &d)
{
    w.beginObject();
    w.key("commands").value(d.commands);
    w.key("path").value(d.path);
    w.key("unused");
    array(w, d.unused, [](JsonWriter &w, const Summary::DictionaryCommand &c) {
        w.beginObject();
        w.key("code").value(c.code);
        w.key("group").value(c.group);
        w.key("name").value(c.name);
        w.endObject();
    });
    w.key("used").value(d.used);
    w.endObject();
}

void projects(JsonWriter &w, const std::vector<Summary::Project> &rows)
{
    array(w, rows, [](JsonWriter &w, const Summary::Project &p) {
        w.beginObject();
        w.key("closes").value(p.closes);
        w.key("created").value(p.created);
        w.key("edits").value(p.edits);
        w.key("id").value(p.id);
        w.key("name").value(p.name);
        w.key("openSeconds").value(p.openSeconds);
        w.key("opened").value(p.opened);
        w.key("path").value(p.path);
        w.key("saves").value(p.saves);
        w.key("sizeKB").value(p.sizeKB);
        w.endObject();
    });
}

void sessions(JsonWriter &w, const std::vector<Summary::Session> &rows)
{
    array(w, rows, [](JsonWriter &w, const Summary::Session &r) {
        w.beginObject();
        w.key("actions").value(r.actions);
        w.key("closed").value(r.closed);
        w.key("id").value(r.id);
        w.key("machine").value(r.machine);
        w.key("records").value(r.records);
        w.key("shortcuts").value(r.shortcuts);
        w.key("start").value(r.start);
        w.key("ver").value(r.ver);
        w.key("workSeconds").value(r.workSeconds);
        w.endObject();
    });
}

void statistics(JsonWriter &w, const Summary::Statistics &st)
{
    w.beginObject();
    w.key("idleReturns").value(st.idleReturns);
    w.key("idleReturnsPerHour").value(st.idleReturnsPerHour);
    w.key("saves").value(st.saves);
    w.key("sent");
    array(w, st.sent, [](JsonWriter &w, const Summary::Sent &c) {
        w.beginObject();
        w.key("code").value(c.code);
        w.key("count").value(c.count);
        w.key("maxSeconds").value(c.maxSeconds);
        w.key("meanSeconds").value(c.meanSeconds);
        w.key("name").value(c.name);
        w.key("timed").value(c.timed);
        w.key("totalSeconds").value(c.totalSeconds);
        w.endObject();
    });
    w.endObject();
}

void timeline(JsonWriter &w, const Summary::Timeline &t)
{
    w.beginObject();
    w.key("events");
    array(w, t.events, [](JsonWriter &w, const Summary::Event &e) {
        w.beginObject();
        w.key("code").value(e.code);
        w.key("kind").value(QLatin1String(kindKey(e.kind)));
        w.key("location").value(QLatin1String(locationKey(e.location)));
        w.key("name").value(e.name);
        if (RecordIdentity::isDerived(e.seq))
            w.key("seq").null();
        else
            w.key("seq").value(qint64(e.seq));
        w.key("t").value(e.t);
        w.endObject();
    });
    w.key("session").value(t.session);
    w.key("start").value(t.start);
    if (t.truncated)
        w.key("truncated").value(*t.truncated);
    w.endObject();
}

void totals(JsonWriter &w, const Summary::Totals &t)
{
    w.beginObject();
    w.key("actions").value(t.actions);
    w.key("edits").value(t.edits);
    w.key("events").value(t.events);
    w.key("lifecycle").value(t.lifecycle);
    w.key("machines").value(t.machines);
    w.key("medianSessionSeconds").value(t.medianSessionSeconds);
    w.key("projects").value(t.projects);
    w.key("records").value(t.records);
    w.key("sessions").value(t.sessions);
    w.key("unclosedSessions").value(t.unclosedSessions);
    w.key("workSeconds").value(t.workSeconds);
    w.endObject();
}

void versions(JsonWriter &w, const std::vector<Summary::Version> &rows)
{
    array(w, rows, [](JsonWriter &w, const Summary::Version &v) {
        w.beginObject();
        w.key("actions").value(v.actions);
        w.key("machines").value(v.machines);
        w.key("meanSessionSeconds").value(v.meanSessionSeconds);
        w.key("records").value(v.records);
        w.key("sessions").value(v.sessions);
        w.key("shortcutShare").value(v.shortcutShare);
        w.key("ver").value(v.ver);
        w.key("workSeconds").value(v.workSeconds);
        w.endObject();
    });
}

} // namespace

QByteArray JsonReport::render(const Summary &s)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    out.reserve(int(512 * (s.sessions.size() + s.commands.size() + s.timeline.events.size()) + 65536));
    JsonWriter w(&out);
    w.beginObject();
    w.key("commands");
    array(w, s.commands, command);
    w.key("completeness");
    coverage(w, s.completeness);
    w.key("daily");
    array(w, s.daily, [](JsonWriter &w, const Summary::Day &d) {
        w.beginObject();
        w.key("actions").value(d.actions);
        w.key("day").value(d.day);
        w.key("records").value(d.records);
        w.key("sessions").value(d.sessions);
        w.endObject();
    });
    if (s.dictionary) {
        w.key("dictionary");
        dictionary(w, *s.dictionary);
    }
    w.key("input");
    input(w, s.input);
    w.key("labels");
    array(w, s.labels, [](JsonWriter &w, const Summary::Label &l) {
        w.beginObject();
        w.key("count").value(l.count);
        w.key("label").value(l.label);
        w.key("location").value(QLatin1String(locationKey(l.location)));
        w.endObject();
    });
    w.key("language").value(s.language);
    w.key("lifecycle");
    array(w, s.lifecycle, [](JsonWriter &w, const Summary::CodeCount &c) {
        w.beginObject();
        w.key("code").value(c.code);
        w.key("count").value(c.count);
        w.key("name").value(c.name);
        w.endObject();
    });
    w.key("locations").beginArray();
    for (int l = 0; l < LocationCount; ++l) {
        w.beginObject();
        w.key("count").value(s.locations[l].count);
        w.key("location").value(QLatin1String(locationKey(Location(l))));
        w.key("share").value(s.locations[l].share);
        w.endObject();
    }
    w.endArray();
    w.key("period").beginObject();
    w.key("firstDay").value(s.period.firstDay);
    w.key("lastDay").value(s.period.lastDay);
    w.key("product").value(s.period.product);
    w.key("since").value(s.period.since);
    w.key("until").value(s.period.until);
    w.endObject();
    w.key("projects");
    projects(w, s.projects);
    w.key("properties");
    array(w, s.properties, [](JsonWriter &w, const Summary::Property &p) {
        w.beginObject();
        w.key("edits").value(p.edits);
        w.key("property").value(p.property);
        w.endObject();
    });
    w.key("sessions");
    sessions(w, s.sessions);
    w.key("shortcutGaps");
    array(w, s.shortcutGaps, [&](JsonWriter &w, size_t i) { command(w, s.commands[i]); });
    w.key("statistics");
    statistics(w, s.statistics);
    w.key("timeline");
    timeline(w, s.timeline);
    w.key("totals");
    totals(w, s.totals);
    w.key("versions");
    versions(w, s.versions);
    w.endObject();
    qCDebug(lcJson, "JSON written: %lld bytes in %lld ms", qint64(out.size()), qint64(timer.elapsed()));
    return out;
}
