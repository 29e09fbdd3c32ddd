#ifndef UPLOADLOGGING_H
#define UPLOADLOGGING_H

#include <QtCore/QLoggingCategory>

// The uploader's warnings and notes: "kelubc.upload".
Q_DECLARE_LOGGING_CATEGORY(lcUpload)

#endif // UPLOADLOGGING_H
