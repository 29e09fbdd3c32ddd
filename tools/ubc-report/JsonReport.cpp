#include "JsonReport.h"

#include "Summary.h"

#include <RecordFormat/RecordIdentity.h>

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

using namespace UbcReport;

namespace {

QJsonObject command(const Summary::Command &c)
{
    QJsonObject byLocation;
    for (int l = 0; l < LocationCount; ++l)
        byLocation.insert(QLatin1String(locationKey(Location(l))), qint64(c.byLocation[l]));
    return {{QStringLiteral("code"), c.code},
            {QStringLiteral("name"), c.name},
            {QStringLiteral("group"), c.group},
            {QStringLiteral("actions"), qint64(c.actions)},
            {QStringLiteral("events"), qint64(c.events)},
            {QStringLiteral("edits"), qint64(c.edits)},
            {QStringLiteral("shortcut"), qint64(c.shortcut)},
            {QStringLiteral("shortcutShare"), c.shortcutShare},
            {QStringLiteral("byLocation"), byLocation},
            {QStringLiteral("machines"), qint64(c.machines)},
            {QStringLiteral("menuOnlyMachines"), qint64(c.menuOnlyMachines)}};
}

template<typename Row, typename F>
QJsonArray array(const std::vector<Row> &rows, F toJson)
{
    QJsonArray list;
    for (const Row &r : rows)
        list.append(toJson(r));
    return list;
}

QJsonObject completeness(const Summary::Completeness &c)
{
    return QJsonObject{{QStringLiteral("sessions"), qint64(c.sessions)},
                       {QStringLiteral("gapSessions"), qint64(c.gapSessions)},
                       {QStringLiteral("expected"), qint64(c.expected)},
                       {QStringLiteral("present"), qint64(c.present)},
                       {QStringLiteral("share"), c.share}};
}

QJsonObject keyedCompleteness(const Summary::Completeness &c)
{
    QJsonObject o = completeness(c);
    o.insert(QStringLiteral("key"), c.key);
    return o;
}

QJsonObject coverage(const Summary::Coverage &c)
{
    QJsonObject o{{QStringLiteral("total"), completeness(c.total)},
                  {QStringLiteral("byVersion"), array(c.byVersion, keyedCompleteness)},
                  {QStringLiteral("byDay"), array(c.byDay, keyedCompleteness)},
                  {QStringLiteral("gaps"), array(c.gaps, [](const Summary::Gap &g) {
                       return QJsonObject{{QStringLiteral("session"), g.session},
                                          {QStringLiteral("machine"), g.machine},
                                          {QStringLiteral("ver"), g.ver},
                                          {QStringLiteral("day"), g.day},
                                          {QStringLiteral("expected"), qint64(g.expected)},
                                          {QStringLiteral("present"), qint64(g.present)}};
                   })}};
    if (c.uploadLosses)
        o.insert(QStringLiteral("uploadLosses"), array(*c.uploadLosses, [](const Summary::Loss &l) {
                     return QJsonObject{{QStringLiteral("kind"), l.kind}, {QStringLiteral("records"), qint64(l.records)}};
                 }));
    return o;
}

QJsonObject input(const Summary::Input &in)
{
    QJsonObject o;
    if (in.fromServer) {
        o = {{QStringLiteral("source"), QStringLiteral("clickhouse")},
             {QStringLiteral("url"), in.url},
             {QStringLiteral("table"), in.table}};
    } else {
        o = {{QStringLiteral("source"), QStringLiteral("files")},
             {QStringLiteral("files"), QJsonArray::fromStringList(in.files)},
             {QStringLiteral("lines"), qint64(in.lines)},
             {QStringLiteral("malformed"), qint64(in.malformed)},
             {QStringLiteral("duplicates"), qint64(in.duplicates)},
             {QStringLiteral("filtered"), qint64(in.filtered)}};
    }
    o.insert(QStringLiteral("codedFiles"), QJsonArray::fromStringList(in.codedFiles));
    o.insert(QStringLiteral("codedMalformed"), qint64(in.codedMalformed));
    return o;
}

} // namespace

