#include "device/portscan.h"

#include <QFile>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const char kVirtualMarker[] = "/virtual/";

#ifdef Q_OS_LINUX
// Identity, permissions, size and times of a file, as text; "-" when it is
// missing. Times change at the kernel's tick, so two changes within one tick
// leave them alone: the size of a folder on tmpfs, such as udev's database,
// still counts the files added.
QByteArray statText(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return "-";
    return QByteArray::number(quint64(st.st_ino)) + ',' + QByteArray::number(st.st_mode) + ',' +
           QByteArray::number(qint64(st.st_size)) + ',' +
           QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_ctim.tv_nsec)) + ',' +
           QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_mtim.tv_nsec));
}

QByteArray linkText(const QByteArray& path) {
    char target[4096];
    const ssize_t n = ::readlink(path.constData(), target, sizeof(target));
    return n > 0 ? QByteArray(target, int(n)) : QByteArray();
}
#endif
} // namespace

PortScan::PortScan(Roots roots, qint64 refreshMs) : roots(std::move(roots)), refreshMs(refreshMs) {}

QByteArray PortScan::fingerprint() {
    QByteArray out;
#ifdef Q_OS_LINUX
    const QByteArray ttyClass = QFile::encodeName(roots.ttyClass);
    const QByteArray dev = QFile::encodeName(roots.dev);
    DIR* dir = ::opendir(ttyClass.constData());
    if (!dir)
        return "no tty class";
    QHash<QByteArray, Entry> seen;
    while (const dirent* item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        if (name.startsWith('.'))
            continue;
        const auto known = entries.constFind(name);
        Entry entry = known != entries.constEnd() ? *known : Entry();
        const bool fresh = known == entries.constEnd();
        if (fresh) {
            entry.link = linkText(ttyClass + '/' + name);
            entry.real = !entry.link.contains(kVirtualMarker);
        }
        if (entry.real) {
            const QByteArray node = statText(dev + '/' + name);
            // A node made anew may belong to another device of the same name.
            if (!fresh && node != entry.node)
                entry.link = linkText(ttyClass + '/' + name);
            entry.node = node;
        }
        out += name + '>' + entry.link + '>' + entry.node + ';';
        seen.insert(name, entry);
    }
    ::closedir(dir);
    entries = seen;
    // Entries come in directory order; the same set gives the same order
    // while nothing changes, which is all a comparison needs.
    out += statText(QFile::encodeName(roots.udevData));
#endif
    return out;
}

bool PortScan::NeedsListing(qint64 nowMs) {
#ifndef Q_OS_LINUX
    // Without a fingerprint every pass lists.
    Q_UNUSED(nowMs);
    return true;
#else
    const QByteArray now = fingerprint();
    const bool needed = !listed || now != last || nowMs - listedAt >= refreshMs;
    last = now;
    if (needed) {
        listed = true;
        listedAt = nowMs;
    }
    return needed;
#endif
}
