#include "HtmlReport.h"

#include <QtCore/QJsonArray>
#include <QtCore/QStringList>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Well-formed XML as well as HTML, so that a test can parse it.
QString esc(const QString &text)
{
    QString s = text;
    for (QChar &c : s) // control characters are not allowed in XML
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            c = QChar(0xfffd);
    s.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"))
        .replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return s;
}

QString num(double v, int decimals = 0)
{
    return QString::number(v, 'f', decimals);
}

// Display width: CJK characters count twice.
int units(const QString &s)
{
    int n = 0;
    for (QChar c : s)
        n += c.unicode() >= 0x1100 ? 2 : 1;
    return n;
}

QString fit(const QString &s, int maxUnits)
{
    if (units(s) <= maxUnits)
        return s;
    QString out;
    int n = 0;
    for (QChar c : s) {
        n += c.unicode() >= 0x1100 ? 2 : 1;
        if (n > maxUnits - 1)
            break;
        out += c;
    }
    return out + QChar(0x2026);
}

double value(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toDouble();
}

QString text(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toString();
}

QJsonArray array(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toArray();
}

struct Words
{
    bool zh;
    QString operator()(const char *en, const char *zhText) const
    {
        return zh ? QString::fromUtf8(zhText) : QString::fromUtf8(en);
    }
};

const char *const LocationKeys[] = {"ribbon", "quickAccess", "contextMenu", "viewPanel", "shortcut", "none", "other"};
const char *const LocationColours[] = {"#4c78a8", "#72b7b2", "#f58518", "#b279a2", "#54a24b", "#bab0ac", "#9d755d"};
const char *const LocationEn[] = {"Ribbon toolbar", "Quick-access bar", "Context menu", "View panel", "Shortcut key", "None", "Other"};
const char *const LocationZh[] = {"Ribbon工具栏", "Ribbon快捷栏", "右键菜单", "视图面板", "快捷键", "无", "其他"};

int locationIndex(const QString &key)
{
    for (int i = 0; i < 7; ++i)
        if (key == QLatin1String(LocationKeys[i]))
            return i;
    return 6;
}

QString duration(double seconds, const Words &w)
{
    const qint64 s = qint64(seconds);
    if (s < 60)
        return w.zh ? QStringLiteral("%1秒").arg(s) : QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return w.zh ? QStringLiteral("%1分%2秒").arg(s / 60).arg(s % 60) : QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return w.zh ? QStringLiteral("%1小时%2分").arg(s / 3600).arg(s % 3600 / 60)
                : QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}

QString percent(double share)
{
    return num(share * 100.0, share < 0.1 && share > 0 ? 1 : 0) + QLatin1Char('%');
}

// A tick step of 1, 2 or 5 times a power of ten giving about `count` ticks.
double niceStep(double max, int count)
{
    const double raw = std::max(max, 1.0) / count;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * p)
            return m * p;
    return 10 * p;
}

struct Segment { double value; QString colour, title; };
struct BarRow { QString label; std::vector<Segment> segments; QString valueText; };

// Horizontal bars with their labels on the left and a value on the right.
QString barChart(const QString &cls, const std::vector<BarRow> &rows, double max, int width = 560)
{
    const int labelW = 150, valueW = 70, rowH = 26, top = 4;
    const int barW = width - labelW - valueW;
    const int height = top * 2 + rowH * int(rows.size());
    QString svg = QStringLiteral("<svg class=\"chart %1\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %2 %3\" width=\"100%\" role=\"img\">")
                      .arg(cls).arg(width).arg(std::max(height, 20));
    for (size_t i = 0; i < rows.size(); ++i) {
        const BarRow &r = rows[i];
        const int y = top + rowH * int(i);
        svg += QStringLiteral("<text class=\"label\" x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>")
                   .arg(labelW - 8).arg(y + 17).arg(esc(fit(r.label, 22)));
        svg += QStringLiteral("<rect class=\"track\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"16\" rx=\"3\"/>").arg(labelW).arg(y + 5).arg(barW);
        double x = labelW;
        for (const Segment &s : r.segments) {
            const double w = max > 0 ? s.value / max * barW : 0;
            if (w <= 0)
                continue;
            svg += QStringLiteral("<rect class=\"bar\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"16\" fill=\"%4\"><title>%5</title></rect>")
                       .arg(num(x, 1)).arg(y + 5).arg(num(w, 1), s.colour, esc(s.title));
            x += w;
        }
        svg += QStringLiteral("<text class=\"value\" x=\"%1\" y=\"%2\">%3</text>").arg(labelW + barW + 8).arg(y + 17).arg(esc(r.valueText));
    }
    return svg + QStringLiteral("</svg>");
}

