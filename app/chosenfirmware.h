#pragma once

#include "app/state/usertext.h"

#include <QByteArray>
#include <QString>

// A firmware file the user chose (the command line's --firmware, or a file
// dropped on the window) instead of the update service's: read once, whole,
// and checked before anything is sent to a device.
struct ChosenFirmware {
    QString path; // as chosen, made absolute
    QByteArray data;
    QString sha256;   // hex
    int checksum = 0; // as the device reports it: the packets' CRC-16 added up

    bool isValid() const { return !data.isEmpty(); }

    // The largest file that is taken for firmware.
    static constexpr qint64 MaxBytes = 16 * 1024 * 1024;

    // Reads the file at path (and, when expectedSha256 is given, checks that
    // it is that image); false, with why, when it cannot be firmware: it
    // cannot be read, is a folder, is empty, or is larger than MaxBytes.
    static bool Load(const QString& path, const QString& expectedSha256, ChosenFirmware* firmware,
                     UserText* why);
};
