#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// Decides when the system's serial ports must be listed in full again. A full
// listing asks every serial device for its details and costs milliseconds; a
// fingerprint of the tty devices present costs a directory read and a few
// file stats, so each pass compares fingerprints and lists only on a change.
//
// The fingerprint holds, per entry of the tty class folder, its name and the
// device it links to; for entries of real devices (not under "virtual") also
// the device node's inode, mode, size and times, which change when the node
// is made anew (a port replaced under the same name) or its permissions or
// ACL change (the udev rule's uaccess). It also holds the change time of
// udev's database folder, which changes when udev finishes describing a
// device, so a port whose description arrives after its node is listed again
// then. A full listing every refreshMs covers anything else, cheaply. Links
// are read again only for new entries and changed nodes: a pass costs one
// directory read and a stat per real device.
//
// Polling a fingerprint was chosen over a udev monitor: it needs no library
// beyond the toolkit, and works the same where no udev runs (containers).
// Where the fingerprint looks: the system's folders, or a made-up tree.
struct TtyRoots {
    QString ttyClass = QStringLiteral("/sys/class/tty");
    QString dev = QStringLiteral("/dev");
    QString udevData = QStringLiteral("/run/udev/data");
};

class PortScan {
public:
    using Roots = TtyRoots;
    static constexpr qint64 DefaultRefreshMs = 30000;

    explicit PortScan(Roots roots = Roots(), qint64 refreshMs = DefaultRefreshMs);

    // Whether a full listing is needed at time nowMs (a monotonic clock): the
    // first time, when the fingerprint changed since the last call, and when
    // refreshMs passed since the last full listing.
    bool NeedsListing(qint64 nowMs);

private:
    // What the last pass knew of one entry of the tty class folder: where it
    // links to is read when the entry is new or its device node changed; its
    // node is looked at on every pass.
    struct Entry {
        QByteArray link;
        QByteArray node;
        bool real = false;
    };
    QByteArray fingerprint();

    Roots roots;
    QHash<QByteArray, Entry> entries;
    qint64 refreshMs;
    QByteArray last;
    qint64 listedAt = 0;
    bool listed = false;
};
