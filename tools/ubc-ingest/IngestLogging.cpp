#include "IngestLogging.h"

Q_LOGGING_CATEGORY(lcIngest, "kelubc.ingest")
