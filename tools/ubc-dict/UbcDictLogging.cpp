#include "UbcDictLogging.h"

Q_LOGGING_CATEGORY(lcUbcDict, "kelubc.dict", QtInfoMsg)
