#ifndef HTMLREPORT_H
#define HTMLREPORT_H

#include <QtCore/QString>

class Summary;

// The summary as one self-contained page: inline style and SVG charts, no
// script, no file or font from elsewhere. Chinese or English after the
// summary's language. The markup is also well-formed XML.
namespace HtmlReport {
QString render(const Summary &summary);
}

#endif // HTMLREPORT_H
