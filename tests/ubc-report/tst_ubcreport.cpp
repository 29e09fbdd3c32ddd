#include <QtCore>
#include <QtTest>

namespace {

struct Run { int code; QByteArray out; QString err; };

Run report(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(UBC_REPORT_EXE), args);
    const bool exited = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
    return {exited ? p.exitCode() : -1, p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
}

QJsonObject readJson(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}

// One record line with the 25 fields in the library's order, then seq and attrs.
QByteArray record(const QString &session, int seq, const QString &time, const QString &code, const QString &name,
                  const QString &group, const QVariantMap &attrs = {}, const QVariantMap &fields = {})
{
    static const QStringList names = {
        QStringLiteral("pcode"), QStringLiteral("fncode"), QStringLiteral("fnname"), QStringLiteral("fngroup"),
        QStringLiteral("trigertime"), QStringLiteral("gid"), QStringLiteral("vername"), QStringLiteral("ver"),
        QStringLiteral("ver2"), QStringLiteral("debug"), QStringLiteral("usetype"), QStringLiteral("utype"),
        QStringLiteral("mac"), QStringLiteral("hardwareid"), QStringLiteral("ip"), QStringLiteral("projectid"),
        QStringLiteral("prjfullpath"), QStringLiteral("prjtext"), QStringLiteral("prjedocnt"), QStringLiteral("prjsize"),
        QStringLiteral("prjcost"), QStringLiteral("regionrule"), QStringLiteral("major"), QStringLiteral("duration"),
        QStringLiteral("sessionid")};
    QVariantMap v = fields;
    v.insert(QStringLiteral("fncode"), code);
    v.insert(QStringLiteral("fnname"), name);
    v.insert(QStringLiteral("fngroup"), group);
    v.insert(QStringLiteral("trigertime"), time);
    v.insert(QStringLiteral("sessionid"), session);
    QByteArray line = "{";
    for (const QString &n : names)
        line += '"' + n.toUtf8() + "\":" + QJsonDocument(QJsonArray{v.value(n).toString()}).toJson(QJsonDocument::Compact).mid(1).chopped(1) + ',';
    line += "\"seq\":" + QByteArray::number(seq) + ",\"attrs\":"
            + QJsonDocument(QJsonObject::fromVariantMap(attrs)).toJson(QJsonDocument::Compact) + "}\n";
    return line;
}

QVariantMap loc(const QString &label) { return {{QStringLiteral("location"), label}}; }

// Session A (machine m1, Chinese labels, closed), B (m2, English, not closed),
// C (m3, product OTHER, one record); a duplicate, a broken line, a line without seq.
QByteArray knownLog()
{
    const QVariantMap a{{QStringLiteral("pcode"), QStringLiteral("KEL")}, {QStringLiteral("hardwareid"), QStringLiteral("m1")},
                        {QStringLiteral("ver"), QStringLiteral("1.0.0")}};
    QVariantMap b = a, c = a;
    b[QStringLiteral("hardwareid")] = QStringLiteral("m2");
    b[QStringLiteral("ver")] = QStringLiteral("2.0.0");
    c = b;
    c[QStringLiteral("hardwareid")] = QStringLiteral("m3");
    c[QStringLiteral("pcode")] = QStringLiteral("OTHER");
    auto with = [](QVariantMap m, const QVariantMap &more) {
        for (auto it = more.begin(); it != more.end(); ++it)
            m.insert(it.key(), it.value());
        return m;
    };
    const QString A = QStringLiteral("session-a"), B = QStringLiteral("session-b"), C = QStringLiteral("session-c");
    const QString sp = QStringLiteral("特殊功能");
    QByteArray log;
    log += record(A, 1, QStringLiteral("2026-12-01T08:00:00.000+08:00"), QStringLiteral("990007"), QStringLiteral("打开软件"), sp, {}, a);
    log += record(A, 2, QStringLiteral("2026-12-01T08:00:01.000+08:00"), QStringLiteral("990001"), QStringLiteral("启动软件"), sp, {}, a);
    log += record(A, 3, QStringLiteral("2026-12-01T08:00:02.000+08:00"), QStringLiteral("990003"), QStringLiteral("新建工程"), sp, {},
                  with(a, {{QStringLiteral("projectid"), QStringLiteral("P1")}, {QStringLiteral("prjfullpath"), QStringLiteral("/p/a.kelprj")}}));
    log += record(A, 4, QStringLiteral("2026-12-01T08:00:10.000+08:00"), QStringLiteral("210101"), QStringLiteral("绘制墙"), QStringLiteral("绘图"),
                  loc(QStringLiteral("Ribbon工具栏")), a);
    log += record(A, 5, QStringLiteral("2026-12-01T08:00:11.000+08:00"), QStringLiteral("210101"), QStringLiteral("绘制墙"), QStringLiteral("绘图"),
                  {{QStringLiteral("layer"), QStringLiteral("A")}, {QStringLiteral("region"), QStringLiteral("一区")}}, a);
    const QByteArray shortcut = record(A, 6, QStringLiteral("2026-12-01T08:00:20.000+08:00"), QStringLiteral("210202"), QStringLiteral("复制"),
                                       QStringLiteral("编辑"), loc(QStringLiteral("快捷键")), a);
    log += shortcut;
    log += record(A, 7, QStringLiteral("2026-12-01T08:00:30.000+08:00"), QStringLiteral("210210"), QStringLiteral("墙1-属性-厚度"),
                  QStringLiteral("null"), {{QStringLiteral("厚度"), QStringLiteral("200")}}, a);
    log += "{not json\n";
    log += record(A, 8, QStringLiteral("2026-12-01T08:01:00.000+08:00"), QStringLiteral("990005"), QStringLiteral("保存工程"), sp, {},
                  with(a, {{QStringLiteral("projectid"), QStringLiteral("P1")}, {QStringLiteral("prjedocnt"), QStringLiteral("3")},
                           {QStringLiteral("prjsize"), QStringLiteral("12")}}));
    log += shortcut; // delivered twice
    log += record(A, 9, QStringLiteral("2026-12-01T08:01:42.000+08:00"), QStringLiteral("990006"), QStringLiteral("关闭工程"), sp, {},
                  with(a, {{QStringLiteral("projectid"), QStringLiteral("P1")}, {QStringLiteral("prjedocnt"), QStringLiteral("4")},
                           {QStringLiteral("prjsize"), QStringLiteral("12")}, {QStringLiteral("duration"), QStringLiteral("100")}}));
    log += record(A, 10, QStringLiteral("2026-12-01T08:02:01.000+08:00"), QStringLiteral("990002"), QStringLiteral("关闭软件"), sp, {},
                  with(a, {{QStringLiteral("duration"), QStringLiteral("120")}}));
    log += QByteArray(record(A, 11, QStringLiteral("2026-12-01T08:03:00.000+08:00"), QStringLiteral("1"), QStringLiteral("x"), sp))
               .replace("\"seq\":11,", "");
    log += record(B, 1, QStringLiteral("2026-12-02T09:00:00.000+08:00"), QStringLiteral("990001"), QStringLiteral("Start software"), sp, {}, b);
    log += record(B, 2, QStringLiteral("2026-12-02T09:00:05.000+08:00"), QStringLiteral("990004"), QStringLiteral("Open project"), sp, {},
                  with(b, {{QStringLiteral("projectid"), QStringLiteral("P1")}}));
    log += record(B, 3, QStringLiteral("2026-12-02T09:00:10.000+08:00"), QStringLiteral("210202"), QStringLiteral("复制"), QStringLiteral("编辑"),
                  loc(QStringLiteral("Ribbon toolbar")), b);
    log += record(B, 4, QStringLiteral("2026-12-02T09:00:20.000+08:00"), QStringLiteral("210202"), QStringLiteral("复制"), QStringLiteral("编辑"),
                  loc(QStringLiteral("Right-click menu")), b);
    log += record(B, 5, QStringLiteral("2026-12-02T09:00:30.000+08:00"), QStringLiteral("210302"), QStringLiteral("三维视图"), QStringLiteral("视图"),
                  loc(QString()), b);
    log += record(B, 6, QStringLiteral("2026-12-02T09:00:40.000+08:00"), QStringLiteral("210210"), QStringLiteral("Wall1-Property-Height"),
                  QStringLiteral("null"), {{QStringLiteral("Height"), QStringLiteral("3000")}}, b);
    log += record(B, 7, QStringLiteral("2026-12-02T09:00:55.000+08:00"), QStringLiteral("990006"), QStringLiteral("Close project"), sp, {},
                  with(b, {{QStringLiteral("projectid"), QStringLiteral("P1")}, {QStringLiteral("duration"), QStringLiteral("50")}}));
    log += record(C, 1, QStringLiteral("2026-12-03T10:00:00.000+08:00"), QStringLiteral("210101"), QStringLiteral("绘制墙"), QStringLiteral("绘图"),
                  loc(QStringLiteral("Ribbon工具栏")), c);
    return log;
}

const QByteArray CodedJournal =
    "{\"time\":\"2026-12-01T00:00:10.000Z\",\"code\":\"210101\",\"attrs\":{\"layer\":\"A\",\"tjsc\":\"5\"}}\n"
    "{\"time\":\"2026-12-01T00:00:40.000Z\",\"code\":\"210101\",\"attrs\":{\"tjsc\":\"7\"}}\n"
    "{\"time\":\"2026-12-01T00:01:00.000Z\",\"code\":\"580101004\",\"attrs\":{\"prjedocnt\":\"3\"}}\n"
    "{\"time\":\"2026-12-01T00:01:10.000Z\",\"code\":\"580101002\",\"attrs\":null}\n"
    "garbage\n"
    "{\"time\":\"2026-12-01T00:01:40.000Z\",\"code\":\"210501\",\"attrs\":{\"elements\":\"2\"}}\n";

QJsonObject find(const QJsonArray &list, const char *key, const QString &value)
{
    for (const QJsonValue &v : list)
        if (v.toObject().value(QLatin1String(key)).toString() == value)
            return v.toObject();
    return {};
}

double num(const QJsonObject &o, const char *key) { return o.value(QLatin1String(key)).toDouble(); }

QString startClickHouse(const QString &dir)
{
    QProcess p;
    p.start(QStringLiteral(CLICKHOUSE_SCRIPT), {QStringLiteral("start"), dir, QStringLiteral("--schema")});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(QLatin1Char('\n')).last();
}

// The rows the fleet's uploader inserts: attributes as two arrays, the time in UTC.
QByteArray clickhouseRows(const QByteArray &log)
{
    QByteArray rows;
    for (const QByteArray &line : log.split('\n')) {
        QJsonObject o = QJsonDocument::fromJson(line).object();
        if (!o.contains(QLatin1String("seq")))
            continue;
        const QJsonObject attrs = o.take(QLatin1String("attrs")).toObject();
        o.insert(QStringLiteral("attrs.key"), QJsonArray::fromStringList(attrs.keys()));
        QJsonArray values;
        for (const QString &k : attrs.keys())
            values.append(attrs.value(k));
        o.insert(QStringLiteral("attrs.value"), values);
        o.insert(QStringLiteral("time"), QDateTime::fromString(o.value(QLatin1String("trigertime")).toString(), Qt::ISODateWithMs)
                                             .toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        rows += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    }
    return rows;
}

bool post(const QString &url, const QByteArray &query, const QByteArray &body)
{
    QNetworkAccessManager network;
    QUrl u(url);
    u.setQuery(QStringLiteral("query=") + QString::fromUtf8(QUrl::toPercentEncoding(QString::fromUtf8(query))));
    QNetworkRequest request(u);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    QNetworkReply *reply = network.post(request, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const bool ok = reply->error() == QNetworkReply::NoError;
    if (!ok)
        qWarning() << reply->readAll();
    delete reply;
    return ok;
}

} // namespace

class TestUbcReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = m_dir.filePath(QStringLiteral("records.jsonl"));
        writeFile(m_log, knownLog());
        m_coded = m_dir.filePath(QStringLiteral("coded.jsonl"));
        writeFile(m_coded, CodedJournal);
    }

