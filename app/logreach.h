#pragma once

#include <QObject>
#include <QString>

// The run's log within the user's reach: its folder shown in the desktop's
// file manager, with the log selected where the file manager can do that,
// and the details support asks for, ready for the clipboard. Nothing here
// holds the window up: the file manager is asked off the GUI thread, within
// a few seconds, and the folder is opened as any folder is where it does not
// answer.
namespace LogReach {

// Shows the folder of path, selecting path where the file manager offers it.
// receiver: what the fallback is done for (it is dropped once receiver is gone).
void ShowInFolder(QObject* receiver, const QString& path);

// The details of this run for support: the tool's version, the log's path,
// the device and the last failure (each left out where there is none).
QString Details(const QString& logPath, const QString& device, const QString& failure);

} // namespace LogReach
