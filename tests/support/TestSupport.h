#ifndef KELUBC_TESTSUPPORT_H
#define KELUBC_TESTSUPPORT_H

// Stand-ins for the two siblings, built with their sonames so that KelUbc
// loads them unchanged: a behaviour log that records every call, and a
// tracker whose working time the test sets.

#include <RuvUbc.h>

#include <QtCore/QList>
#include <QtCore/QStringList>

#include <string>

// Exported by the stand-in that defines them (a DLL must say so).
#if defined(RUVUBC_LIBRARY)
#  define RECORDINGLOG_EXPORT Q_DECL_EXPORT
#else
#  define RECORDINGLOG_EXPORT Q_DECL_IMPORT
#endif
#if defined(KELGENERALUTILITY_LIBRARY)
#  define MANUALTRACKER_EXPORT Q_DECL_EXPORT
#else
#  define MANUALTRACKER_EXPORT Q_DECL_IMPORT
#endif

namespace RecordingLog {
// "init", "filter:15", "log", "filter:0", "path:<p>", "mirror:<p>" in call order.
RECORDINGLOG_EXPORT QStringList &calls();
RECORDINGLOG_EXPORT QList<UbcDataProtocol> &records();
// Clears calls and records; collection is on again
// (RuvUbc::setCollectionEnabled turns it off).
RECORDINGLOG_EXPORT void reset();
// What initUbcDataProtocol leaves in every fresh record.
RECORDINGLOG_EXPORT UbcDataProtocol initialRecord();
}

namespace ManualTracker {
// "start:<key>:<ms>", "get:<key>", "remove:<key>" in call order.
MANUALTRACKER_EXPORT QStringList &calls();
// getWorkingTime answers this for every key.
MANUALTRACKER_EXPORT void setWorkingTime(qint64 ms);
MANUALTRACKER_EXPORT void reset();
}

#endif
