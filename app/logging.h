#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// One category per subsystem of the tool.
Q_DECLARE_LOGGING_CATEGORY(lcApp)    // window, connection control, reply handler
Q_DECLARE_LOGGING_CATEGORY(lcDevice) // command set, packets, port threads
Q_DECLARE_LOGGING_CATEGORY(lcPages)  // pages
// The conversation with the device, in a stable form that a replay reads
// back (docs: README, "The log's form"): one line per event.
Q_DECLARE_LOGGING_CATEGORY(lcWire)

// The wire lines.
namespace Wire {
// Every write to the device and every read from it, as the bytes went.
void Sent(int order, const QByteArray& bytes);
void Received(int order, const QByteArray& bytes);
// The port opened and closed by the tool, lost (hung up, or gone from the
// list) and found by a search.
void PortOpened(const QString& name);
void PortClosed(const QString& name);
void PortLost(const QString& name, const QString& reason);
void PortFound(const QString& name);
// The version of this form, named in the log's header.
constexpr int FormVersion = 1;
} // namespace Wire
