#pragma once

#include <QLoggingCategory>

// Diagnostics of ubc-dict that go through Qt's message log ("kelubc.dict";
// debug lines are off unless QT_LOGGING_RULES turns them on). What the user
// must read about the command's outcome is printed, not logged.
Q_DECLARE_LOGGING_CATEGORY(lcUbcDict)
