#include "ClickHouseSource.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QLoggingCategory>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

#include <algorithm>

using namespace UbcReport;

Q_LOGGING_CATEGORY(lcClickHouse, "ubc.report.clickhouse", QtWarningMsg)

namespace {

QString quoted(const std::string &text)
{
    QString s = QString::fromStdString(text);
    s.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

// The same record kinds as classify(): lifecycle 0, action 1, property edit 2, named event 3.
const char LifecycleSql[] = "fncode IN ('990001','990002','990003','990004','990005','990006','990007')";
const char KindSql[] =
    "multiIf(fncode IN ('990001','990002','990003','990004','990005','990006','990007'), 0,"
    " has(attrs.key, 'location'), 1,"
    " length(attrs.key) = 1 AND (endsWith(fnname, concat('-属性-', attrs.key[1]))"
    " OR endsWith(fnname, concat('-Property-', attrs.key[1]))), 2, 3)";
// Sessions named in a query; beyond this many, all go through the GROUP BY.
const int MaxNamedSessions = 2000;
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

    QString dupSessions;        // quoted ids of the sessions with unmerged copies
    bool allDuplicated = false; // too many to name: every session is read through the GROUP BY

    QString where(const QString &condition = QString()) const;
    QString from(const QStringList &columns, const QString &condition = QString()) const;
    bool run(const QStringList &queries, std::vector<QJsonArray> *results);
    QNetworkReply *post(const QString &query);
    bool rows(QNetworkReply *reply, QJsonArray *rows);
};

QString ClickHouseSourcePrivate::where(const QString &condition) const
{
    QStringList terms;
    if (filter.byProduct)
        terms << QStringLiteral("pcode = %1").arg(quoted(filter.product));
    if (!filter.since.empty())
        terms << QStringLiteral("substring(trigertime, 1, 10) >= %1").arg(quoted(filter.since));
    if (!filter.until.empty())
        terms << QStringLiteral("substring(trigertime, 1, 10) <= %1").arg(quoted(filter.until));
    if (!condition.isEmpty())
        terms << condition;
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QLatin1String(" AND "));
}

// The filtered records, each (sessionid, seq) once, with just the columns a
// query needs ("expression AS name" or a column; 18.16 reads every column a
// subquery names). Sessions whose copies have not merged yet (dupSessions) go
// through a GROUP BY sessionid, seq; the others are read as they are, which
// costs a fraction of FINAL.
QString ClickHouseSourcePrivate::from(const QStringList &columns, const QString &condition) const
{
    QStringList plain, inner, outer;
    for (int i = 0; i < columns.size(); ++i) {
        QString c = columns[i];
        c.replace(QLatin1String("$kind"), QString::fromUtf8(KindSql) + QLatin1String(" AS kind"))
            .replace(QLatin1String("$label"), QStringLiteral("attrs.value[indexOf(attrs.key, 'location')] AS label"));
        const int as = c.lastIndexOf(QLatin1String(" AS "));
        const QString expression = as < 0 ? c : c.left(as), name = as < 0 ? c : c.mid(as + 4);
        plain << c;
        inner << QStringLiteral("%1 AS c%2").arg(expression).arg(i);
        outer << QStringLiteral("any(c%1) AS %2").arg(i).arg(name);
    }
    QString andCondition = condition.isEmpty() ? QString() : condition + QLatin1String(" AND ");
    const QString dedup = QStringLiteral("SELECT %1 FROM (SELECT %2, sessionid AS dedupSession, seq AS dedupSeq FROM %3%4)"
                                         " GROUP BY dedupSession, dedupSeq")
                              .arg(outer.join(QLatin1String(", ")), inner.join(QLatin1String(", ")), table,
                                   where(allDuplicated ? condition : andCondition + QStringLiteral("sessionid IN (%1)").arg(dupSessions)));
    if (allDuplicated)
        return QLatin1Char('(') + dedup + QLatin1Char(')');
    const QString direct = QStringLiteral("SELECT %1 FROM %2%3").arg(plain.join(QLatin1String(", ")), table,
        where(dupSessions.isEmpty() ? condition : andCondition + QStringLiteral("sessionid NOT IN (%1)").arg(dupSessions)));
    if (dupSessions.isEmpty())
        return QLatin1Char('(') + direct + QLatin1Char(')');
    return QStringLiteral("(%1 UNION ALL %2)").arg(direct, dedup);
}