    void knownLogNumberByNumber()
    {
        const QString json = m_dir.filePath(QStringLiteral("known.json"));
        const Run r = report({m_log, QStringLiteral("--coded"), m_coded, QStringLiteral("--json"), json,
                              QStringLiteral("--dict"), QStringLiteral(SAMPLE_DB)});
        QCOMPARE(r.code, 0);
        const QJsonObject s = readJson(json);
        const QJsonObject t = s.value(QLatin1String("totals")).toObject(), in = s.value(QLatin1String("input")).toObject();
        QCOMPARE(num(in, "lines"), 21.0);
        QCOMPARE(num(in, "malformed"), 2.0);
        QCOMPARE(num(in, "duplicates"), 1.0);
        QCOMPARE(num(in, "codedMalformed"), 1.0);
        QCOMPARE(num(t, "records"), 18.0);
        QCOMPARE(num(t, "sessions"), 3.0);
        QCOMPARE(num(t, "machines"), 3.0);
        QCOMPARE(num(t, "actions"), 6.0);
        QCOMPARE(num(t, "events"), 1.0);
        QCOMPARE(num(t, "edits"), 2.0);
        QCOMPARE(num(t, "lifecycle"), 9.0);
        QCOMPARE(num(t, "workSeconds"), 175.0); // A closed after 120 s, B open 55 s, C one record
        QCOMPARE(num(t, "unclosedSessions"), 2.0);
        QCOMPARE(num(t, "medianSessionSeconds"), 55.0);

        const QJsonArray commands = s.value(QLatin1String("commands")).toArray();
        QCOMPARE(commands.first().toObject().value(QLatin1String("code")).toString(), QStringLiteral("210202"));
        const QJsonObject copy = find(commands, "code", QStringLiteral("210202"));
        QCOMPARE(num(copy, "actions"), 3.0);
        QCOMPARE(num(copy, "shortcut"), 1.0);
        QCOMPARE(num(copy, "shortcutShare"), 0.3333);
        QCOMPARE(num(copy, "machines"), 2.0);
        QCOMPARE(num(copy, "menuOnlyMachines"), 1.0);
        const QJsonObject byLocation = copy.value(QLatin1String("byLocation")).toObject();
        QCOMPARE(num(byLocation, "ribbon") + num(byLocation, "contextMenu") + num(byLocation, "shortcut"), 3.0);
        const QJsonObject wall = find(commands, "code", QStringLiteral("210101"));
        QCOMPARE(num(wall, "actions"), 2.0);
        QCOMPARE(num(wall, "events"), 1.0);
        QCOMPARE(wall.value(QLatin1String("group")).toString(), QStringLiteral("绘图"));
        QCOMPARE(num(find(commands, "code", QStringLiteral("210210")), "edits"), 2.0);
        const QJsonArray gaps = s.value(QLatin1String("shortcutGaps")).toArray();
        QCOMPARE(gaps.size(), 1);
        QCOMPARE(gaps[0].toObject().value(QLatin1String("code")).toString(), QStringLiteral("210202"));

        const QJsonArray locations = s.value(QLatin1String("locations")).toArray();
        QCOMPARE(num(find(locations, "location", QStringLiteral("ribbon")), "count"), 3.0);
        QCOMPARE(num(find(locations, "location", QStringLiteral("ribbon")), "share"), 0.5);
        QCOMPARE(num(find(locations, "location", QStringLiteral("none")), "count"), 1.0);
        QCOMPARE(num(find(locations, "location", QStringLiteral("shortcut")), "count"), 1.0);

        const QJsonArray properties = s.value(QLatin1String("properties")).toArray();
        QCOMPARE(properties.size(), 2);
        QCOMPARE(num(find(properties, "property", QStringLiteral("厚度")), "edits"), 1.0);
        QCOMPARE(num(find(properties, "property", QStringLiteral("Height")), "edits"), 1.0);

        const QJsonObject project = find(s.value(QLatin1String("projects")).toArray(), "id", QStringLiteral("P1"));
        QCOMPARE(project.value(QLatin1String("name")).toString(), QStringLiteral("a.kelprj"));
        QCOMPARE(num(project, "openSeconds"), 150.0);
        QCOMPARE(num(project, "saves"), 1.0);
        QCOMPARE(num(project, "closes"), 2.0);
        QCOMPARE(num(project, "edits"), 4.0);
        QCOMPARE(num(project, "sizeKB"), 12.0);

        const QJsonArray versions = s.value(QLatin1String("versions")).toArray();
        QCOMPARE(versions.size(), 2);
        const QJsonObject v2 = find(versions, "ver", QStringLiteral("2.0.0"));
        QCOMPARE(num(v2, "sessions"), 2.0);
        QCOMPARE(num(v2, "machines"), 2.0);
        QCOMPARE(num(v2, "actions"), 4.0);
        QCOMPARE(num(find(versions, "ver", QStringLiteral("1.0.0")), "shortcutShare"), 0.5);

        const QJsonArray daily = s.value(QLatin1String("daily")).toArray();
        QCOMPARE(daily.size(), 3);
        QCOMPARE(num(find(daily, "day", QStringLiteral("2026-12-01")), "records"), 10.0);
        QCOMPARE(num(find(daily, "day", QStringLiteral("2026-12-02")), "actions"), 3.0);

        const QJsonObject timeline = s.value(QLatin1String("timeline")).toObject();
        QCOMPARE(timeline.value(QLatin1String("session")).toString(), QStringLiteral("session-a"));
        const QJsonArray events = timeline.value(QLatin1String("events")).toArray();
        QCOMPARE(events.size(), 10);
        QCOMPARE(num(events.last().toObject(), "t"), 121000.0);
        QCOMPARE(events[5].toObject().value(QLatin1String("location")).toString(), QStringLiteral("shortcut"));
        QCOMPARE(events[6].toObject().value(QLatin1String("kind")).toString(), QStringLiteral("edit"));

        const QJsonObject stats = s.value(QLatin1String("statistics")).toObject();
        const QJsonObject wallStat = find(stats.value(QLatin1String("sent")).toArray(), "code", QStringLiteral("210101"));
        QCOMPARE(num(wallStat, "count"), 2.0);
        QCOMPARE(num(wallStat, "totalSeconds"), 12.0);
        QCOMPARE(num(wallStat, "maxSeconds"), 7.0);
        QCOMPARE(num(stats, "saves"), 1.0);
        QCOMPARE(num(stats, "idleReturns"), 1.0);
        QCOMPARE(num(stats, "idleReturnsPerHour"), 20.57);

        const QJsonObject dict = s.value(QLatin1String("dictionary")).toObject();
        QCOMPARE(num(dict, "commands"), 44.0);
        QCOMPARE(num(dict, "used"), 4.0); // 210101, 210202, 210302, 210210
        QVERIFY(find(dict.value(QLatin1String("unused")).toArray(), "code", QStringLiteral("210101")).isEmpty());

        // The text summary says the same.
        const QString text = QString::fromUtf8(r.out);
        QVERIFY2(text.contains(QStringLiteral("records:     18 (6 commands, 1 named events, 2 property edits, 9 lifecycle)")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("sessions:    3 on 3 machines, 2 without a close record")));
        QVERIFY(text.contains(QStringLiteral("2 malformed lines skipped, 1 duplicates counted once")));
        QVERIFY(text.contains(QStringLiteral("Dictionary commands never used (40 of 44)")));
        QVERIFY(r.err.contains(m_log + QStringLiteral(":8: malformed line skipped: not a JSON object")));
        QVERIFY(r.err.contains(m_log + QStringLiteral(":13: malformed line skipped: seq missing")));
    }

