#ifndef SVGCHARTS_H
#define SVGCHARTS_H

#include "HtmlText.h"
#include "Summary.h"

#include <QtCore/QString>

#include <vector>

class QXmlStreamWriter;

// The report's charts as inline SVG elements, sized by their viewBox to the
// width of their section.
namespace SvgCharts {

struct Segment { double value; QString colour, title; };
struct BarRow { QString label; std::vector<Segment> segments; QString valueText; };

// Horizontal bars with their labels on the left and a value on the right;
// a row's segments are stacked, max is the full bar.
void bars(QXmlStreamWriter &xml, const QString &cls, const std::vector<BarRow> &rows, double max);
// The share of each location among the commands, as a ring with its legend.
void donut(QXmlStreamWriter &xml, const Summary::LocationShare (&locations)[UbcReport::LocationCount],
           const HtmlText::Words &w);
// One session's records on four lanes (lifecycle, commands, edits, events) over time.
void timeline(QXmlStreamWriter &xml, const Summary::Timeline &timeline, const HtmlText::Words &w);
// Records and commands per day as columns.
void daily(QXmlStreamWriter &xml, const std::vector<Summary::Day> &days, const HtmlText::Words &w);

} // namespace SvgCharts

#endif // SVGCHARTS_H
