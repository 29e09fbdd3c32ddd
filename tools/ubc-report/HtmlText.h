#ifndef HTMLTEXT_H
#define HTMLTEXT_H

#include "ReportData.h"

#include <QtCore/QString>

#include <initializer_list>

class QXmlStreamWriter;

// What the HTML page and its charts share: words in the page's language,
// numbers and durations as the page shows them, and the colour and name of
// each location.
namespace HtmlText {

struct Words
{
    bool zh;
    QString operator()(const char *en, const char *zhText) const
    {
        return QString::fromUtf8(zh ? zhText : en);
    }
};

QString number(double v, int decimals = 0);
QString percent(double share);             // whole percent, one decimal below 10 %
QString duration(int64_t seconds, const Words &w);
// At most maxUnits columns (CJK characters take two), with an ellipsis when cut.
QString fit(const QString &s, int maxUnits);

const char *locationColour(UbcReport::Location location);
QString locationName(UbcReport::Location location, const Words &w);

// Text as an element's content; control characters, which XML does not
// allow, become U+FFFD.
void writeText(QXmlStreamWriter &xml, const QString &text);
void writeTextElement(QXmlStreamWriter &xml, const QString &name, const QString &text);
// Attributes of the element just started: name, value, name, value...
void writeAttributes(QXmlStreamWriter &xml, std::initializer_list<QString> attributes);
// An element with attributes and text.
void writeElement(QXmlStreamWriter &xml, const QString &name, std::initializer_list<QString> attributes,
                  const QString &text);

} // namespace HtmlText

#endif // HTMLTEXT_H
