#pragma once

#include <QLoggingCategory>

// One category per subsystem of the tool.
Q_DECLARE_LOGGING_CATEGORY(lcApp)    // window, connection control, reply handler
Q_DECLARE_LOGGING_CATEGORY(lcDevice) // command set, packets, port threads
Q_DECLARE_LOGGING_CATEGORY(lcPages)  // pages