QString legend(const Words &w, const std::vector<int> &locations)
{
    QString html = QStringLiteral("<div class=\"legend\">");
    for (int l : locations)
        html += QStringLiteral("<span><i style=\"background:%1\"></i>%2</span>")
                    .arg(QLatin1String(LocationColours[l]), esc(w(LocationEn[l], LocationZh[l])));
    return html + QStringLiteral("</div>");
}

QString donut(const QJsonArray &locations, const Words &w)
{
    double total = 0;
    for (const QJsonValue &v : locations)
        total += value(v.toObject(), "count");
    QString svg = QStringLiteral("<svg class=\"chart donut\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 520 220\" width=\"100%\" role=\"img\">");
    const double cx = 110, cy = 110, r = 80, stroke = 34, c = 2 * M_PI * r;
    double offset = 0;
    svg += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"none\" stroke=\"#eef0f3\" stroke-width=\"%4\"/>").arg(cx).arg(cy).arg(r).arg(stroke);
    int row = 0;
    for (const QJsonValue &v : locations) {
        const QJsonObject o = v.toObject();
        const int l = locationIndex(text(o, "location"));
        const double n = value(o, "count");
        if (n <= 0)
            continue;
        const double len = n / total * c;
        svg += QStringLiteral("<circle class=\"slice\" cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"none\" stroke=\"%4\" stroke-width=\"%5\""
                              " stroke-dasharray=\"%6 %7\" stroke-dashoffset=\"%8\" transform=\"rotate(-90 %1 %2)\"><title>%9</title></circle>")
                   .arg(cx).arg(cy).arg(r).arg(QLatin1String(LocationColours[l])).arg(stroke)
                   .arg(num(len, 2), num(c - len, 2), num(-offset, 2), esc(w(LocationEn[l], LocationZh[l])));
        offset += len;
        const int y = 36 + row++ * 26;
        svg += QStringLiteral("<rect x=\"240\" y=\"%1\" width=\"14\" height=\"14\" rx=\"3\" fill=\"%2\"/>").arg(y - 12).arg(QLatin1String(LocationColours[l]));
        svg += QStringLiteral("<text class=\"label\" x=\"262\" y=\"%1\">%2</text>").arg(y).arg(esc(w(LocationEn[l], LocationZh[l])));
        svg += QStringLiteral("<text class=\"value\" x=\"500\" y=\"%1\" text-anchor=\"end\">%2 · %3</text>")
                   .arg(y).arg(qint64(n)).arg(percent(value(o, "share")));
    }
    svg += QStringLiteral("<text class=\"big\" x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>").arg(cx).arg(cy + 4).arg(qint64(total));
    svg += QStringLiteral("<text class=\"small\" x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>").arg(cx).arg(cy + 24).arg(esc(w("commands", "次命令")));
    return svg + QStringLiteral("</svg>");
}

