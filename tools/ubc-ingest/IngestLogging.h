#ifndef INGESTLOGGING_H
#define INGESTLOGGING_H

#include <QtCore/QLoggingCategory>

// The ingest service's notes and warnings: "kelubc.ingest".
Q_DECLARE_LOGGING_CATEGORY(lcIngest)

#endif // INGESTLOGGING_H
