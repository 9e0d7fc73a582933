#include "app/logging.h"

Q_LOGGING_CATEGORY(lcApp, "tembra.app")
Q_LOGGING_CATEGORY(lcDevice, "tembra.device")
Q_LOGGING_CATEGORY(lcPages, "tembra.pages")
Q_LOGGING_CATEGORY(lcWire, "tembra.wire")

namespace Wire {
void Sent(int order, const QByteArray& bytes) {
    qCDebug(lcWire).noquote()
        << QStringLiteral("sent, id %1: %2").arg(order).arg(QString::fromLatin1(bytes.toHex(' ')));
}
void Received(int order, const QByteArray& bytes) {
    qCDebug(lcWire).noquote() << QStringLiteral("received, id %1: %2")
                                     .arg(order)
                                     .arg(QString::fromLatin1(bytes.toHex(' ')));
}
void PortOpened(const QString& name) {
    qCDebug(lcWire).noquote() << "port opened:" << name;
}
void PortClosed(const QString& name) {
    qCDebug(lcWire).noquote() << "port closed:" << name;
}
void PortLost(const QString& name, const QString& reason) {
    qCDebug(lcWire).noquote() << "port lost:" << name << "(" + reason + ")";
}
void PortFound(const QString& name) {
    qCDebug(lcWire).noquote() << "port found:" << name;
}
} // namespace Wire
