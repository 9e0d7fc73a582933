#pragma once

#include "app/state/usertext.h"

#include <QString>
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
// Why a port did not open, in words a user can act on, and in English. A
// port that another program holds through its lock file is reported by the
// toolkit as a permission error; it is said to be busy, and by whom.
UserText OpenFailureReason(const QSerialPort* port);
} // namespace Platform
