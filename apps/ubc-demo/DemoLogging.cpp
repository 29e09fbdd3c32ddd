#include "DemoLogging.h"

Q_LOGGING_CATEGORY(lcDemo, "kelubc.demo")
