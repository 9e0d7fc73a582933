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
void appendStat(QByteArray& out, const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        out += "-;";
        return;
    }
    out += QByteArray::number(quint64(st.st_ino)) + ',' + QByteArray::number(st.st_mode) + ',' +
           QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_ctim.tv_nsec)) + ',' +
           QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ';';
}
#endif
} // namespace

PortScan::PortScan(Roots roots, qint64 refreshMs) : roots(std::move(roots)), refreshMs(refreshMs) {}

QByteArray PortScan::Fingerprint(const Roots& roots) {
    QByteArray out;
#ifdef Q_OS_LINUX
    const QByteArray ttyClass = QFile::encodeName(roots.ttyClass);
    const QByteArray dev = QFile::encodeName(roots.dev);
    DIR* dir = ::opendir(ttyClass.constData());
    if (!dir)
        return "no tty class";
    char target[4096];
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.'))
            continue;
        const QByteArray path = ttyClass + '/' + name;
        const ssize_t n = ::readlink(path.constData(), target, sizeof(target));
        const QByteArray link = n > 0 ? QByteArray(target, int(n)) : QByteArray();
        out += name + '>' + link + ';';
        if (!link.contains(kVirtualMarker))
            appendStat(out, dev + '/' + name);
    }
    ::closedir(dir);
    // Entries come in directory order; the same set gives the same order
    // while nothing changes, which is all a comparison needs.
    appendStat(out, QFile::encodeName(roots.udevData));
#else
    Q_UNUSED(roots);
#endif
    return out;
}

bool PortScan::NeedsListing(qint64 nowMs) {
#ifndef Q_OS_LINUX
    // Without a fingerprint every pass lists.
    Q_UNUSED(nowMs);
    return true;
#else
    const QByteArray now = Fingerprint(roots);
    const bool needed = !listed || now != last || nowMs - listedAt >= refreshMs;
    last = now;
    if (needed) {
        listed = true;
        listedAt = nowMs;
    }
    return needed;
#endif
}
