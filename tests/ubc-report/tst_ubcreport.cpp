#include <RuvUbc.h>

#include <QtTest>

namespace {

struct Run { int code; QByteArray out; QString err; };

// With a password: as the read-only user ubc_report, the password in the environment.
Run report(const QStringList &args, const QString &password = QString())
{
    QProcess p;
    if (!password.isNull()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("UBC_REPORT_PASSWORD"), password);
        p.setProcessEnvironment(env);
    }
    p.start(QStringLiteral(UBC_REPORT_EXE), (password.isNull() ? QStringList() : QStringList{QStringLiteral("--user"), QStringLiteral("ubc_report")}) + args);
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

// "key=value;..." as a map.
QVariantMap pairs(const char *text)
{
    QVariantMap map;
    for (const QString &pair : QString::fromUtf8(text).split(QLatin1Char(';'), Qt::SkipEmptyParts))
        map.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return map;
}

// One record line with the 25 fields in the library's order, then seq (none for 0) and attrs.
QByteArray record(const QVariantMap &fields, int seq, const QVariantMap &attrs)
{
    QByteArray line = "{";
    for (const QString &n : RuvUbc::fieldNames())
        line += '"' + n.toUtf8() + "\":" + QJsonDocument(QJsonArray{fields.value(n).toString()}).toJson(QJsonDocument::Compact).mid(1).chopped(1) + ',';
    if (seq)
        line += "\"seq\":" + QByteArray::number(seq) + ',';
    return line + "\"attrs\":" + QJsonDocument(QJsonObject::fromVariantMap(attrs)).toJson(QJsonDocument::Compact) + "}\n";
}

// Session a (machine m1, Chinese labels, closed), b (m2, English, not closed),
// c (m3, product OTHER, one record); a broken line, a duplicate, a record without seq (which counts).
QByteArray knownLog()
{
    struct Row { char session; int seq; const char *time, *code, *name, *group, *attrs, *fields; };
    const char *sp = "特殊功能";
    const Row rows[] = {
        {'a', 1, "01T08:00:00", "990007", "打开软件", sp, "", ""},
        {'a', 2, "01T08:00:01", "990001", "启动软件", sp, "", ""},
        {'a', 3, "01T08:00:02", "990003", "新建工程", sp, "", "projectid=P1;prjfullpath=/p/a.kelprj"},
        {'a', 4, "01T08:00:10", "210101", "绘制墙", "绘图", "location=Ribbon工具栏", ""},
        {'a', 5, "01T08:00:11", "210101", "绘制墙", "绘图", "layer=A;region=一区", ""},
        {'a', 6, "01T08:00:20", "210202", "复制", "编辑", "location=快捷键", ""},
        {'a', 7, "01T08:00:30", "210210", "墙1-属性-厚度", "null", "厚度=200", ""},
        {'a', 8, "01T08:01:00", "990005", "保存工程", sp, "", "projectid=P1;prjedocnt=3;prjsize=12"},
        {'a', 9, "01T08:01:42", "990006", "关闭工程", sp, "", "projectid=P1;prjedocnt=4;prjsize=12;duration=100"},
        {'a', 10, "01T08:02:01", "990002", "关闭软件", sp, "", "duration=120"},
        {'a', 0, "01T08:03:00", "1", "x", sp, "", ""},
        {'b', 1, "02T09:00:00", "990001", "Start software", sp, "", ""},
        {'b', 2, "02T09:00:05", "990004", "Open project", sp, "", "projectid=P1"},
        {'b', 3, "02T09:00:10", "210202", "复制", "编辑", "location=Ribbon toolbar", ""},
        {'b', 4, "02T09:00:20", "210202", "复制", "编辑", "location=Right-click menu", ""},
        {'b', 5, "02T09:00:30", "210302", "三维视图", "视图", "location=", ""},
        {'b', 6, "02T09:00:40", "210210", "Wall1-Property-Height", "null", "Height=3000", ""},
        {'b', 7, "02T09:00:55", "990006", "Close project", sp, "", "projectid=P1;duration=50"},
        {'c', 1, "03T10:00:00", "210101", "绘制墙", "绘图", "location=Ribbon工具栏", ""},
    };
    const QHash<char, const char *> machine{{'a', "pcode=KEL;hardwareid=m1;ver=1.0.0"},
                                           {'b', "pcode=KEL;hardwareid=m2;ver=2.0.0"},
                                           {'c', "pcode=OTHER;hardwareid=m3;ver=2.0.0"}};
    QList<QByteArray> lines;
    for (const Row &r : rows) {
        QVariantMap fields = pairs(machine.value(r.session));
        fields.insert(pairs(r.fields));
        fields.insert(pairs(QStringLiteral("fncode=%1;fnname=%2;fngroup=%3;trigertime=2026-12-%4.000+08:00;sessionid=session-%5")
                                .arg(QLatin1String(r.code), QString::fromUtf8(r.name), QString::fromUtf8(r.group),
                                     QLatin1String(r.time), QString(QLatin1Char(r.session))).toUtf8()));
        lines << record(fields, r.seq, pairs(r.attrs));
    }
    lines.insert(7, "{not json\n");
    lines.insert(9, lines[5]); // delivered twice
    return lines.join();
}

// The known log without records a4, a7 and b2: gaps the sessions' seq make visible.
QByteArray gappedLog()
{
    QByteArray out;
    for (const QByteArray &line : knownLog().split('\n')) {
        const bool a = line.contains("\"session-a\""), b = line.contains("\"session-b\"");
        if (!((a && (line.contains("\"seq\":4,") || line.contains("\"seq\":7,"))) || (b && line.contains("\"seq\":2,"))))
            out += line + '\n';
    }
    return out.chopped(1);
}

const QByteArray CodedJournal =
    "{\"time\":\"2026-12-01T00:00:10.000Z\",\"code\":\"210101\",\"attrs\":{\"layer\":\"A\",\"tjsc\":\"5\"}}\n"
    "{\"time\":\"2026-12-01T00:00:40.000Z\",\"code\":\"210101\",\"attrs\":{\"tjsc\":\"7\"}}\n"
    "{\"time\":\"2026-12-01T00:01:00.000Z\",\"code\":\"580101004\",\"attrs\":{\"prjedocnt\":\"3\"}}\n"
    "{\"time\":\"2026-12-01T00:01:10.000Z\",\"code\":\"580101002\",\"attrs\":null}\n"
    "garbage\n"
    "{\"time\":\"2026-12-01T00:01:40.000Z\",\"code\":\"210501\",\"attrs\":{\"elements\":\"2\"}}\n";

// A value of the summary by path: "totals.records"; "commands[code=210202].actions", the
// element with that code (null without one); "timeline.events[5]", "[-1]" the last;
// "versions[]", the array's size.
QJsonValue at(QJsonValue v, const char *path)
{
    static const QRegularExpression step(QStringLiteral("^([^\\[]+)(?:\\[([^=\\]]*)(?:=(.*))?\\])?$"));
    static const QRegularExpression dot(QStringLiteral("\\.(?![^\\[]*\\])")); // not within brackets
    for (const QString &s : QString::fromUtf8(path).split(dot)) {
        const QRegularExpressionMatch m = step.match(s);
        v = v.toObject().value(m.captured(1));
        const QJsonArray list = v.toArray();
        const int index = m.captured(2).toInt();
        if (m.capturedStart(3) >= 0) {
            v = QJsonValue();
            for (const QJsonValue &e : list)
                if (e.toObject().value(m.captured(2)).toString() == m.captured(3))
                    v = e;
        } else if (m.capturedStart(2) >= 0) {
            v = m.captured(2).isEmpty() ? QJsonValue(list.size()) : list.at(index < 0 ? list.size() + index : index);
        }
    }
    return v;
}

QJsonValue parse(const char *text) { return QJsonDocument::fromJson(QByteArray("[") + text + ']').array().at(0); }

struct Expected { const char *path; QJsonValue value; };

void expect(const QJsonObject &summary, const QList<Expected> &table)
{
    auto text = [](const char *path, const QJsonValue &v) {
        return path + QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
    };
    for (const Expected &e : table)
        QCOMPARE(text(e.path, at(summary, e.path)), text(e.path, e.value));
}

// scripts/clickhouse-server.sh COMMAND DIR [ARG], stdin from a file; its standard output, null on failure.
QString clickhouseScript(const QStringList &args, const QString &input = QString())
{
    QProcess p;
    if (!input.isEmpty())
        p.setStandardInputFile(input);
    p.start(QStringLiteral(CLICKHOUSE_SCRIPT), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()) + QLatin1Char(' ');
}

// Uploads a log with the fleet's uploader, as the gateway's user would insert it: each call one insert,
// project paths as written so that both sources show them.
bool upload(const QString &url, const QString &log)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("UBC_UPLOAD_PASSWORD"), QStringLiteral("ubc-gateway-secret")); // server/clickhouse/users.xml
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(UBC_UPLOAD_EXE), {QStringLiteral("--url"), url, QStringLiteral("--user"), QStringLiteral("ubc_gateway"),
                                             QStringLiteral("--timeout"), QStringLiteral("60"), QStringLiteral("--send-paths"), log});
    return p.waitForFinished(90000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Run reportAs(const QStringList &args, const QString &password = QStringLiteral("ubc-report-secret"))
{
    return report(args, password);
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
        expect(readJson(json), {
            {"input.lines", 21}, {"input.malformed", 1}, {"input.duplicates", 1}, {"input.codedMalformed", 1},
            // a closed after 120 s, b open 55 s, c one record
            {"totals", parse(R"({"actions":6,"edits":2,"events":2,"lifecycle":9,"machines":3,"medianSessionSeconds":55,
                                "projects":1,"records":19,"sessions":3,"unclosedSessions":2,"workSeconds":175})")},
            {"commands[0].code", "210202"},
            {"commands[code=210202]", parse(R"({"actions":3,"byLocation":{"contextMenu":1,"none":0,"other":0,"quickAccess":0,
                "ribbon":1,"shortcut":1,"viewPanel":0},"code":"210202","edits":0,"events":0,"group":"编辑","machines":2,
                "menuOnlyMachines":1,"name":"复制","shortcut":1,"shortcutShare":0.3333})")},
            {"commands[code=210101].actions", 2}, {"commands[code=210101].events", 1}, {"commands[code=210210].edits", 2},
            {"shortcutGaps[]", 1}, {"shortcutGaps[0].code", "210202"},
            {"locations[location=ribbon].count", 3}, {"locations[location=ribbon].share", 0.5},
            {"locations[location=none].count", 1}, {"locations[location=shortcut].count", 1},
            {"properties", parse(R"([{"edits":1,"property":"Height"},{"edits":1,"property":"厚度"}])")},
            {"projects", parse(R"([{"closes":2,"created":1,"edits":4,"id":"P1","name":"a.kelprj","openSeconds":150,"opened":1,
                                  "path":"/p/a.kelprj","saves":1,"sizeKB":12}])")},
            {"versions[]", 2}, {"versions[ver=1.0.0].shortcutShare", 0.5},
            {"versions[ver=2.0.0]", parse(R"({"actions":4,"machines":2,"meanSessionSeconds":27,"records":8,"sessions":2,
                                            "shortcutShare":0,"ver":"2.0.0","workSeconds":55})")},
            {"daily[]", 3}, {"daily[day=2026-12-01].records", 11}, {"daily[day=2026-12-02].actions", 3},
            {"timeline.session", "session-a"}, {"timeline.events[]", 11}, {"timeline.events[-2].t", 121000},
            {"timeline.events[-1].t", 180000}, {"timeline.events[-1].seq", QJsonValue()}, // the record without seq
            {"timeline.events[5].location", "shortcut"}, {"timeline.events[6].kind", "edit"},
            {"statistics.sent[code=210101].count", 2}, {"statistics.sent[code=210101].totalSeconds", 12},
            {"statistics.sent[code=210101].maxSeconds", 7}, {"statistics.saves", 1},
            {"statistics.idleReturns", 1}, {"statistics.idleReturnsPerHour", 20.57},
            {"dictionary.commands", 44}, {"dictionary.used", 4}, // 210101, 210202, 210302, 210210
            {"dictionary.unused[code=210101]", QJsonValue()}, {"dictionary.unused[code=210501].code", "210501"}});

        // The text summary says the same.
        const QString text = QString::fromUtf8(r.out);
        for (const char *line : {"records:     19 (6 commands, 2 named events, 2 property edits, 9 lifecycle)",
                                 "sessions:    3 on 3 machines, 2 without a close record",
                                 "1 malformed lines skipped, 1 duplicates counted once", "Dictionary commands never used (40 of 44)"})
            QVERIFY2(text.contains(QLatin1String(line)), qPrintable(text));
        QVERIFY(r.err.contains(m_log + QStringLiteral(":8: malformed line skipped: not a JSON object")));
    }

    void filtersDuplicatesAndErrors()
    {
        const QString json = m_dir.filePath(QStringLiteral("f.json"));
        // The same file twice: every record is a duplicate the second time.
        QCOMPARE(report({m_log, m_log, QStringLiteral("--product"), QStringLiteral("KEL"), QStringLiteral("--since"),
                         QStringLiteral("2026-12-02"), QStringLiteral("--json"), json, QStringLiteral("--quiet")}).code, 0);
        expect(readJson(json), {{"totals.records", 7}, {"totals.sessions", 1}, {"input.duplicates", 7}, {"input.filtered", 2 * 13}});

        const QString empty = m_dir.filePath(QStringLiteral("empty.jsonl"));
        writeFile(empty, QByteArray());
        QCOMPARE(report({empty, QStringLiteral("--json"), json, QStringLiteral("--html"), m_dir.filePath(QStringLiteral("e.html"))}).code, 0);
        expect(readJson(json), {{"totals.records", 0}, {"commands[]", 0}});

        const struct { QStringList args; int code; QString err; } failing[] = {
            {{m_dir.filePath(QStringLiteral("missing.jsonl"))}, 1, QStringLiteral("missing.jsonl")},
            {{}, 2, QStringLiteral("Usage:")},
            {{m_log, QStringLiteral("--since"), QStringLiteral("yesterday")}, 2, QStringLiteral("Usage:")},
            {{m_log, QStringLiteral("--table"), QStringLiteral("t; DROP TABLE x")}, 2, QStringLiteral("--table")},
            {{QStringLiteral("--clickhouse"), QStringLiteral("http://127.0.0.1:1/")}, 1, QStringLiteral("cannot reach ClickHouse")},
            {{m_log, QStringLiteral("--json"), m_dir.filePath(QStringLiteral("no/such/dir/x.json"))}, 1, QString()}};
        for (const auto &f : failing) {
            const Run r = report(f.args);
            QVERIFY2(r.code == f.code && r.err.contains(f.err), qPrintable(f.args.join(QLatin1Char(' ')) + QLatin1Char('\n') + r.err));
        }
    }

    void completenessCountsPlantedGaps()
    {
        const QString log = m_dir.filePath(QStringLiteral("gapped.jsonl")), json = m_dir.filePath(QStringLiteral("gapped.json"));
        writeFile(log, gappedLog());
        const Run r = report({log, QStringLiteral("--json"), json});
        QCOMPARE(r.code, 0);
        // a: 8 of 10 (the record without seq counts in neither), b: 6 of 7, c: 1 of 1.
        expect(readJson(json), {
            {"completeness.total", parse(R"({"expected":18,"gapSessions":2,"present":15,"sessions":3,"share":0.8333})")},
            {"completeness.byVersion[key=1.0.0]", parse(R"({"expected":10,"gapSessions":1,"key":"1.0.0","present":8,"sessions":1,"share":0.8})")},
            {"completeness.byVersion[key=2.0.0].present", 7}, {"completeness.byVersion[key=2.0.0].expected", 8},
            {"completeness.byDay[key=2026-12-02].gapSessions", 1}, {"completeness.byDay[key=2026-12-03].share", 1},
            {"completeness.gaps[]", 2}, {"completeness.gaps[0].session", "session-a"}, {"completeness.gaps[1].present", 6},
            {"completeness.uploadLosses", QJsonValue()}});
        QVERIFY2(r.out.contains("gap: session-a (m1, ver 1.0.0, 2026-12-01): 2 of 10 missing"), r.out.constData());
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
            QVERIFY(external.isEmpty() && !page.contains("url("));
            // Six charts; the timeline's eleven records; ribbon, context menu, shortcut, none.
            QCOMPARE((QList<int>{svgs, marks, slices}), (QList<int>{6, 11, 4}));
            QVERIFY(bars >= 3 + 3 + 1 + 6); // top commands by location, shortcut share, project, daily
            QVERIFY(page.contains(lang == QLatin1String("zh") ? "最常用的命令" : "Top commands"));
        }
    }

    void clickhouseGivesTheSameSummary_data()
    {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("twice");    // every record delivered twice
        const QByteArray known = knownLog();
        QByteArray percent = known, product = known, longId = known;
        percent.replace("session-a", "a%1b%2");
        product.replace("\"pcode\":\"KEL\"", "\"pcode\":\"$label\"");
        longId.replace("session-a", QByteArray(300000, 'L')); // with the most records: the timeline's
        // One command twelve times in a session: one block of seq, whose first copy holds only some.
        QByteArray repeated;
        for (int seq = 1; seq <= 12; ++seq)
            repeated += record(pairs("pcode=KEL;hardwareid=m1;ver=1.0.0;fncode=210101;fnname=w;fngroup=g;sessionid=r;"
                                     "trigertime=2026-12-01T08:00:00.000+08:00"), seq, pairs("location=Ribbon工具栏"));
        QTest::newRow("known log") << known << QStringList() << false;
        QTest::newRow("one command repeated") << repeated << QStringList() << false;
        QTest::newRow("planted gaps, sent twice") << gappedLog() << QStringList() << true;
        QTest::newRow("product and day") << known << QStringList{QStringLiteral("--product"), QStringLiteral("KEL"),
                                                                 QStringLiteral("--until"), QStringLiteral("2026-12-01")} << false;
        QTest::newRow("session id with %1") << percent << QStringList() << false;
        QTest::newRow("product $label") << product << QStringList{QStringLiteral("--product"), QStringLiteral("$label")} << false;
        QTest::newRow("300,000-byte session id, sent twice") << longId << QStringList() << true;
        QTest::newRow("records without seq, sent twice") << QString::fromUtf8(known).remove(QRegularExpression(QStringLiteral("\"seq\":\\d+,"))).toUtf8()
                                                         << QStringList() << true;
    }

    void clickhouseGivesTheSameSummary()
    {
        QFETCH(QByteArray, log);
        QFETCH(QStringList, options);
        QFETCH(bool, twice);
        QVERIFY2(startServer(), "clickhouse-server did not start");
        QVERIFY(!clickhouseScript({QStringLiteral("query"), m_server.path(), QStringLiteral("DROP DATABASE IF EXISTS ubc")}).isNull());
        QVERIFY(!clickhouseScript({QStringLiteral("query"), m_server.path()}, QStringLiteral(SCHEMA_SQL)).isNull());
        QVERIFY(!clickhouseScript({QStringLiteral("query"), m_server.path()}, QStringLiteral(ROLLUPS_DIR "/rollups.sql")).isNull());
        // Two inserts, so that the copies lie in a part of their own, not merged yet;
        // a part of the log goes first, so that a merge meets blocks of seq whose
        // first copy holds only some of their records.
        // The broken line is set aside by the uploader, as the file's reader skips it.
        static int n = 0;
        const QString file = m_server.filePath(QStringLiteral("log%1.jsonl").arg(++n)), again = file + QStringLiteral(".again");
        writeFile(file, log);
        writeFile(again, twice ? log : log.split('\n').mid(0, 8).join('\n') + '\n');
        QVERIFY(twice ? upload(m_url, file) && upload(m_url, again) : upload(m_url, again) && upload(m_url, file));

        const QString fromFile = m_dir.filePath(QStringLiteral("file.json")), fromServer = m_dir.filePath(QStringLiteral("server.json"));
        QCOMPARE(report(QStringList{file, QStringLiteral("--quiet"), QStringLiteral("--json"), fromFile} + options).code, 0);
        QJsonObject a = readJson(fromFile);
        QVERIFY(at(a, "totals.records").toInt() > 0);
        a.remove(QStringLiteral("input"));
        // From the roll-ups, and from the records alone.
        const QString disagree = QStringLiteral("the roll-ups disagree");
        QString warnings;
        const auto compare = [&](const QStringList &how) {
            const Run r = reportAs(QStringList{QStringLiteral("--clickhouse"), m_url, QStringLiteral("--quiet"), QStringLiteral("--json"), fromServer}
                                   + how + options);
            QVERIFY2(r.code == 0, qPrintable(r.err.left(400)));
            warnings = r.err;
            QJsonObject b = readJson(fromServer);
            b.remove(QStringLiteral("input"));
            // The uploaders' losses (the lines ubc-upload set aside) are the
            // store's alone: the files have no counterpart.
            QJsonObject completeness = b.value(QStringLiteral("completeness")).toObject();
            completeness.remove(QStringLiteral("uploadLosses"));
            b.insert(QStringLiteral("completeness"), completeness);
            for (const QString &key : a.keys())
                QVERIFY2(a.value(key) == b.value(key), qPrintable(how.join(QLatin1Char(' ')) + QLatin1Char(' ') + key + QStringLiteral(": ")
                    + QString::fromUtf8(QJsonDocument(QJsonObject{{key, b.value(key)}}).toJson(QJsonDocument::Compact)).left(400)));
            QCOMPARE(a, b);
        };
        compare(QStringList());
        QVERIFY2(!warnings.contains(disagree), qPrintable(warnings));
        compare(QStringList{QStringLiteral("--raw")});
        // Again once the server merged the copies into the parts they copy.
        const QString tables = clickhouseScript({QStringLiteral("query"), m_server.path(),
            QStringLiteral("SELECT name FROM system.tables WHERE database = 'ubc' AND engine LIKE '%MergeTree'")});
        for (const QString &table : tables.trimmed().split(QLatin1Char('\n')))
            QVERIFY(!clickhouseScript({QStringLiteral("query"), m_server.path(),
                                       QStringLiteral("OPTIMIZE TABLE ubc.%1 FINAL").arg(table)}).isNull());
        compare(QStringList());

        // A server killed between two views leaves a block in some roll-ups
        // only; the copy sent again then counts twice in the others, which
        // the report finds, reading the records instead. Here a view misses
        // the copy: the per-session one (the totals differ), or the per-command
        // one that takes the copies back.
        const QString missed = QTest::currentDataTag() == QByteArray("known log") ? QStringLiteral("records_by_session_day_view")
                               : QTest::currentDataTag() == QByteArray("product and day") ? QStringLiteral("records_by_command_session_view")
                                                                                         : QString();
        if (missed.isEmpty())
            return;
        QVERIFY(!clickhouseScript({QStringLiteral("query"), m_server.path(), QStringLiteral("DETACH TABLE ubc.") + missed}).isNull());
        writeFile(file + QStringLiteral(".copy"), log);
        const bool sent = upload(m_url, file + QStringLiteral(".copy"));
        QVERIFY(!clickhouseScript({QStringLiteral("query"), m_server.path(), QStringLiteral("ATTACH TABLE ubc.") + missed}).isNull());
        QVERIFY(sent);
        compare(QStringList());
        QVERIFY2(warnings.contains(disagree), qPrintable(warnings));
    }

    // The uploaders' losses, each (gid, lossid) once however often it was reported.
    void uploadLossesAreReadOnceEach()
    {
        QVERIFY2(startServer(), "clickhouse-server did not start");
        const QString json = m_dir.filePath(QStringLiteral("losses.json"));
        const QStringList args{QStringLiteral("--clickhouse"), m_url, QStringLiteral("--quiet"), QStringLiteral("--json"), json};
        const char *const sql[] = {
            "DROP TABLE IF EXISTS ubc.upload_losses",
            "CREATE TABLE ubc.upload_losses (gid String, lossid UInt64, reported DateTime, kind String, records UInt64)"
            " ENGINE = ReplacingMergeTree ORDER BY (gid, lossid)",
            "INSERT INTO ubc.upload_losses VALUES ('g1', 1, '2026-12-01 10:00:00', 'queue_dropped', 5),"
            " ('g1', 2, '2026-12-01 11:00:00', 'set_aside', 2), ('g2', 1, '2026-12-02 10:00:00', 'queue_dropped', 3)",
            "INSERT INTO ubc.upload_losses VALUES ('g1', 1, '2026-12-01 10:00:00', 'queue_dropped', 5)"};
        for (const char *q : sql) {
            QVERIFY(!clickhouseScript({QStringLiteral("query"), m_server.path(), QString::fromUtf8(q)}).isNull());
            if (q == sql[0]) {  // no table: no figures
                QVERIFY(reportAs(args).code == 0);
                expect(readJson(json), {{"completeness.uploadLosses", QJsonValue()}});
            }
        }
        const Run r = reportAs(args);
        QVERIFY2(r.code == 0, qPrintable(r.err.left(400)));
        expect(readJson(json), {{"completeness.uploadLosses", parse(R"([{"kind":"queue_dropped","records":8},
            {"kind":"set_aside","records":2},{"kind":"rotated_unsent","records":0}])")}});
        QVERIFY(reportAs(args + QStringList{QStringLiteral("--since"), QStringLiteral("2026-12-02")}).code == 0);
        expect(readJson(json), {{"completeness.uploadLosses[kind=queue_dropped].records", 3}});
        QVERIFY(!clickhouseScript({QStringLiteral("query"), m_server.path(), QString::fromUtf8(sql[0])}).isNull());
    }

    // The shipped roll-ups are what the report reads: made from the same classification.
    void rollupSqlIsTheReportsOwn()
    {
        const char *const kinds[][2] = {{"server", "rollups"}, {"cluster", "cluster-rollups"}, {"backfill", "rollups-backfill"}};
        for (const auto &kind : kinds) {
            const Run r = report({QStringLiteral("--rollup-sql"), QLatin1String(kind[0])});
            QCOMPARE(r.code, 0);
            QFile f(QStringLiteral(ROLLUPS_DIR "/%1.sql").arg(QLatin1String(kind[1])));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QByteArray shipped;
            for (const QByteArray &line : f.readAll().split('\n'))
                if (!line.startsWith("--"))
                    shipped += line + '\n';
            QCOMPARE(QString::fromUtf8(shipped.chopped(1)), QString::fromUtf8(r.out));
        }
    }

    void credentialsStayOutOfUrlsAndErrors()
    {
        QVERIFY2(startServer(), "clickhouse-server did not start");
        const QString secret = QStringLiteral("ubc-report-secret");
        const QString withUser = QString(m_url).replace(QLatin1String("http://"), QStringLiteral("http://ubc_report:%1@").arg(secret));
        const QString file = m_dir.filePath(QStringLiteral("password"));
        writeFile(file, secret.toUtf8() + '\n');
        const struct { QStringList args; QString password; int code; } runs[] = {
            {{QStringLiteral("--clickhouse"), withUser}, secret, 2},
            {{QStringLiteral("--clickhouse"), m_url + QStringLiteral("/?password=") + secret}, secret, 2},
            {{QStringLiteral("--clickhouse"), m_url}, secret + QStringLiteral("-wrong"), 1},
            // The password from a file, for the read-only user: no error at all.
            {{QStringLiteral("--clickhouse"), m_url, QStringLiteral("--password-file"), file}, QStringLiteral("not this one"), 0},
        };
        for (const auto &run : runs) {
            const Run r = reportAs(run.args + QStringList{QStringLiteral("--quiet")}, run.password);
            QVERIFY2(r.code == run.code && r.err.isEmpty() == (run.code == 0) && !r.err.contains(secret), qPrintable(r.err.left(300)));
        }
    }

    void cleanupTestCase()
    {
        if (!m_url.isEmpty())
            clickhouseScript({QStringLiteral("stop"), m_server.path()});
    }

private:
    // One server for the tests that need it, started by the first.
    bool startServer()
    {
        if (m_url.isEmpty())
            m_url = clickhouseScript({QStringLiteral("start"), m_server.path(), QStringLiteral("--schema")}).trimmed().split(QLatin1Char('\n')).last();
        return m_url.startsWith(QLatin1String("http://127.0.0.1:"));
    }

    QTemporaryDir m_dir, m_server;
    QString m_log, m_coded, m_url;
};

QTEST_GUILESS_MAIN(TestUbcReport)
#include "tst_ubcreport.moc"