    void filtersDuplicatesAndErrors()
    {
        const QString json = m_dir.filePath(QStringLiteral("f.json"));
        // The same file twice: every record is a duplicate the second time.
        Run r = report({m_log, m_log, QStringLiteral("--product"), QStringLiteral("KEL"), QStringLiteral("--since"),
                        QStringLiteral("2026-12-02"), QStringLiteral("--json"), json, QStringLiteral("--quiet")});
        QCOMPARE(r.code, 0);
        QJsonObject s = readJson(json);
        QCOMPARE(num(s.value(QLatin1String("totals")).toObject(), "records"), 7.0);
        QCOMPARE(num(s.value(QLatin1String("totals")).toObject(), "sessions"), 1.0);
        QCOMPARE(num(s.value(QLatin1String("input")).toObject(), "duplicates"), 7.0);
        QCOMPARE(num(s.value(QLatin1String("input")).toObject(), "filtered"), 2.0 * 12);

        const QString empty = m_dir.filePath(QStringLiteral("empty.jsonl"));
        writeFile(empty, QByteArray());
        r = report({empty, QStringLiteral("--json"), json, QStringLiteral("--html"), m_dir.filePath(QStringLiteral("e.html"))});
        QCOMPARE(r.code, 0);
        s = readJson(json);
        QCOMPARE(num(s.value(QLatin1String("totals")).toObject(), "records"), 0.0);
        QVERIFY(s.value(QLatin1String("commands")).toArray().isEmpty());

        r = report({m_dir.filePath(QStringLiteral("missing.jsonl"))});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains(QStringLiteral("missing.jsonl")));
        QCOMPARE(report({}).code, 1);
        QCOMPARE(report({m_log, QStringLiteral("--since"), QStringLiteral("yesterday")}).code, 1);
        r = report({QStringLiteral("--clickhouse"), QStringLiteral("http://127.0.0.1:1/")});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains(QStringLiteral("cannot reach ClickHouse")));
        QCOMPARE(report({m_log, QStringLiteral("--json"), m_dir.filePath(QStringLiteral("no/such/dir/x.json"))}).code, 3);
    }

    void htmlIsWellFormedWithItsCharts()
    {
        for (const QString &lang : {QStringLiteral("zh"), QStringLiteral("en")}) {
            const QString html = m_dir.filePath(lang + QStringLiteral(".html"));
            QCOMPARE(report({m_log, QStringLiteral("--html"), html, QStringLiteral("--lang"), lang, QStringLiteral("--quiet")}).code, 0);
            QFile f(html);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray page = f.readAll();
            QXmlStreamReader xml(page);
            QStringList sections, external;
            int svgs = 0, bars = 0, marks = 0, slices = 0;
            while (!xml.atEnd()) {
                if (xml.readNext() != QXmlStreamReader::StartElement)
                    continue;
                const QXmlStreamAttributes a = xml.attributes();
                const QString cls = a.value(QLatin1String("class")).toString();
                if (xml.name() == QLatin1String("section"))
                    sections << a.value(QLatin1String("id")).toString();
                svgs += xml.name() == QLatin1String("svg");
                bars += xml.name() == QLatin1String("rect") && cls == QLatin1String("bar");
                marks += cls.startsWith(QLatin1String("mark"));
                slices += cls == QLatin1String("slice");
                if (xml.name() == QLatin1String("script") || xml.name() == QLatin1String("link") || a.hasAttribute(QLatin1String("src")))
                    external << xml.name().toString();
            }
            QVERIFY2(!xml.hasError(), qPrintable(xml.errorString() + QStringLiteral(" at line %1").arg(xml.lineNumber())));
            for (const char *id : {"top-commands", "locations", "shortcut-share", "projects", "timeline", "daily"})
                QVERIFY2(sections.contains(QLatin1String(id)), id);
            QVERIFY(external.isEmpty());
            QVERIFY(!page.contains("url("));
            QCOMPARE(svgs, 6);
            QCOMPARE(marks, 10);  // the timeline's ten records
            QCOMPARE(slices, 4);  // ribbon, context menu, shortcut, none
            QVERIFY(bars >= 3 + 3 + 1 + 6); // top commands by location, shortcut share, project, daily
            QVERIFY(page.contains(lang == QLatin1String("zh") ? "最常用的命令" : "Top commands"));
        }
    }

    void clickhouseGivesTheSameSummary()
    {
        QTemporaryDir server;
        const QString url = startClickHouse(server.path());
        QVERIFY2(url.startsWith(QLatin1String("http://127.0.0.1:")), "clickhouse-server did not start");
        const auto stop = qScopeGuard([&] {
            QProcess::execute(QStringLiteral(CLICKHOUSE_SCRIPT), {QStringLiteral("stop"), server.path()});
        });
        // Two inserts, so that the duplicate lies in a part of its own, not merged yet.
        const QByteArray rows = clickhouseRows(knownLog());
        QVERIFY(post(url, "INSERT INTO ubc.records FORMAT JSONEachRow", rows));
        QVERIFY(post(url, "INSERT INTO ubc.records FORMAT JSONEachRow", rows.split('\n').at(5) + '\n'));

        const QList<QStringList> optionSets = {{}, {QStringLiteral("--product"), QStringLiteral("KEL"), QStringLiteral("--until"), QStringLiteral("2026-12-01")}};
        for (const QStringList &options : optionSets) {
            const QString fromFile = m_dir.filePath(QStringLiteral("file.json")), fromServer = m_dir.filePath(QStringLiteral("server.json"));
            QCOMPARE(report(QStringList{m_log, QStringLiteral("--quiet"), QStringLiteral("--json"), fromFile} + options).code, 0);
            const Run r = report(QStringList{QStringLiteral("--clickhouse"), url, QStringLiteral("--quiet"), QStringLiteral("--json"), fromServer} + options);
            QVERIFY2(r.code == 0, qPrintable(r.err));
            QJsonObject a = readJson(fromFile), b = readJson(fromServer);
            QVERIFY(num(a.value(QLatin1String("totals")).toObject(), "records") > 0);
            a.remove(QStringLiteral("input"));
            b.remove(QStringLiteral("input"));
            for (const QString &key : a.keys())
                QVERIFY2(a.value(key) == b.value(key), qPrintable(key + QStringLiteral(": ")
                    + QString::fromUtf8(QJsonDocument(QJsonObject{{key, b.value(key)}}).toJson(QJsonDocument::Compact))));
            QCOMPARE(a, b);
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_log, m_coded;
};

QTEST_GUILESS_MAIN(TestUbcReport)
#include "tst_ubcreport.moc"
