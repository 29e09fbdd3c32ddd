#include "SvgCharts.h"

#include <QtCore/QXmlStreamWriter>

#include <algorithm>
#include <cmath>

using namespace HtmlText;
using namespace UbcReport;

namespace SvgCharts {

namespace {

QString n(int v) { return QString::number(v); }
QString n1(double v) { return number(v, 1); }

void startSvg(QXmlStreamWriter &xml, const QString &cls, int width, int height)
{
    xml.writeStartElement(QStringLiteral("svg"));
    writeAttributes(xml, {QStringLiteral("class"), QStringLiteral("chart ") + cls,
                          QStringLiteral("xmlns"), QStringLiteral("http://www.w3.org/2000/svg"),
                          QStringLiteral("viewBox"), QStringLiteral("0 0 %1 %2").arg(width).arg(height),
                          QStringLiteral("width"), QStringLiteral("100%"), QStringLiteral("role"), QStringLiteral("img")});
    writeText(xml, QString()); // <svg ...></svg> even without content
}

void emptyElement(QXmlStreamWriter &xml, const QString &name, std::initializer_list<QString> attributes)
{
    xml.writeEmptyElement(name);
    writeAttributes(xml, attributes);
}

// A shape with its tooltip.
void titled(QXmlStreamWriter &xml, const QString &name, std::initializer_list<QString> attributes, const QString &title)
{
    xml.writeStartElement(name);
    writeAttributes(xml, attributes);
    writeTextElement(xml, QStringLiteral("title"), title);
    xml.writeEndElement();
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

const QString Class = QStringLiteral("class"), X = QStringLiteral("x"), Y = QStringLiteral("y"),
              Width = QStringLiteral("width"), Height = QStringLiteral("height"), Fill = QStringLiteral("fill"),
              Anchor = QStringLiteral("text-anchor"), Text = QStringLiteral("text"), Rect = QStringLiteral("rect");

} // namespace

void bars(QXmlStreamWriter &xml, const QString &cls, const std::vector<BarRow> &rows, double max)
{
    const int width = 560, labelW = 150, valueW = 70, rowH = 26, top = 4;
    const int barW = width - labelW - valueW;
    const int height = top * 2 + rowH * int(rows.size());
    startSvg(xml, cls, width, std::max(height, 20));
    for (size_t i = 0; i < rows.size(); ++i) {
        const BarRow &r = rows[i];
        const int y = top + rowH * int(i);
        writeElement(xml, Text, {Class, QStringLiteral("label"), X, n(labelW - 8), Y, n(y + 17), Anchor, QStringLiteral("end")},
                     fit(r.label, 22));
        emptyElement(xml, Rect, {Class, QStringLiteral("track"), X, n(labelW), Y, n(y + 5), Width, n(barW),
                                 Height, QStringLiteral("16"), QStringLiteral("rx"), QStringLiteral("3")});
        double x = labelW;
        for (const Segment &s : r.segments) {
            const double w = max > 0 ? s.value / max * barW : 0;
            if (w <= 0)
                continue;
            titled(xml, Rect, {Class, QStringLiteral("bar"), X, n1(x), Y, n(y + 5), Width, n1(w), Height, QStringLiteral("16"),
                               Fill, s.colour}, s.title);
            x += w;
        }
        writeElement(xml, Text, {Class, QStringLiteral("value"), X, n(labelW + barW + 8), Y, n(y + 17)}, r.valueText);
    }
    xml.writeEndElement();
}

void donut(QXmlStreamWriter &xml, const Summary::LocationShare (&locations)[LocationCount], const Words &w)
{
    int64_t total = 0;
    for (const Summary::LocationShare &l : locations)
        total += l.count;
    startSvg(xml, QStringLiteral("donut"), 520, 220);
    const int cx = 110, cy = 110, r = 80, stroke = 34;
    const QString centre[] = {QStringLiteral("cx"), n(cx), QStringLiteral("cy"), n(cy), QStringLiteral("r"), n(r)};
    const double c = 2 * M_PI * r;
    emptyElement(xml, QStringLiteral("circle"), {centre[0], centre[1], centre[2], centre[3], centre[4], centre[5],
                                                 Fill, QStringLiteral("none"), QStringLiteral("stroke"), QStringLiteral("#eef0f3"),
                                                 QStringLiteral("stroke-width"), n(stroke)});
    double offset = 0;
    int row = 0;
    for (int l = 0; l < LocationCount; ++l) {
        const Location location = Location(l);
        const int64_t count = locations[l].count;
        if (count <= 0)
            continue;
        const double len = double(count) / double(total) * c;
        const QString colour = QLatin1String(locationColour(location));
        titled(xml, QStringLiteral("circle"),
               {Class, QStringLiteral("slice"), centre[0], centre[1], centre[2], centre[3], centre[4], centre[5],
                Fill, QStringLiteral("none"), QStringLiteral("stroke"), colour, QStringLiteral("stroke-width"), n(stroke),
                QStringLiteral("stroke-dasharray"), number(len, 2) + QLatin1Char(' ') + number(c - len, 2),
                QStringLiteral("stroke-dashoffset"), number(-offset, 2),
                QStringLiteral("transform"), QStringLiteral("rotate(-90 %1 %2)").arg(cx).arg(cy)},
               locationName(location, w));
        offset += len;
        const int y = 36 + row++ * 26;
        emptyElement(xml, Rect, {X, QStringLiteral("240"), Y, n(y - 12), Width, QStringLiteral("14"), Height, QStringLiteral("14"),
                                 QStringLiteral("rx"), QStringLiteral("3"), Fill, colour});
        writeElement(xml, Text, {Class, QStringLiteral("label"), X, QStringLiteral("262"), Y, n(y)}, locationName(location, w));
        writeElement(xml, Text, {Class, QStringLiteral("value"), X, QStringLiteral("500"), Y, n(y), Anchor, QStringLiteral("end")},
                     QString::number(count) + QStringLiteral(" · ") + percent(locations[l].share));
    }
    writeElement(xml, Text, {Class, QStringLiteral("big"), X, n(cx), Y, n(cy + 4), Anchor, QStringLiteral("middle")},
                 QString::number(total));
    writeElement(xml, Text, {Class, QStringLiteral("small"), X, n(cx), Y, n(cy + 24), Anchor, QStringLiteral("middle")},
                 w("commands", "次命令"));
    xml.writeEndElement();
}

void timeline(QXmlStreamWriter &xml, const Summary::Timeline &t, const Words &w)
{
    const int width = 1120, left = 110, right = 20, laneH = 34, top = 10;
    // One lane per record kind, in RecordKind's order.
    const char *const lanesEn[] = {"Lifecycle", "Commands", "Property edits", "Other events"};
    const char *const lanesZh[] = {"生命周期", "命令", "属性编辑", "其他事件"};
    double end = 0;
    for (const Summary::Event &e : t.events)
        end = std::max(end, double(e.t));
    end = std::max(end, 1000.0);
    const int plotW = width - left - right;
    const int height = top + laneH * 4 + 30;
    startSvg(xml, QStringLiteral("timeline"), width, height);
    for (int lane = 0; lane < 4; ++lane) {
        const int y = top + lane * laneH;
        emptyElement(xml, Rect, {Class, QStringLiteral("lane"), X, n(left), Y, n(y + 4), Width, n(plotW), Height, n(laneH - 8)});
        writeElement(xml, Text, {Class, QStringLiteral("label"), X, n(left - 10), Y, n(y + laneH / 2 + 5), Anchor, QStringLiteral("end")},
                     w(lanesEn[lane], lanesZh[lane]));
    }
    // Axis in seconds or minutes.
    const bool minutes = end > 180000;
    const double unit = minutes ? 60000.0 : 1000.0;
    const double step = niceStep(end / unit, 8);
    for (double tick = 0; tick <= end / unit + 1e-9; tick += step) {
        const QString x = n1(left + tick * unit / end * plotW);
        emptyElement(xml, QStringLiteral("line"), {Class, QStringLiteral("grid"), QStringLiteral("x1"), x, QStringLiteral("y1"), n(top),
                                                   QStringLiteral("x2"), x, QStringLiteral("y2"), n(top + laneH * 4)});
        writeElement(xml, Text, {Class, QStringLiteral("small"), X, x, Y, n(top + laneH * 4 + 18), Anchor, QStringLiteral("middle")},
                     number(tick, step < 1 ? 1 : 0) + (minutes ? w(" min", "分") : w(" s", "秒")));
    }
    // Smaller marks when a long session would turn them into a solid band.
    const double r = t.events.size() > 150 ? 3.5 : 6.0;
    for (const Summary::Event &e : t.events) {
        const int lane = e.kind;
        const double x = left + double(e.t) / end * plotW;
        const int y = top + lane * laneH + laneH / 2;
        const QString title = e.code + QLatin1Char(' ') + e.name + QStringLiteral(" (+") + n1(double(e.t) / 1000.0) + QStringLiteral(" s)");
        if (e.kind == Lifecycle) {
            titled(xml, QStringLiteral("path"),
                   {Class, QStringLiteral("mark lifecycle"),
                    QStringLiteral("d"), QStringLiteral("M%1 %2 l%3 %4 l-%3 %4 l-%3 -%4 z").arg(n1(x), n1(y - r - 2), n1(r), n1(r + 2))},
                   title);
        } else {
            const QString colour = e.kind == Action ? QLatin1String(locationColour(e.location))
                                                    : QLatin1String(e.kind == PropertyEdit ? "#e45756" : "#8c8c8c");
            titled(xml, QStringLiteral("circle"), {Class, QStringLiteral("mark"), QStringLiteral("cx"), n1(x), QStringLiteral("cy"), n(y),
                                                   QStringLiteral("r"), n1(r), Fill, colour}, title);
        }
    }
    xml.writeEndElement();
}

void daily(QXmlStreamWriter &xml, const std::vector<Summary::Day> &days, const Words &w)
{
    const int width = 1120, left = 50, bottom = 40, top = 14, height = 230;
    const int plotH = height - top - bottom, plotW = width - left - 10;
    double max = 1;
    for (const Summary::Day &d : days)
        max = std::max(max, double(d.records));
    const double step = niceStep(max, 4);
    max = std::ceil(max / step) * step;
    startSvg(xml, QStringLiteral("daily"), width, height);
    for (double tick = 0; tick <= max + 1e-9; tick += step) {
        const double y = top + plotH - tick / max * plotH;
        emptyElement(xml, QStringLiteral("line"), {Class, QStringLiteral("grid"), QStringLiteral("x1"), n(left), QStringLiteral("y1"), n1(y),
                                                   QStringLiteral("x2"), n(width - 10), QStringLiteral("y2"), n1(y)});
        writeElement(xml, Text, {Class, QStringLiteral("small"), X, n(left - 6), Y, n1(y + 4), Anchor, QStringLiteral("end")},
                     QString::number(qint64(tick)));
    }
    const int count = std::max(1, int(days.size()));
    const double slot = double(plotW) / count, barW = std::min(42.0, slot * 0.7);
    const int labelEvery = std::max(1, int(std::ceil(count / 14.0)));
    for (size_t i = 0; i < days.size(); ++i) {
        const Summary::Day &d = days[i];
        const double x = left + slot * double(i) + (slot - barW) / 2;
        const struct { int64_t value; const char *colour, *en, *zh; } columns[] = {
            {d.records, "#c6d4e6", "records", "条记录"}, {d.actions, "#4c78a8", "commands", "次命令"}};
        for (const auto &c : columns) {
            const double h = double(c.value) / max * plotH;
            titled(xml, Rect, {Class, QStringLiteral("bar"), X, n1(x), Y, n1(top + plotH - h), Width, n1(barW), Height, n1(h),
                               Fill, QLatin1String(c.colour)},
                   d.day + QStringLiteral(": ") + QString::number(c.value) + QLatin1Char(' ') + w(c.en, c.zh));
        }
        if (int(i) % labelEvery == 0)
            writeElement(xml, Text, {Class, QStringLiteral("small"), X, n1(x + barW / 2), Y, n(height - bottom + 18), Anchor, QStringLiteral("middle")},
                         d.day.mid(5));
    }
    xml.writeEndElement();
}

} // namespace SvgCharts
