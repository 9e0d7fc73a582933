#pragma once

// The few calls whose form differs between Qt 5.15 and Qt 6, kept in one place
// so that nothing else in the tool forks on the toolkit's version.
#include <QMouseEvent>
#include <QPoint>
#include <QtGlobal>

namespace Toolkit {

// The cursor's position on the screen for a mouse event. Qt 6 gives it as a
// floating-point position and no longer has globalPos().
inline QPoint GlobalPos(const QMouseEvent* event) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->globalPosition().toPoint();
#else
    return event->globalPos();
#endif
}

} // namespace Toolkit
