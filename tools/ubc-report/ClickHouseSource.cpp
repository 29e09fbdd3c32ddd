#include "ClickHouseSource.h"

#include <QtCore/QEventLoop>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

#include <algorithm>

using namespace UbcReport;

namespace {

QString quoted(const std::string &text)
{
    QString s = QString::fromStdString(text);
    s.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

// The same record kinds as classify(): lifecycle 0, action 1, property edit 2, named event 3.
const char KindSql[] =
    "multiIf(fncode IN ('990001','990002','990003','990004','990005','990006','990007'), 0,"
    " has(attrs.key, 'location'), 1,"
    " length(attrs.key) = 1 AND (endsWith(fnname, concat('-属性-', attrs.key[1]))"
    " OR endsWith(fnname, concat('-Property-', attrs.key[1]))), 2, 3)";
const char ShortcutSql[] = "label IN ('快捷键', 'Shortcut key')";

int64_t toInt(const QJsonValue &v)
{
    return v.isString() ? v.toString().toLongLong() : int64_t(v.toDouble());
}

std::string toStd(const QJsonValue &v)
{
    return v.toString().toStdString();
}

} // namespace

class ClickHouseSourcePrivate
{
public:
    QUrl url;
    QString table;
    ReportFilter filter;
    QString error;
    QNetworkAccessManager network;

    QString base() const;
    QNetworkReply *post(const QString &query);
    bool rows(QNetworkReply *reply, QJsonArray *rows);
};

QString ClickHouseSourcePrivate::base() const
{
    QStringList where;
    if (filter.byProduct)
        where << QStringLiteral("pcode = %1").arg(quoted(filter.product));
    if (!filter.since.empty())
        where << QStringLiteral("day >= %1").arg(quoted(filter.since));
    if (!filter.until.empty())
        where << QStringLiteral("day <= %1").arg(quoted(filter.until));
    // Each (sessionid, seq) once: FINAL merges the duplicates that parts still hold.
    return QStringLiteral(
               "(SELECT sessionid, seq, pcode, hardwareid, ver, toUInt32(time) AS t, fncode, fnname, fngroup,"
               " trigertime, duration, projectid, prjfullpath, prjedocnt, prjsize,"
               " substring(trigertime, 1, 10) AS day, %1 AS kind,"
               " attrs.value[indexOf(attrs.key, 'location')] AS label, attrs.key[1] AS firstKey"
               " FROM %2 FINAL%3)")
        .arg(QLatin1String(KindSql), table,
             where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QLatin1String(" AND ")));
}

QNetworkReply *ClickHouseSourcePrivate::post(const QString &query)
{
    QUrl target = url;
    target.setUserInfo(QString());
    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain; charset=utf-8"));
    request.setTransferTimeout(60000);
    if (!url.userName().isEmpty())
        request.setRawHeader("Authorization", "Basic " + (url.userName() + QLatin1Char(':') + url.password()).toUtf8().toBase64());
    return network.post(request, (query + QStringLiteral(" FORMAT JSONCompact")).toUtf8());
}

bool ClickHouseSourcePrivate::rows(QNetworkReply *reply, QJsonArray *rows)
{
    const QByteArray body = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        if (error.isEmpty()) {
            error = status ? QStringLiteral("ClickHouse at %1 answered %2: %3")
                                 .arg(url.toDisplayString(QUrl::RemoveUserInfo)).arg(status)
                                 .arg(QString::fromUtf8(body.left(400)).trimmed())
                           : QStringLiteral("cannot reach ClickHouse at %1: %2")
                                 .arg(url.toDisplayString(QUrl::RemoveUserInfo), reply->errorString());
        }
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (!doc.isObject()) {
        if (error.isEmpty())
            error = QStringLiteral("ClickHouse answered something that is not JSON: %1").arg(parseError.errorString());
        return false;
    }
    *rows = doc.object().value(QLatin1String("data")).toArray();
    return true;
}

ClickHouseSource::ClickHouseSource(const QUrl &url, const QString &table, const ReportFilter &filter)
    : d(new ClickHouseSourcePrivate)
{
    d->url = url;
    d->table = table;
    d->filter = filter;
}

ClickHouseSource::~ClickHouseSource() = default;

QString ClickHouseSource::errorString() const
{
    return d->error;
}

QString ClickHouseSource::displayUrl() const
{
    return d->url.toDisplayString(QUrl::RemoveUserInfo);
}

