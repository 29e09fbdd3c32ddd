#ifndef TEXTREPORT_H
#define TEXTREPORT_H

#include <QtCore/QJsonObject>
#include <QtCore/QString>

// The summary as plain text for a terminal.
namespace TextReport {
QString render(const QJsonObject &summary);
}

#endif // TEXTREPORT_H
