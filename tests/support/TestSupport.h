#ifndef KELUBC_TESTSUPPORT_H
#define KELUBC_TESTSUPPORT_H

// Stand-ins for the two siblings, built with their sonames so that KelUbc
// loads them unchanged: a behaviour log that records every call, and a
// tracker whose working time the test sets.

#include <RuvUbc.h>

#include <QtCore/QList>
#include <QtCore/QStringList>

#include <string>

namespace RecordingLog {
// "init", "filter:15", "log", "filter:0", "path:<p>", "mirror:<p>" in call order.
Q_DECL_IMPORT QStringList &calls();
Q_DECL_IMPORT QList<UbcDataProtocol> &records();
// Clears calls and records; collection is on again
// (RuvUbc::setCollectionEnabled turns it off).
Q_DECL_IMPORT void reset();
// What initUbcDataProtocol leaves in every fresh record.
Q_DECL_IMPORT UbcDataProtocol initialRecord();
}

namespace ManualTracker {
// "start:<key>:<ms>", "get:<key>", "remove:<key>" in call order.
Q_DECL_IMPORT QStringList &calls();
// getWorkingTime answers this for every key.
Q_DECL_IMPORT void setWorkingTime(qint64 ms);
Q_DECL_IMPORT void reset();
}

#endif