QByteArray JsonReport::render(const Summary &s)
{
    QJsonObject o;
    o.insert(QStringLiteral("language"), s.language);
    o.insert(QStringLiteral("input"), input(s.input));
    o.insert(QStringLiteral("sessions"), array(s.sessions, [](const Summary::Session &r) {
        return QJsonObject{{QStringLiteral("id"), r.id},
                           {QStringLiteral("machine"), r.machine},
                           {QStringLiteral("ver"), r.ver},
                           {QStringLiteral("start"), r.start},
                           {QStringLiteral("workSeconds"), qint64(r.workSeconds)},
                           {QStringLiteral("closed"), r.closed},
                           {QStringLiteral("records"), qint64(r.records)},
                           {QStringLiteral("actions"), qint64(r.actions)},
                           {QStringLiteral("shortcuts"), qint64(r.shortcuts)}};
    }));
    o.insert(QStringLiteral("commands"), array(s.commands, command));
    o.insert(QStringLiteral("lifecycle"), array(s.lifecycle, [](const Summary::CodeCount &c) {
        return QJsonObject{{QStringLiteral("code"), c.code}, {QStringLiteral("name"), c.name},
                           {QStringLiteral("count"), qint64(c.count)}};
    }));
    o.insert(QStringLiteral("shortcutGaps"), array(s.shortcutGaps, [&](size_t i) { return command(s.commands[i]); }));
    QJsonArray locations;
    for (int l = 0; l < LocationCount; ++l)
        locations.append(QJsonObject{{QStringLiteral("location"), QLatin1String(locationKey(Location(l)))},
                                     {QStringLiteral("count"), qint64(s.locations[l].count)},
                                     {QStringLiteral("share"), s.locations[l].share}});
    o.insert(QStringLiteral("locations"), locations);
    o.insert(QStringLiteral("labels"), array(s.labels, [](const Summary::Label &l) {
        return QJsonObject{{QStringLiteral("label"), l.label},
                           {QStringLiteral("location"), QLatin1String(locationKey(l.location))},
                           {QStringLiteral("count"), qint64(l.count)}};
    }));
    o.insert(QStringLiteral("properties"), array(s.properties, [](const Summary::Property &p) {
        return QJsonObject{{QStringLiteral("property"), p.property}, {QStringLiteral("edits"), qint64(p.edits)}};
    }));
    o.insert(QStringLiteral("projects"), array(s.projects, [](const Summary::Project &p) {
        return QJsonObject{{QStringLiteral("id"), p.id},
                           {QStringLiteral("path"), p.path},
                           {QStringLiteral("name"), p.name},
                           {QStringLiteral("created"), qint64(p.created)},
                           {QStringLiteral("opened"), qint64(p.opened)},
                           {QStringLiteral("saves"), qint64(p.saves)},
                           {QStringLiteral("closes"), qint64(p.closes)},
                           {QStringLiteral("openSeconds"), qint64(p.openSeconds)},
                           {QStringLiteral("edits"), qint64(p.edits)},
                           {QStringLiteral("sizeKB"), qint64(p.sizeKB)}};
    }));
    const Summary::Statistics &st = s.statistics;
    o.insert(QStringLiteral("statistics"), QJsonObject{
        {QStringLiteral("sent"), array(st.sent, [](const Summary::Sent &c) {
             return QJsonObject{{QStringLiteral("code"), c.code},
                                {QStringLiteral("name"), c.name},
                                {QStringLiteral("count"), qint64(c.count)},
                                {QStringLiteral("timed"), qint64(c.timed)},
                                {QStringLiteral("totalSeconds"), qint64(c.totalSeconds)},
                                {QStringLiteral("meanSeconds"), c.meanSeconds},
                                {QStringLiteral("maxSeconds"), qint64(c.maxSeconds)}};
         })},
        {QStringLiteral("saves"), qint64(st.saves)},
        {QStringLiteral("idleReturns"), qint64(st.idleReturns)},
        {QStringLiteral("idleReturnsPerHour"), st.idleReturnsPerHour}});
    o.insert(QStringLiteral("versions"), array(s.versions, [](const Summary::Version &v) {
        return QJsonObject{{QStringLiteral("ver"), v.ver},
                           {QStringLiteral("sessions"), qint64(v.sessions)},
                           {QStringLiteral("machines"), qint64(v.machines)},
                           {QStringLiteral("records"), qint64(v.records)},
                           {QStringLiteral("actions"), qint64(v.actions)},
                           {QStringLiteral("shortcutShare"), v.shortcutShare},
                           {QStringLiteral("workSeconds"), qint64(v.workSeconds)},
                           {QStringLiteral("meanSessionSeconds"), qint64(v.meanSessionSeconds)}};
    }));
    o.insert(QStringLiteral("daily"), array(s.daily, [](const Summary::Day &d) {
        return QJsonObject{{QStringLiteral("day"), d.day},
                           {QStringLiteral("records"), qint64(d.records)},
                           {QStringLiteral("actions"), qint64(d.actions)},
                           {QStringLiteral("sessions"), qint64(d.sessions)}};
    }));
    QJsonObject timeline{{QStringLiteral("session"), s.timeline.session},
                         {QStringLiteral("start"), s.timeline.start},
                         {QStringLiteral("events"), array(s.timeline.events, [](const Summary::Event &e) {
                              return QJsonObject{{QStringLiteral("t"), qint64(e.t)},
                                                 {QStringLiteral("seq"), RecordIdentity::isDerived(e.seq) ? QJsonValue() : qint64(e.seq)},
                                                 {QStringLiteral("code"), e.code},
                                                 {QStringLiteral("name"), e.name},
                                                 {QStringLiteral("kind"), QLatin1String(kindKey(e.kind))},
                                                 {QStringLiteral("location"), QLatin1String(locationKey(e.location))}};
                          })}};
    if (s.timeline.truncated)
        timeline.insert(QStringLiteral("truncated"), *s.timeline.truncated);
    o.insert(QStringLiteral("timeline"), timeline);
    const Summary::Totals &t = s.totals;
    o.insert(QStringLiteral("totals"), QJsonObject{
        {QStringLiteral("records"), qint64(t.records)},
        {QStringLiteral("sessions"), qint64(t.sessions)},
        {QStringLiteral("unclosedSessions"), qint64(t.unclosedSessions)},
        {QStringLiteral("machines"), qint64(t.machines)},
        {QStringLiteral("lifecycle"), qint64(t.lifecycle)},
        {QStringLiteral("actions"), qint64(t.actions)},
        {QStringLiteral("edits"), qint64(t.edits)},
        {QStringLiteral("events"), qint64(t.events)},
        {QStringLiteral("projects"), qint64(t.projects)},
        {QStringLiteral("workSeconds"), qint64(t.workSeconds)},
        {QStringLiteral("medianSessionSeconds"), qint64(t.medianSessionSeconds)}});
    o.insert(QStringLiteral("completeness"), coverage(s.completeness));
    o.insert(QStringLiteral("period"), QJsonObject{
        {QStringLiteral("since"), s.period.since},
        {QStringLiteral("until"), s.period.until},
        {QStringLiteral("product"), s.period.product},
        {QStringLiteral("firstDay"), s.period.firstDay},
        {QStringLiteral("lastDay"), s.period.lastDay}});
    if (s.dictionary) {
        const Summary::Dictionary &d = *s.dictionary;
        o.insert(QStringLiteral("dictionary"), QJsonObject{
            {QStringLiteral("path"), d.path},
            {QStringLiteral("commands"), qint64(d.commands)},
            {QStringLiteral("used"), qint64(d.used)},
            {QStringLiteral("unused"), array(d.unused, [](const Summary::DictionaryCommand &c) {
                 return QJsonObject{{QStringLiteral("code"), c.code}, {QStringLiteral("name"), c.name},
                                    {QStringLiteral("group"), c.group}};
             })}});
    }
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}
