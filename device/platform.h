#pragma once

#include <QtGlobal>
#include <optional>

class QSerialPort;

// Facts about the operating system that change how the transfer behaves.
namespace Platform {
// True only on Windows 10, where a "C" during the packet phase restarts the transfer.
bool IsWindows10();
// Replaces the answer of IsWindows10 (tests); std::nullopt restores the real one.
void SetWindows10Override(std::optional<bool> value);
// Bytes that the system has received on an open port and the port object has
// not read yet; 0 when the system cannot tell.
qint64 PendingInput(QSerialPort* port);
} // namespace Platform
