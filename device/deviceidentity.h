#pragma once

#include <QHash>
#include <QString>

// What a serial port is beyond its name: the USB device behind its tty, as
// sysfs describes it: its place on the bus (the USB device's folder in
// sysfs, which /dev/serial/by-path/ names too), its serial number and its
// ids. A port with no USB device behind it (a pseudo-terminal, a plain
// serial port) is known by its node alone.
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
    // The same tty at the same place: one port, whatever name it was given by.
    bool samePort(const DeviceIdentity& other) const;
    // One line for the log: "USB 1209:0001, serial TMB00001, at ... (port ...)".
    QString describe() const;
};

// Which of its programs a device answered with: its firmware (framed
// commands, it gives its device number) or its boot loader.
enum class DeviceMode { Unknown, Firmware, BootLoader };

// What a run knows of its own device, so that another unit that turns up
// where it was is never taken for it. A place on the bus or a serial number
// only says where to look; a device is proven by what it says of itself:
// its serial number in the same mode as before, and in its firmware its
// device number.
struct KnownDevice {
    // The port it was last taken on.
    DeviceIdentity port;
    // The USB serial numbers seen while it ran its firmware, and its boot
    // loader (which may enumerate with other strings, or none).
    QString firmwareSerial;
    bool firmwareSerialKnown = false;
    QString bootSerial;
    bool bootSerialKnown = false;
    // As its firmware gave it; "" while it was only seen in its boot loader.
    QString deviceNumber;

    bool isSet() const { return !port.node.isEmpty() || !port.path.isEmpty(); }
    // A port proven (or taken) to be the device: what it showed is kept.
    void learn(const DeviceIdentity& at, DeviceMode mode, const QString& number = QString());
    // "D/N F1311…", or "serial TMB00001" while no device number is known.
    QString name() const;
};

// Whether a port is the device, and if not, why.
struct Verdict {
    bool device = true;
    QString why;
};

// Where Resolve looks: the system's folders, or a made-up tree (tests set
// TEMBRA_TEST_IDENTITY_ROOT, a folder with sys/dev/char and by-path below it).
struct IdentityRoots {
    IdentityRoots();
    IdentityRoots(const QString& sysDevChar, const QString& byPath)
        : sysDevChar(sysDevChar), byPath(byPath) {}
    QString sysDevChar;
    QString byPath;
};

namespace Identity {
// The identity of the port at path (a ttyACM node, a by-id or by-path link,
// any link to one of them); only path and node when it has no USB device
// behind it, nothing but path when it does not exist.
DeviceIdentity Resolve(const QString& path, const IdentityRoots& roots = IdentityRoots());

// The one rule for a port found after the device was lost or restarted.
// With mode Unknown (the port not asked yet): whether it may be the device,
// being at its place on the bus or having one of its serial numbers. Once
// it has answered: in its firmware, its serial must be the firmware's (where
// both have one) and its device number the one the run began with; in its
// boot loader, its serial the boot loader's where that was seen before, or
// else it must be at the device's place (a boot loader often enumerates with
// other strings; its device number, after the restart, decides). A port with
// no USB behind it is judged by its device number alone.
Verdict Judge(const KnownDevice& known, const DeviceIdentity& port, DeviceMode mode,
              const QString& deviceNumber = QString());

// A lock held on a device for as long as a run works on it, so that a
// second run on the same device, by any name and with any data folder, is
// refused. It is the kernel's lock on a file that every user's runs share
// (in /run/lock where that is open to all, else in /tmp): it ends with the
// process that holds it, however that process ends, and a run of root and
// one of a user lock the same file.
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // Takes the device's lock: its place on the bus, or a port without USB
    // by its node as it was made (a pseudo-terminal's name is used again for
    // other ports). False when another live process holds it; holder then
    // says which ("process 4242 (tembra-update-tool)"). A lock file that
    // cannot be opened is said in the log once and does not refuse the run.
    bool take(const DeviceIdentity& device, QString* holder);
    // The same for a name the port was given by (--port): two runs given one
    // name are for one device, even while it is re-enumerating.
    bool takeName(const QString& path, QString* holder);
    void release();
    bool held() const;
    // The folder the locks are kept in; "" restores the system's (tests).
    static void SetFolder(const QString& folder);
    static QString Folder();

private:
    bool takeKeys(const QStringList& keys, QString* holder);
    // By key: the open lock file's descriptor.
    QHash<QString, int> locks;
};
} // namespace Identity
