#include "app/logging.h"

Q_LOGGING_CATEGORY(lcApp, "tembra.app")
Q_LOGGING_CATEGORY(lcDevice, "tembra.device")
Q_LOGGING_CATEGORY(lcPages, "tembra.pages")
