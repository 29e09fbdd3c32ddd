#ifndef TEXTREPORT_H
#define TEXTREPORT_H

#include <QtCore/QString>

class Summary;

// The summary as plain text for a terminal.
namespace TextReport {
QString render(const Summary &summary);
}

#endif // TEXTREPORT_H
