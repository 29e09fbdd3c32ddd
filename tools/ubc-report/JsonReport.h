#ifndef JSONREPORT_H
#define JSONREPORT_H

#include <QtCore/QByteArray>

class Summary;

// The summary as an indented JSON document, every figure under its own key.
namespace JsonReport {
QByteArray render(const Summary &summary);
}

#endif // JSONREPORT_H