bool ClickHouseSource::read(Aggregates *out)
{
    if (!d->url.isValid() || (d->url.scheme() != QLatin1String("http") && d->url.scheme() != QLatin1String("https"))) {
        d->error = QStringLiteral("not an http(s) URL: %1").arg(d->url.toDisplayString(QUrl::RemoveUserInfo));
        return false;
    }
    const QString from = d->base();
    const QString shortcut = QLatin1String(ShortcutSql);
    // Independent queries run side by side; the server spreads them over its cores.
    const QStringList queries = {
        QStringLiteral("SELECT sessionid, min(hardwareid), min(ver), min(t), max(t), count(), countIf(kind = 1),"
                       " countIf(kind = 1 AND %2), maxIf(toInt64OrZero(duration), fncode = '990002'),"
                       " countIf(fncode = '990002') FROM %1 GROUP BY sessionid").arg(from, shortcut),
        QStringLiteral("SELECT fncode, kind, label, min(fnname), minIf(fngroup, fngroup NOT IN ('', 'null')), count()"
                       " FROM %1 GROUP BY fncode, kind, label").arg(from),
        QStringLiteral("SELECT fncode, count(), countIf(shortcuts = 0) FROM (SELECT fncode, hardwareid,"
                       " countIf(%2) AS shortcuts FROM %1 WHERE kind = 1 GROUP BY fncode, hardwareid)"
                       " GROUP BY fncode").arg(from, shortcut),
        QStringLiteral("SELECT firstKey, count() FROM %1 WHERE kind = 2 GROUP BY firstKey").arg(from),
        QStringLiteral("SELECT projectid, max(prjfullpath), countIf(fncode = '990003'), countIf(fncode = '990004'),"
                       " countIf(fncode = '990005'), countIf(fncode = '990006'),"
                       " sumIf(toInt64OrZero(duration), fncode = '990006'), max(toInt64OrZero(prjedocnt)),"
                       " max(toInt64OrZero(prjsize)) FROM %1"
                       " WHERE fncode IN ('990003', '990004', '990005', '990006') GROUP BY projectid").arg(from),
        QStringLiteral("SELECT day, count(), countIf(kind = 1), uniqExact(sessionid) FROM %1 GROUP BY day").arg(from),
    };
    QEventLoop loop;
    std::vector<QNetworkReply *> replies;
    int pending = queries.size();
    for (const QString &q : queries) {
        replies.push_back(d->post(q));
        QObject::connect(replies.back(), &QNetworkReply::finished, &loop, [&] {
            if (--pending == 0)
                loop.quit();
        });
    }
    loop.exec();
    std::vector<QJsonArray> results(replies.size());
    bool ok = true;
    for (size_t i = 0; i < replies.size(); ++i) {
        ok = d->rows(replies[i], &results[i]) && ok;
        replies[i]->deleteLater();
    }
    if (!ok)
        return false;

    Aggregates a;
    for (const QJsonValue &v : results[0]) {
        const QJsonArray r = v.toArray();
        SessionAgg &s = a.sessions[toStd(r[0])];
        s.machine = toStd(r[1]);
        s.ver = toStd(r[2]);
        s.firstSec = toInt(r[3]);
        s.lastSec = toInt(r[4]);
        s.records = toInt(r[5]);
        s.actions = toInt(r[6]);
        s.shortcuts = toInt(r[7]);
        s.closeSeconds = toInt(r[9]) > 0 ? toInt(r[8]) : -1;
    }
    std::map<std::string, bool> named;
    for (const QJsonValue &v : results[1]) {
        const QJsonArray r = v.toArray();
        const std::string code = toStd(r[0]);
        CodeAgg &c = a.codes[code];
        const int kind = int(toInt(r[1]));
        const std::string label = toStd(r[2]), name = toStd(r[3]), group = toStd(r[4]);
        const int64_t n = toInt(r[5]);
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
        default: c.events += n; break;
        }
    }
    for (const QJsonValue &v : results[2]) {
        const QJsonArray r = v.toArray();
        CodeAgg &c = a.codes[toStd(r[0])];
        c.machines = toInt(r[1]);
        c.menuOnlyMachines = toInt(r[2]);
    }
    for (const QJsonValue &v : results[3]) {
        const QJsonArray r = v.toArray();
        a.properties[toStd(r[0])] = toInt(r[1]);
    }
    for (const QJsonValue &v : results[4]) {
        const QJsonArray r = v.toArray();
        ProjectAgg &p = a.projects[toStd(r[0])];
        p.path = toStd(r[1]);
        p.news = toInt(r[2]);
        p.opens = toInt(r[3]);
        p.saves = toInt(r[4]);
        p.closes = toInt(r[5]);
        p.openSeconds = toInt(r[6]);
        p.edits = toInt(r[7]);
        p.sizeKB = toInt(r[8]);
    }
    for (const QJsonValue &v : results[5]) {
        const QJsonArray r = v.toArray();
        DayAgg &day = a.days[toStd(r[0])];
        day.records = toInt(r[1]);
        day.actions = toInt(r[2]);
        day.sessions = toInt(r[3]);
    }

    // The session with the most records (the smallest id among equals) as a timeline.
    auto chosen = std::max_element(a.sessions.begin(), a.sessions.end(), [](const auto &x, const auto &y) {
        return x.second.records < y.second.records; // first of the largest: the smallest id
    });
    if (chosen != a.sessions.end()) {
        a.timelineSession = chosen->first;
        QNetworkReply *reply = d->post(QStringLiteral("SELECT seq, trigertime, fncode, fnname, kind, label FROM %1"
                                                      " WHERE sessionid = %2 ORDER BY seq LIMIT %3")
                                           .arg(from, quoted(chosen->first)).arg(TimelineLimit));
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        QJsonArray rows;
        ok = d->rows(reply, &rows);
        reply->deleteLater();
        if (!ok)
            return false;
        for (const QJsonValue &v : rows) {
            const QJsonArray r = v.toArray();
            TimelineEvent e;
            e.seq = uint64_t(toInt(r[0]));
            e.trigertime = toStd(r[1]);
            e.code = toStd(r[2]);
            e.name = toStd(r[3]);
            e.kind = RecordKind(toInt(r[4]));
            e.location = e.kind == Action ? locationOf(toStd(r[5])) : NoLocation;
            a.timeline.push_back(std::move(e));
        }
    }
    *out = std::move(a);
    return true;
}