QString timeline(const QJsonObject &t, const Words &w)
{
    const QJsonArray events = array(t, "events");
    const int width = 1120, left = 110, right = 20, laneH = 34, top = 10;
    const char *const lanesEn[] = {"Lifecycle", "Commands", "Property edits", "Other events"};
    const char *const lanesZh[] = {"生命周期", "命令", "属性编辑", "其他事件"};
    const char *const kinds[] = {"lifecycle", "action", "edit", "event"};
    double end = 0;
    for (const QJsonValue &v : events)
        end = std::max(end, value(v.toObject(), "t"));
    end = std::max(end, 1000.0);
    const int plotW = width - left - right;
    const int height = top + laneH * 4 + 30;
    QString svg = QStringLiteral("<svg class=\"chart timeline\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" width=\"100%\" role=\"img\">")
                      .arg(width).arg(height);
    for (int lane = 0; lane < 4; ++lane) {
        const int y = top + lane * laneH;
        svg += QStringLiteral("<rect class=\"lane\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"/>").arg(left).arg(y + 4).arg(plotW).arg(laneH - 8);
        svg += QStringLiteral("<text class=\"label\" x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>")
                   .arg(left - 10).arg(y + laneH / 2 + 5).arg(esc(w(lanesEn[lane], lanesZh[lane])));
    }
    // Axis in seconds or minutes.
    const bool minutes = end > 180000;
    const double unit = minutes ? 60000.0 : 1000.0;
    const double step = niceStep(end / unit, 8);
    for (double tick = 0; tick <= end / unit + 1e-9; tick += step) {
        const double x = left + tick * unit / end * plotW;
        svg += QStringLiteral("<line class=\"grid\" x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\"/>").arg(num(x, 1)).arg(top).arg(top + laneH * 4);
        svg += QStringLiteral("<text class=\"small\" x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3%4</text>")
                   .arg(num(x, 1)).arg(top + laneH * 4 + 18).arg(num(tick, step < 1 ? 1 : 0), esc(minutes ? w(" min", "分") : w(" s", "秒")));
    }
    // Smaller marks when a long session would turn them into a solid band.
    const double r = events.size() > 150 ? 3.5 : 6.0;
    for (const QJsonValue &v : events) {
        const QJsonObject e = v.toObject();
        int lane = 3;
        for (int k = 0; k < 4; ++k)
            if (text(e, "kind") == QLatin1String(kinds[k]))
                lane = k;
        const double x = left + value(e, "t") / end * plotW;
        const int y = top + lane * laneH + laneH / 2;
        const QString title = esc(QStringLiteral("%1 %2 (+%3 s)").arg(text(e, "code"), text(e, "name"), num(value(e, "t") / 1000.0, 1)));
        if (lane == 0) {
            svg += QStringLiteral("<path class=\"mark lifecycle\" d=\"M%1 %2 l%3 %4 l-%3 %4 l-%3 -%4 z\"><title>%5</title></path>")
                       .arg(num(x, 1), num(y - r - 2, 1), num(r, 1), num(r + 2, 1), title);
        } else {
            const QString colour = lane == 1 ? QLatin1String(LocationColours[locationIndex(text(e, "location"))])
                                             : QLatin1String(lane == 2 ? "#e45756" : "#8c8c8c");
            svg += QStringLiteral("<circle class=\"mark\" cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"><title>%5</title></circle>")
                       .arg(num(x, 1)).arg(y).arg(num(r, 1), colour, title);
        }
    }
    return svg + QStringLiteral("</svg>");
}

QString columns(const QJsonArray &days, const Words &w)
{
    const int width = 1120, left = 50, bottom = 40, top = 14, height = 230;
    const int plotH = height - top - bottom, plotW = width - left - 10;
    double max = 1;
    for (const QJsonValue &v : days)
        max = std::max(max, value(v.toObject(), "records"));
    const double step = niceStep(max, 4);
    max = std::ceil(max / step) * step;
    QString svg = QStringLiteral("<svg class=\"chart daily\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" width=\"100%\" role=\"img\">")
                      .arg(width).arg(height);
    for (double tick = 0; tick <= max + 1e-9; tick += step) {
        const double y = top + plotH - tick / max * plotH;
        svg += QStringLiteral("<line class=\"grid\" x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\"/>").arg(left).arg(num(y, 1)).arg(width - 10);
        svg += QStringLiteral("<text class=\"small\" x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>").arg(left - 6).arg(num(y + 4, 1)).arg(qint64(tick));
    }
    const int n = std::max(1, int(days.size()));
    const double slot = double(plotW) / n, barW = std::min(42.0, slot * 0.7);
    const int labelEvery = std::max(1, int(std::ceil(n / 14.0)));
    for (int i = 0; i < days.size(); ++i) {
        const QJsonObject d = days[i].toObject();
        const double x = left + slot * i + (slot - barW) / 2;
        const double hAll = value(d, "records") / max * plotH, hCmd = value(d, "actions") / max * plotH;
        svg += QStringLiteral("<rect class=\"bar\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#c6d4e6\"><title>%5: %6 %7</title></rect>")
                   .arg(num(x, 1), num(top + plotH - hAll, 1), num(barW, 1), num(hAll, 1), esc(text(d, "day")))
                   .arg(qint64(value(d, "records"))).arg(esc(w("records", "条记录")));
        svg += QStringLiteral("<rect class=\"bar\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#4c78a8\"><title>%5: %6 %7</title></rect>")
                   .arg(num(x, 1), num(top + plotH - hCmd, 1), num(barW, 1), num(hCmd, 1), esc(text(d, "day")))
                   .arg(qint64(value(d, "actions"))).arg(esc(w("commands", "次命令")));
        if (i % labelEvery == 0)
            svg += QStringLiteral("<text class=\"small\" x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                       .arg(num(x + barW / 2, 1)).arg(height - bottom + 18).arg(esc(text(d, "day").mid(5)));
    }
    return svg + QStringLiteral("</svg>");
}

QString table(const QStringList &head, const std::vector<QStringList> &rows, const QString &empty)
{
    if (rows.empty())
        return QStringLiteral("<p class=\"empty\">%1</p>").arg(esc(empty));
    QString html = QStringLiteral("<table><thead><tr>");
    for (const QString &h : head)
        html += QStringLiteral("<th>%1</th>").arg(esc(h));
    html += QStringLiteral("</tr></thead><tbody>");
    for (const QStringList &r : rows) {
        html += QStringLiteral("<tr>");
        for (const QString &c : r)
            html += QStringLiteral("<td>%1</td>").arg(esc(c));
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</tbody></table>");
}

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

} // namespace

QString HtmlReport::render(const QJsonObject &s)
{
    const Words w{text(s, "language") != QLatin1String("en")};
    const QJsonObject totals = s.value(QLatin1String("totals")).toObject();
    const QJsonObject period = s.value(QLatin1String("period")).toObject();
    const QJsonArray commands = array(s, "commands");
    const int top = std::min(12, int(commands.size()));

    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"%1\"><head><meta charset=\"utf-8\"/>"
                        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/><title>%2</title><style>%3</style></head><body>")
             .arg(w.zh ? QStringLiteral("zh-CN") : QStringLiteral("en"), esc(w("Behaviour report", "用户行为报告")),
                  QString::fromUtf8(Style));
    QString periodText = text(period, "firstDay").isEmpty()
                             ? w("No records in the period", "所选时段内没有记录")
                             : QStringLiteral("%1 – %2").arg(text(period, "firstDay"), text(period, "lastDay"));
    if (!text(period, "product").isEmpty())
        periodText += QStringLiteral(" · %1 %2").arg(w("product", "产品"), text(period, "product"));
    h += QStringLiteral("<header><h1>%1</h1><p>%2</p></header><main>").arg(esc(w("Behaviour report", "用户行为报告")), esc(periodText));

    // Key figures.
    double actions = value(totals, "actions"), shortcuts = 0;
    for (const QJsonValue &v : array(s, "locations"))
        if (text(v.toObject(), "location") == QLatin1String("shortcut"))
            shortcuts = value(v.toObject(), "count");
    const std::vector<std::pair<QString, QString>> kpis = {
        {num(value(totals, "records")), w("records", "条记录")},
        {num(value(totals, "sessions")), w("sessions", "次会话")},
        {num(value(totals, "machines")), w("machines", "台电脑")},
        {duration(value(totals, "workSeconds"), w), w("working time", "工作时长")},
        {num(commands.size()), w("commands used", "个命令被使用")},
        {percent(actions > 0 ? shortcuts / actions : 0), w("by shortcut", "通过快捷键")},
    };
    h += QStringLiteral("<div class=\"kpis\">");
    for (const auto &k : kpis)
        h += QStringLiteral("<div class=\"kpi\"><b>%1</b><span>%2</span></div>").arg(esc(k.first), esc(k.second));
    h += QStringLiteral("</div>");

    // Top commands, stacked by where they were started.
    std::vector<BarRow> rows;
    double max = 0;
    for (int i = 0; i < top; ++i) {
        const QJsonObject c = commands[i].toObject();
        if (value(c, "actions") <= 0)
            break;
        const QJsonObject by = c.value(QLatin1String("byLocation")).toObject();
        BarRow r{text(c, "name").isEmpty() ? text(c, "code") : text(c, "name"), {}, num(value(c, "actions"))};
        for (int l = 0; l < 7; ++l)
            r.segments.push_back({by.value(QLatin1String(LocationKeys[l])).toDouble(), QLatin1String(LocationColours[l]),
                                  w(LocationEn[l], LocationZh[l])});
        max = std::max(max, value(c, "actions"));
        rows.push_back(r);
    }
    h += QStringLiteral("<div class=\"grid\"><section id=\"top-commands\"><h2>%1</h2><p class=\"note\">%2</p>%3%4</section>")
             .arg(esc(w("Top commands", "最常用的命令")), esc(w("Runs of each command, by where it was started", "每个命令的执行次数，按触发位置着色")),
                  legend(w, {0, 1, 2, 3, 4, 5}), barChart(QStringLiteral("top"), rows, max));
    h += QStringLiteral("<section id=\"locations\"><h2>%1</h2><p class=\"note\">%2</p>%3</section></div>")
             .arg(esc(w("Commands by location", "命令的触发位置")), esc(w("Where people start commands", "用户从哪里启动命令")),
                  donut(array(s, "locations"), w));

    // Shortcut share and projects.
    rows.clear();
    for (int i = 0; i < top; ++i) {
        const QJsonObject c = commands[i].toObject();
        if (value(c, "actions") <= 0)
            break;
        const double shareValue = value(c, "shortcutShare");
        rows.push_back({text(c, "name").isEmpty() ? text(c, "code") : text(c, "name"),
                        {{shareValue, QStringLiteral("#54a24b"), w("by shortcut", "快捷键")}}, percent(shareValue)});
    }
    h += QStringLiteral("<div class=\"grid\"><section id=\"shortcut-share\"><h2>%1</h2><p class=\"note\">%2</p>%3</section>")
             .arg(esc(w("Shortcut share per command", "各命令的快捷键使用率")),
                  esc(w("Share of runs started with the shortcut key", "通过快捷键执行的比例")), barChart(QStringLiteral("shortcut"), rows, 1.0));
    rows.clear();
    max = 0;
    const QJsonArray projects = array(s, "projects");
    for (int i = 0; i < projects.size() && i < 12; ++i) {
        const QJsonObject p = projects[i].toObject();
        rows.push_back({text(p, "name"), {{value(p, "openSeconds"), QStringLiteral("#f58518"), w("open", "打开时长")}},
                        duration(value(p, "openSeconds"), w)});
        max = std::max(max, value(p, "openSeconds"));
    }
    h += QStringLiteral("<section id=\"projects\"><h2>%1</h2><p class=\"note\">%2</p>%3</section></div>")
             .arg(esc(w("Working time per project", "各工程的工作时长")), esc(w("How long each project was open", "工程从打开到关闭的时间")),
                  rows.empty() ? QStringLiteral("<p class=\"empty\">%1</p>").arg(esc(w("No project was closed.", "没有关闭过的工程。")))
                               : barChart(QStringLiteral("projects"), rows, max));

    // One session over time.
    const QJsonObject t = s.value(QLatin1String("timeline")).toObject();
    h += QStringLiteral("<section id=\"timeline\"><h2>%1</h2><p class=\"note\">%2</p>%3%4</section>")
             .arg(esc(w("A session over time", "一次会话的时间线")),
                  esc(w("The session with the most records: %1, from %2", "记录最多的会话：%1，开始于 %2")
                          .arg(text(t, "session").left(8), text(t, "start"))),
                  legend(w, {0, 1, 2, 3, 4, 5}), timeline(t, w));
    h += QStringLiteral("<section id=\"daily\"><h2>%1</h2><p class=\"note\">%2</p>%3</section>")
             .arg(esc(w("Daily activity", "每日活跃度")), esc(w("Records per day, commands in dark blue", "每天的记录数，深蓝色为命令")),
                  columns(array(s, "daily"), w));

    // Tables.
    std::vector<QStringList> tr;
    for (const QJsonValue &v : array(s, "shortcutGaps")) {
        const QJsonObject o = v.toObject();
        tr.push_back({text(o, "name"), text(o, "code"), num(value(o, "actions")), percent(value(o, "shortcutShare")),
                      QStringLiteral("%1 / %2").arg(value(o, "menuOnlyMachines")).arg(value(o, "machines"))});
    }
    h += QStringLiteral("<div class=\"grid\"><section id=\"gaps\"><h2>%1</h2><p class=\"note\">%2</p>%3</section>")
             .arg(esc(w("Shortcuts people miss", "被忽略的快捷键")),
                  esc(w("Commands someone runs by shortcut, while other machines only use menus", "有人用快捷键执行，其他电脑却只用菜单的命令")),
                  table({w("Command", "命令"), w("Code", "编码"), w("Runs", "次数"), w("Shortcut", "快捷键"), w("Menu-only machines", "只用菜单的电脑")},
                        tr, w("None.", "无。")));
    tr.clear();
    for (const QJsonValue &v : array(s, "properties"))
        tr.push_back({text(v.toObject(), "property"), num(value(v.toObject(), "edits"))});
    h += QStringLiteral("<section id=\"properties\"><h2>%1</h2><p class=\"note\">%2</p>%3</section></div>")
             .arg(esc(w("Property edits", "属性修改")), esc(w("Edits per property", "各属性被修改的次数")),
                  table({w("Property", "属性"), w("Edits", "次数")}, tr, w("None.", "无。")));

    tr.clear();
    for (const QJsonValue &v : array(s, "versions")) {
        const QJsonObject o = v.toObject();
        tr.push_back({text(o, "ver"), num(value(o, "sessions")), num(value(o, "machines")), num(value(o, "actions")),
                      percent(value(o, "shortcutShare")), duration(value(o, "meanSessionSeconds"), w)});
    }
    const QJsonObject st = s.value(QLatin1String("statistics")).toObject();
    h += QStringLiteral("<div class=\"grid\"><section id=\"versions\"><h2>%1</h2>%2</section>")
             .arg(esc(w("Versions side by side", "版本对比")),
                  table({w("Version", "版本"), w("Sessions", "会话"), w("Machines", "电脑"), w("Commands", "命令"),
                         w("Shortcut", "快捷键"), w("Mean session", "平均会话")}, tr, w("None.", "无。")));
    tr.clear();
    for (const QJsonValue &v : array(st, "sent")) {
        const QJsonObject o = v.toObject();
        tr.push_back({text(o, "name").isEmpty() ? text(o, "code") : text(o, "name"), num(value(o, "count")),
                      num(value(o, "meanSeconds"), 1), num(value(o, "maxSeconds"))});
    }
    h += QStringLiteral("<section id=\"statistics\"><h2>%1</h2><p class=\"note\">%2</p>%3</section></div>")
             .arg(esc(w("Statistics sent", "发送的统计")),
                  esc(w("%1 saves, %2 returns from idle (%3 per hour of work)", "保存 %1 次，空闲后返回 %2 次（每工作小时 %3 次）")
                          .arg(value(st, "saves")).arg(value(st, "idleReturns")).arg(value(st, "idleReturnsPerHour"))),
                  table({w("Statistic", "统计"), w("Sent", "次数"), w("Mean s", "平均秒"), w("Max s", "最长秒")}, tr, w("None.", "无。")));

    if (s.contains(QLatin1String("dictionary"))) {
        const QJsonObject dict = s.value(QLatin1String("dictionary")).toObject();
        tr.clear();
        for (const QJsonValue &v : array(dict, "unused"))
            tr.push_back({text(v.toObject(), "name"), text(v.toObject(), "code"), text(v.toObject(), "group")});
        h += QStringLiteral("<section id=\"unused\"><h2>%1</h2><p class=\"note\">%2</p>%3</section>")
                 .arg(esc(w("Commands never used", "从未使用的命令")),
                      esc(w("%1 of the dictionary's %2 commands", "词典中 %2 个命令里有 %1 个")
                              .arg(tr.size()).arg(value(dict, "commands"))),
                      table({w("Command", "命令"), w("Code", "编码"), w("Group", "分组")}, tr, w("None.", "无。")));
    }
    h += QStringLiteral("</main><footer>ubc-report</footer></body></html>\n");
    return h;
}
