#include "HtmlReport.h"

#include "HtmlText.h"
#include "SvgCharts.h"
#include "Summary.h"

#include <QtCore/QXmlStreamWriter>

#include <algorithm>
#include <vector>

using namespace HtmlText;
using namespace UbcReport;

namespace {

const char Style[] = R"(
:root{--ink:#1f2933;--muted:#66788a;--line:#e4e7eb;--bg:#f5f7fa;--card:#fff;--accent:#4c78a8}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--ink);font:15px/1.5 "Noto Sans CJK SC","Source Han Sans SC","PingFang SC","Microsoft YaHei","Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
header{background:linear-gradient(120deg,#2f4b7c,#4c78a8);color:#fff;padding:28px 40px 70px}
header h1{margin:0 0 4px;font-size:28px;font-weight:600}
header p{margin:0;opacity:.85}
main{max-width:1200px;margin:-50px auto 40px;padding:0 24px}
.kpis{display:grid;grid-template-columns:repeat(6,1fr);gap:14px;margin-bottom:18px}
.kpi{background:var(--card);border-radius:10px;padding:14px 16px;box-shadow:0 1px 3px rgba(31,41,51,.12)}
.kpi b{display:block;font-size:24px;font-weight:600}
.kpi span{color:var(--muted);font-size:13px}
.grid{display:grid;grid-template-columns:1fr 1fr;gap:18px}
section{background:var(--card);border-radius:10px;padding:18px 22px;margin-bottom:18px;box-shadow:0 1px 3px rgba(31,41,51,.12)}
.grid section{margin-bottom:0;min-width:0}
.grid{margin-bottom:18px}
h2{font-size:17px;margin:0 0 2px;font-weight:600}
.note{color:var(--muted);font-size:13px;margin:0 0 10px}
svg text{font-family:inherit;font-size:13px;fill:var(--ink)}
svg .small{font-size:11px;fill:var(--muted)}
svg .value{fill:var(--muted)}
svg .big{font-size:30px;font-weight:600}
svg .track{fill:#f0f2f5}
svg .lane{fill:#f7f8fa}
svg .grid{stroke:#e4e7eb;stroke-width:1}
svg .lifecycle{fill:#2f4b7c}
.legend{display:flex;flex-wrap:wrap;gap:14px;font-size:13px;color:var(--muted);margin:4px 0 8px}
.legend i{display:inline-block;width:11px;height:11px;border-radius:2px;margin-right:5px;vertical-align:-1px}
table{width:100%;border-collapse:collapse;font-size:14px}
th{text-align:left;color:var(--muted);font-weight:500;border-bottom:1px solid var(--line);padding:6px 8px}
td{border-bottom:1px solid var(--line);padding:6px 8px}
th,td{white-space:nowrap}
td:not(:first-child),th:not(:first-child){text-align:right}
.empty{color:var(--muted);font-style:italic}
footer{color:var(--muted);font-size:12px;text-align:center;margin:20px 0}
)";

const Location Legend[] = {Ribbon, QuickAccess, ContextMenu, ViewPanel, Shortcut, NoLocation};
const size_t TopRows = 12;

void legend(QXmlStreamWriter &xml, const Words &w)
{
    xml.writeStartElement(QStringLiteral("div"));
    xml.writeAttribute(QStringLiteral("class"), QStringLiteral("legend"));
    for (Location l : Legend) {
        xml.writeStartElement(QStringLiteral("span"));
        writeElement(xml, QStringLiteral("i"), {QStringLiteral("style"), QStringLiteral("background:") + QLatin1String(locationColour(l))},
                     QString());
        writeText(xml, locationName(l, w));
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

void emptyNote(QXmlStreamWriter &xml, const QString &text)
{
    writeElement(xml, QStringLiteral("p"), {QStringLiteral("class"), QStringLiteral("empty")}, text);
}

void table(QXmlStreamWriter &xml, const QStringList &head, const std::vector<QStringList> &rows, const QString &empty)
{
    if (rows.empty()) {
        emptyNote(xml, empty);
        return;
    }
    xml.writeStartElement(QStringLiteral("table"));
    xml.writeStartElement(QStringLiteral("thead"));
    xml.writeStartElement(QStringLiteral("tr"));
    for (const QString &h : head)
        writeTextElement(xml, QStringLiteral("th"), h);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("tbody"));
    for (const QStringList &r : rows) {
        xml.writeStartElement(QStringLiteral("tr"));
        for (const QString &c : r)
            writeTextElement(xml, QStringLiteral("td"), c);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
}

// <section id="id"><h2>title</h2><p class="note">note</p> ... (without a note when it is empty)
void startSection(QXmlStreamWriter &xml, const char *id, const QString &title, const QString &note)
{
    xml.writeStartElement(QStringLiteral("section"));
    xml.writeAttribute(QStringLiteral("id"), QLatin1String(id));
    writeTextElement(xml, QStringLiteral("h2"), title);
    if (!note.isEmpty())
        writeElement(xml, QStringLiteral("p"), {QStringLiteral("class"), QStringLiteral("note")}, note);
}

void startGrid(QXmlStreamWriter &xml)
{
    xml.writeStartElement(QStringLiteral("div"));
    xml.writeAttribute(QStringLiteral("class"), QStringLiteral("grid"));
}

QString commandName(const Summary::Command &c)
{
    return c.name.isEmpty() ? c.code : c.name;
}

// The most used commands that ran as actions, at most TopRows.
std::vector<const Summary::Command *> topCommands(const Summary &s)
{
    std::vector<const Summary::Command *> top;
    for (size_t i = 0; i < s.commands.size() && i < TopRows && s.commands[i].actions > 0; ++i)
        top.push_back(&s.commands[i]);
    return top;
}

void keyFigures(QXmlStreamWriter &xml, const Summary &s, const Words &w)
{
    const Summary::Totals &t = s.totals;
    const double shortcutShare = t.actions > 0 ? double(s.locations[Shortcut].count) / double(t.actions) : 0;
    const std::pair<QString, QString> kpis[] = {
        {QString::number(t.records), w("records", "条记录")},
        {QString::number(t.sessions), w("sessions", "次会话")},
        {QString::number(t.machines), w("machines", "台电脑")},
        {duration(t.workSeconds, w), w("working time", "工作时长")},
        {QString::number(s.commands.size()), w("commands used", "个命令被使用")},
        {percent(shortcutShare), w("by shortcut", "通过快捷键")},
    };
    xml.writeStartElement(QStringLiteral("div"));
    xml.writeAttribute(QStringLiteral("class"), QStringLiteral("kpis"));
    for (const auto &k : kpis) {
        xml.writeStartElement(QStringLiteral("div"));
        xml.writeAttribute(QStringLiteral("class"), QStringLiteral("kpi"));
        writeTextElement(xml, QStringLiteral("b"), k.first);
        writeTextElement(xml, QStringLiteral("span"), k.second);
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

void commandCharts(QXmlStreamWriter &xml, const Summary &s, const Words &w)
{
    const std::vector<const Summary::Command *> top = topCommands(s);
    // Top commands, stacked by where they were started.
    std::vector<SvgCharts::BarRow> rows;
    double max = 0;
    for (const Summary::Command *c : top) {
        SvgCharts::BarRow r{commandName(*c), {}, QString::number(c->actions)};
        for (int l = 0; l < LocationCount; ++l)
            r.segments.push_back({double(c->byLocation[l]), QLatin1String(locationColour(Location(l))), locationName(Location(l), w)});
        max = std::max(max, double(c->actions));
        rows.push_back(r);
    }
    startGrid(xml);
    startSection(xml, "top-commands", w("Top commands", "最常用的命令"),
                 w("Runs of each command, by where it was started", "每个命令的执行次数，按触发位置着色"));
    legend(xml, w);
    SvgCharts::bars(xml, QStringLiteral("top"), rows, max);
    xml.writeEndElement();
    startSection(xml, "locations", w("Commands by location", "命令的触发位置"), w("Where people start commands", "用户从哪里启动命令"));
    SvgCharts::donut(xml, s.locations, w);
    xml.writeEndElement();
    xml.writeEndElement();

    // Shortcut share and projects.
    rows.clear();
    for (const Summary::Command *c : top)
        rows.push_back({commandName(*c), {{c->shortcutShare, QStringLiteral("#54a24b"), w("by shortcut", "快捷键")}}, percent(c->shortcutShare)});
    startGrid(xml);
    startSection(xml, "shortcut-share", w("Shortcut share per command", "各命令的快捷键使用率"),
                 w("Share of runs started with the shortcut key", "通过快捷键执行的比例"));
    SvgCharts::bars(xml, QStringLiteral("shortcut"), rows, 1.0);
    xml.writeEndElement();
    rows.clear();
    max = 0;
    for (size_t i = 0; i < s.projects.size() && i < TopRows; ++i) {
        const Summary::Project &p = s.projects[i];
        rows.push_back({p.name, {{double(p.openSeconds), QStringLiteral("#f58518"), w("open", "打开时长")}}, duration(p.openSeconds, w)});
        max = std::max(max, double(p.openSeconds));
    }
    startSection(xml, "projects", w("Working time per project", "各工程的工作时长"), w("How long each project was open", "工程从打开到关闭的时间"));
    if (rows.empty())
        emptyNote(xml, w("No project was closed.", "没有关闭过的工程。"));
    else
        SvgCharts::bars(xml, QStringLiteral("projects"), rows, max);
    xml.writeEndElement();
    xml.writeEndElement();
}

void tables(QXmlStreamWriter &xml, const Summary &s, const Words &w)
{
    const QString none = w("None.", "无。");
    std::vector<QStringList> tr;
    for (size_t i : s.shortcutGaps) {
        const Summary::Command &o = s.commands[i];
        tr.push_back({o.name, o.code, QString::number(o.actions), percent(o.shortcutShare),
                      QString::number(o.menuOnlyMachines) + QStringLiteral(" / ") + QString::number(o.machines)});
    }
    startGrid(xml);
    startSection(xml, "gaps", w("Shortcuts people miss", "被忽略的快捷键"),
                 w("Commands someone runs by shortcut, while other machines only use menus", "有人用快捷键执行，其他电脑却只用菜单的命令"));
    table(xml, {w("Command", "命令"), w("Code", "编码"), w("Runs", "次数"), w("Shortcut", "快捷键"), w("Menu-only machines", "只用菜单的电脑")},
          tr, none);
    xml.writeEndElement();
    tr.clear();
    for (const Summary::Property &p : s.properties)
        tr.push_back({p.property, QString::number(p.edits)});
    startSection(xml, "properties", w("Property edits", "属性修改"), w("Edits per property", "各属性被修改的次数"));
    table(xml, {w("Property", "属性"), w("Edits", "次数")}, tr, none);
    xml.writeEndElement();
    xml.writeEndElement();

    tr.clear();
    for (const Summary::Version &v : s.versions)
        tr.push_back({v.ver, QString::number(v.sessions), QString::number(v.machines), QString::number(v.actions),
                      percent(v.shortcutShare), duration(v.meanSessionSeconds, w)});
    startGrid(xml);
    startSection(xml, "versions", w("Versions side by side", "版本对比"), QString());
    table(xml, {w("Version", "版本"), w("Sessions", "会话"), w("Machines", "电脑"), w("Commands", "命令"),
                w("Shortcut", "快捷键"), w("Mean session", "平均会话")}, tr, none);
    xml.writeEndElement();
    tr.clear();
    const Summary::Statistics &st = s.statistics;
    for (const Summary::Sent &o : st.sent)
        tr.push_back({o.name.isEmpty() ? o.code : o.name, QString::number(o.count), number(o.meanSeconds, 1), QString::number(o.maxSeconds)});
    startSection(xml, "statistics", w("Statistics sent", "发送的统计"),
                 w("%1 saves, %2 returns from idle (%3 per hour of work)", "保存 %1 次，空闲后返回 %2 次（每工作小时 %3 次）")
                     .arg(QString::number(st.saves), QString::number(st.idleReturns), QString::number(st.idleReturnsPerHour)));
    table(xml, {w("Statistic", "统计"), w("Sent", "次数"), w("Mean s", "平均秒"), w("Max s", "最长秒")}, tr, none);
    xml.writeEndElement();
    xml.writeEndElement();

    if (s.dictionary) {
        const Summary::Dictionary &d = *s.dictionary;
        tr.clear();
        for (const Summary::DictionaryCommand &c : d.unused)
            tr.push_back({c.name, c.code, c.group});
        startSection(xml, "unused", w("Commands never used", "从未使用的命令"),
                     w("%1 of the dictionary's %2 commands", "词典中 %2 个命令里有 %1 个")
                         .arg(QString::number(d.unused.size()), QString::number(d.commands)));
        table(xml, {w("Command", "命令"), w("Code", "编码"), w("Group", "分组")}, tr, none);
        xml.writeEndElement();
    }
}

// How many of the records the desktops numbered are here, and what the uploaders say they lost.
void completeness(QXmlStreamWriter &xml, const Summary &s, const Words &w)
{
    const Summary::Coverage &c = s.completeness;
    const QString none = w("None.", "无。");
    const QStringList head{QString(), w("Sessions", "会话"), w("Expected", "应有"), w("Present", "已有"),
                           w("Missing", "缺失"), w("Present %", "完整率"), w("With gaps", "有缺口的会话")};
    auto row = [](const QString &key, const Summary::Completeness &x) {
        return QStringList{key, QString::number(x.sessions), QString::number(x.expected), QString::number(x.present),
                           QString::number(x.expected - x.present), number(x.share * 100.0, 1) + QLatin1Char('%'),
                           QString::number(x.gapSessions)};
    };
    QString note = w("Records each session numbered (its highest seq) against the records here",
                     "每个会话编号的记录数（最大 seq）与实际收到的记录数");
    if (c.uploadLosses) {
        QStringList lost;
        for (const Summary::Loss &l : *c.uploadLosses)
            lost << l.kind + QLatin1Char(' ') + QString::number(l.records);
        note += w(". Lost by the uploaders: ", "。上传程序报告的丢失：") + lost.join(QLatin1String(", "));
    }
    std::vector<QStringList> tr{row(w("All", "全部"), c.total)};
    for (const Summary::Completeness &x : c.byVersion)
        tr.push_back(row(x.key, x));
    startGrid(xml);
    startSection(xml, "completeness", w("Completeness by version", "各版本的数据完整性"), note);
    table(xml, QStringList{w("Version", "版本")} + head.mid(1), tr, none);
    xml.writeEndElement();
    tr.clear();
    for (const Summary::Completeness &x : c.byDay)
        tr.push_back(row(x.key, x));
    startSection(xml, "completeness-days", w("Completeness by day", "每日的数据完整性"),
                 w("Sessions on the day of their first record", "会话按第一条记录的日期计"));
    table(xml, QStringList{w("Day", "日期")} + head.mid(1), tr, none);
    xml.writeEndElement();
    xml.writeEndElement();
    tr.clear();
    for (size_t i = 0; i < c.gaps.size() && i < TopRows; ++i) {
        const Summary::Gap &g = c.gaps[i];
        tr.push_back({fit(g.session, 24), fit(g.machine, 24), g.ver, g.day, QString::number(g.expected),
                      QString::number(g.present)});
    }
    startSection(xml, "gap-sessions", w("Sessions with gaps", "有缺口的会话"),
                 w("%1 sessions miss records, most missing first", "%1 个会话缺少记录，缺失最多的在前")
                     .arg(QString::number(c.gaps.size())));
    table(xml, {w("Session", "会话"), w("Machine", "电脑"), w("Version", "版本"), w("Day", "日期"), w("Expected", "应有"),
                w("Present", "已有")}, tr, none);
    xml.writeEndElement();
}

} // namespace

QString HtmlReport::render(const Summary &s)
{
    const Words w{s.language != QLatin1String("en")};
    const QString title = w("Behaviour report", "用户行为报告");
    // The head is fixed text: a style sheet is not character data that XML escaping may touch.
    QString page = QStringLiteral("<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"%1\"><head><meta charset=\"utf-8\"/>"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/><title>%2</title><style>%3</style></head>")
                       .arg(w.zh ? QStringLiteral("zh-CN") : QStringLiteral("en"), title, QString::fromUtf8(Style));
    QXmlStreamWriter xml(&page);
    xml.writeStartElement(QStringLiteral("body"));

    const Summary::Period &period = s.period;
    QString periodText = period.firstDay.isEmpty() ? w("No records in the period", "所选时段内没有记录")
                                                   : period.firstDay + QStringLiteral(" – ") + period.lastDay;
    if (!period.product.isEmpty())
        periodText += QStringLiteral(" · ") + w("product", "产品") + QLatin1Char(' ') + period.product;
    xml.writeStartElement(QStringLiteral("header"));
    writeTextElement(xml, QStringLiteral("h1"), title);
    writeTextElement(xml, QStringLiteral("p"), periodText);
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("main"));

    keyFigures(xml, s, w);
    commandCharts(xml, s, w);

    // One session over time.
    startSection(xml, "timeline", w("A session over time", "一次会话的时间线"),
                 w("The session with the most records: %1, from %2", "记录最多的会话：%1，开始于 %2")
                     .arg(s.timeline.session.left(8), s.timeline.start));
    legend(xml, w);
    SvgCharts::timeline(xml, s.timeline, w);
    xml.writeEndElement();
    startSection(xml, "daily", w("Daily activity", "每日活跃度"), w("Records per day, commands in dark blue", "每天的记录数，深蓝色为命令"));
    SvgCharts::daily(xml, s.daily, w);
    xml.writeEndElement();

    tables(xml, s, w);
    completeness(xml, s, w);

    xml.writeEndElement(); // main
    writeTextElement(xml, QStringLiteral("footer"), QStringLiteral("ubc-report"));
    xml.writeEndElement(); // body
    return page + QStringLiteral("</html>\n");
}
