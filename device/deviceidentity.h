#pragma once

#include <QHash>
#include <QString>

class QLockFile;

// What a serial port is beyond its name: the USB device behind its tty, as
// sysfs describes it. A device is known by its place on the bus (the USB
// device's folder in sysfs, which /dev/serial/by-path/ names too) and by its
// serial number: a tty of the same place, or failing that of the same serial
// number, is the same device, whatever its ttyACM number, its product string
// (a boot loader may have its own, and so another /dev/serial/by-id/ link),
// and across an unplug and replug into the same USB port. A port with no USB
// device behind it (a pseudo-terminal, a plain serial port) is known by its
// path alone.
struct DeviceIdentity {
    // The path the port was named by, and its device node (/dev/ttyACM0).
    QString path;
    QString node;
    // The USB device: its folder in sysfs (/sys/devices/.../usb1/1-1), its
    // serial number, vendor and product ids (hex, as sysfs has them); the
    // /dev/serial/by-path/ link that names the port, where udev made one.
    QString usbDevice;
    // The node as it was made (its number, inode and change time).
    QString nodeStamp;
    QString serial;
    QString vendorId;
    QString productId;
    QString byPath;

    bool isUsb() const { return !usbDevice.isEmpty(); }
    // Whether other is the same device, by the rule above.
    bool sameDevice(const DeviceIdentity& other) const;
    // One line for the log: "USB 1209:0001, serial TMB00001, at ... (port ...)".
    QString describe() const;
};

// Where Resolve looks: the system's folders, or a made-up tree (tests).
struct IdentityRoots {
    QString sysDevChar = QStringLiteral("/sys/dev/char");
    QString byPath = QStringLiteral("/dev/serial/by-path");
};

namespace Identity {
// The identity of the port at path (a ttyACM node, a by-id or by-path link,
// any link to one of them); only path and node when it has no USB device
// behind it, nothing but path when it does not exist.
DeviceIdentity Resolve(const QString& path, const IdentityRoots& roots = IdentityRoots());

// A lock held for a device's identity for as long as a run updates it, so
// that a second run on the same device, by any name and with any data
// folder, is refused. Held in a folder every user's runs share.
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // Takes the device's locks (its place on the bus and its serial number,
    // or its port's node as it was made: a node made anew under the same name,
    // as a pseudo-terminal's, is another port). False when another live process holds one; holder
    // then says which ("process 4242"). A lock that cannot be made at all
    // (no folder to write) does not refuse the run.
    bool take(const DeviceIdentity& device, QString* holder);
    void release();
    bool held() const;
    // The folder the locks are kept in; "" restores the default (tests).
    static void SetFolder(const QString& folder);

private:
    bool isHeld(const QString& key) const;
    // By key: the device's place on the bus, its serial number, or its node.
    QHash<QString, QLockFile*> locks;
};
} // namespace Identity
