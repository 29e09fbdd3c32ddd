#pragma once

#include <QtCore/QLoggingCategory>

// The demo's own diagnostics ("kelubc.demo"); what the scenario reports to
// its user is printed, not logged.
Q_DECLARE_LOGGING_CATEGORY(lcDemo)
