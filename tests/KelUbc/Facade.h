#ifndef FACADE_H
#define FACADE_H

#include "KelUbcPrivate.h"
#include "TestLogs.h"
#include "TestSupport.h"

#include <QtCore/QEvent>

using namespace TestLogs;

// What the facade tests share. They reach the library through the facade and
// the application's events; the clock is the one seam into its state.
inline KelUbc *ubc() { return KelUbc::instance(); }

// The library's clock moves on by ms, instead of the test waiting.
inline void advanceClock(qint64 ms) { KelUbcPrivate::get(ubc())->advanceClockForTesting(ms); }

// A press, as Qt delivers it, on the ribbon's quick-access bar: the location
// label for the next action.
inline void pressQuickBar()
{
    ubc(); // the watcher exists
    QObject bar;
    bar.setObjectName(QStringLiteral("RibbonMainWindowWindow"));
    QEvent press(QEvent::MouseButtonPress);
    QCoreApplication::sendEvent(&bar, &press);
}

// The location label the next action would carry. The probe action consumes
// it and leaves no trace in the recording log.
inline QString pendingLocation()
{
    const int calls = RecordingLog::calls().size(), records = RecordingLog::records().size();
    ubc()->sendActionExecute(QStringLiteral("LOCATION-PROBE"), QStringLiteral("probe"), false);
    const QString location = RecordingLog::records().size() == records
        ? QStringLiteral("(not logged)") : RecordingLog::records().takeLast().attrs.value(QStringLiteral("location"));
    RecordingLog::calls().erase(RecordingLog::calls().begin() + calls, RecordingLog::calls().end());
    return location;
}

#endif
