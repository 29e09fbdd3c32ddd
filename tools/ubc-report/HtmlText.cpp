#include "HtmlText.h"

#include <QtCore/QXmlStreamWriter>

using namespace UbcReport;

namespace HtmlText {

namespace {

const char *const LocationColours[LocationCount] = {"#4c78a8", "#72b7b2", "#f58518", "#b279a2", "#54a24b", "#bab0ac", "#9d755d"};
const char *const LocationEn[LocationCount] = {"Ribbon toolbar", "Quick-access bar", "Context menu", "View panel", "Shortcut key", "None", "Other"};
const char *const LocationZh[LocationCount] = {"Ribbon工具栏", "Ribbon快捷栏", "右键菜单", "视图面板", "快捷键", "无", "其他"};

int width(QChar c)
{
    return c.unicode() >= 0x1100 ? 2 : 1;
}

} // namespace

QString number(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

QString percent(double share)
{
    return number(share * 100.0, share < 0.1 && share > 0 ? 1 : 0) + QLatin1Char('%');
}

QString duration(int64_t s, const Words &w)
{
    if (s < 60)
        return w.zh ? QStringLiteral("%1秒").arg(s) : QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return w.zh ? QStringLiteral("%1分%2秒").arg(s / 60).arg(s % 60) : QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return w.zh ? QStringLiteral("%1小时%2分").arg(s / 3600).arg(s % 3600 / 60)
                : QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}

QString fit(const QString &s, int maxUnits)
{
    int units = 0;
    for (QChar c : s)
        units += width(c);
    if (units <= maxUnits)
        return s;
    QString out;
    int n = 0;
    for (QChar c : s) {
        n += width(c);
        if (n > maxUnits - 1)
            break;
        out += c;
    }
    return out + QChar(0x2026);
}

const char *locationColour(Location location)
{
    return LocationColours[location];
}

QString locationName(Location location, const Words &w)
{
    return w(LocationEn[location], LocationZh[location]);
}

void writeText(QXmlStreamWriter &xml, const QString &text)
{
    QString s = text;
    for (QChar &c : s)
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            c = QChar(0xfffd);
    xml.writeCharacters(s); // also closes an empty element's start tag: <i></i>, never <i/>
}

void writeTextElement(QXmlStreamWriter &xml, const QString &name, const QString &text)
{
    xml.writeStartElement(name);
    writeText(xml, text);
    xml.writeEndElement();
}

void writeAttributes(QXmlStreamWriter &xml, std::initializer_list<QString> attributes)
{
    for (auto it = attributes.begin(); it != attributes.end() && it + 1 != attributes.end(); it += 2)
        xml.writeAttribute(*it, *(it + 1));
}

void writeElement(QXmlStreamWriter &xml, const QString &name, std::initializer_list<QString> attributes,
                  const QString &text)
{
    xml.writeStartElement(name);
    writeAttributes(xml, attributes);
    writeText(xml, text);
    xml.writeEndElement();
}

} // namespace HtmlText