bool ClickHouseSourcePrivate::run(const QStringList &queries, std::vector<QJsonArray> *results)
{
    QEventLoop loop;
    std::vector<QNetworkReply *> replies;
    int pending = queries.size();
    for (const QString &q : queries) {
        replies.push_back(post(q));
        QObject::connect(replies.back(), &QNetworkReply::finished, &loop, [&] {
            if (--pending == 0)
                loop.quit();
        });
    }
    loop.exec();
    results->assign(replies.size(), QJsonArray());
    bool ok = true;
    for (size_t i = 0; i < replies.size(); ++i) {
        ok = rows(replies[i], &(*results)[i]) && ok;
        replies[i]->deleteLater();
    }
    return ok;
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
    QNetworkReply *reply = network.post(request, (query + QStringLiteral(" FORMAT JSONCompact")).toUtf8());
    if (lcClickHouse().isDebugEnabled()) {
        auto *timer = new QElapsedTimer;
        timer->start();
        QObject::connect(reply, &QNetworkReply::finished, reply, [timer, query] {
            qCDebug(lcClickHouse, "%lld ms: %s", timer->elapsed(), qUtf8Printable(query));
            delete timer;
        });
    }
    return reply;
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
    const QString shortcut = QString::fromUtf8(ShortcutSql);
    const QString action = QStringLiteral("has(attrs.key, 'location')");
    const QString lifecycle = QStringLiteral("fncode IN ('990003', '990004', '990005', '990006')");
    // The sessions, each record once, tell which sessions hold copies not merged yet.
    const QStringList sessionColumns = {QStringLiteral("sessionid"), QStringLiteral("seq"), QStringLiteral("hardwareid"),
                                        QStringLiteral("ver"), QStringLiteral("toUInt32(time) AS t"), QStringLiteral("fncode"),
                                        QStringLiteral("duration")};
    const QString sessions = QStringLiteral("SELECT sessionid, min(hardwareid), min(ver), min(t), max(t), uniqExact(seq),"
                                            " maxIf(toInt64OrZero(duration), fncode = '990002'), max(fncode = '990002'),"
                                            " count() FROM (SELECT %1 FROM %2%3) GROUP BY sessionid")
                                 .arg(sessionColumns.join(QLatin1String(", ")), d->table, d->where());
    auto others = [&] {
        return QStringList{
            QStringLiteral("SELECT fncode, kind, label, min(fnname), minIf(fngroup, fngroup NOT IN ('', 'null')), count()"
                           " FROM %1 GROUP BY fncode, kind, label")
                .arg(d->from({QStringLiteral("fncode"), QStringLiteral("fnname"), QStringLiteral("fngroup"), QStringLiteral("$kind"),
                              QStringLiteral("$label")})),
            // Whether a machine ever used a command's shortcut does not depend on duplicates.
            QStringLiteral("SELECT fncode, count(), countIf(shortcut = 0) FROM (SELECT fncode, hardwareid,"
                           " max(%1) AS shortcut FROM (SELECT fncode, hardwareid, $label FROM %2%3) GROUP BY fncode, hardwareid)"
                           " GROUP BY fncode")
                .arg(shortcut, d->table,
                     d->where(QStringLiteral("NOT (%1) AND %2").arg(QString::fromUtf8(LifecycleSql), action)))
                .replace(QLatin1String("$label"), QStringLiteral("attrs.value[indexOf(attrs.key, 'location')] AS label")),
            QStringLiteral("SELECT firstKey, count() FROM %1 WHERE kind = 2 GROUP BY firstKey")
                .arg(d->from({QStringLiteral("attrs.key[1] AS firstKey"), QStringLiteral("$kind")}, QStringLiteral("length(attrs.key) = 1"))),
            QStringLiteral("SELECT projectid, max(prjfullpath), countIf(fncode = '990003'), countIf(fncode = '990004'),"
                           " countIf(fncode = '990005'), countIf(fncode = '990006'),"
                           " sumIf(toInt64OrZero(duration), fncode = '990006'), max(toInt64OrZero(prjedocnt)),"
                           " max(toInt64OrZero(prjsize)) FROM %1 GROUP BY projectid")
                .arg(d->from({QStringLiteral("projectid"), QStringLiteral("prjfullpath"), QStringLiteral("fncode"),
                              QStringLiteral("duration"), QStringLiteral("prjedocnt"), QStringLiteral("prjsize")}, lifecycle)),
            // Days and the sessions' commands in one pass: a row per session and day it spans.
            QStringLiteral("SELECT day, sessionid, count(), countIf(kind = 1), countIf(kind = 1 AND %2) FROM %1"
                           " GROUP BY day, sessionid")
                .arg(d->from({QStringLiteral("substring(trigertime, 1, 10) AS day"), QStringLiteral("sessionid"),
                              QStringLiteral("$kind"), QStringLiteral("$label")}), shortcut),
        };
    };
    // Most tables have merged their copies: the other queries run beside the sessions' as if
    // no session had any, and run again, reading the duplicated sessions apart, if some have.
    d->dupSessions.clear();
    d->allDuplicated = false;
    std::vector<QJsonArray> results;
    if (!d->run(QStringList{sessions} + others(), &results))
        return false;
    QStringList duplicated;
    for (const QJsonValue &v : results[0]) {
        const QJsonArray r = v.toArray();
        if (toInt(r[8]) > toInt(r[5]))
            duplicated << quoted(toStd(r[0]));
    }
    if (!duplicated.isEmpty()) {
        d->allDuplicated = duplicated.size() > MaxNamedSessions;
        d->dupSessions = d->allDuplicated ? QString() : duplicated.join(QLatin1Char(','));
        std::vector<QJsonArray> again;
        if (!d->run(others(), &again))
            return false;
        std::copy(again.begin(), again.end(), results.begin() + 1);
    }

    // The session with the most records (the smallest id among equals) is shown as a timeline.
    std::string chosen;
    int64_t most = -1;
    for (const QJsonValue &v : results[0]) {
        const QJsonArray r = v.toArray();
        const std::string id = toStd(r[0]);
        if (toInt(r[5]) > most || (toInt(r[5]) == most && id < chosen)) {
            most = toInt(r[5]);
            chosen = id;
        }
    }
    if (most >= 0) {
        std::vector<QJsonArray> timeline;
        if (!d->run({QStringLiteral("SELECT seq, trigertime, fncode, fnname, kind, label FROM %1 ORDER BY seq LIMIT %2")
                         .arg(d->from({QStringLiteral("seq"), QStringLiteral("trigertime"), QStringLiteral("fncode"),
                                       QStringLiteral("fnname"), QStringLiteral("$kind"), QStringLiteral("$label")},
                                      QStringLiteral("sessionid = ") + quoted(chosen)))
                         .arg(TimelineLimit)},
                    &timeline))
            return false;
        results.push_back(timeline[0]);
    }

    Aggregates a;
    for (const QJsonValue &v : results[0]) {
        const QJsonArray r = v.toArray();
        SessionAgg &s = a.sessions[toStd(r[0])];
        s.machine = toStd(r[1]);
        s.ver = toStd(r[2]);
        s.firstSec = toInt(r[3]);
        s.lastSec = toInt(r[4]);
        s.records = toInt(r[5]);
        s.closeSeconds = toInt(r[7]) > 0 ? toInt(r[6]) : -1;
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
        day.records += toInt(r[2]);
        day.actions += toInt(r[3]);
        ++day.sessions;
        SessionAgg &session = a.sessions[toStd(r[1])];
        session.actions += toInt(r[3]);
        session.shortcuts += toInt(r[4]);
    }
    if (most >= 0) {
        a.timelineSession = chosen;
        for (const QJsonValue &v : results[6]) {
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
