#pragma once

// The few calls whose form differs between Qt 5.15 and Qt 6, kept in one place
// so that nothing else in the tool forks on the toolkit's version.
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMouseEvent>
#include <QPoint>
#include <QString>
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

// Where the toolkit's own translations are installed.
inline QString TranslationsFolder() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

// Set before the application object exists. Qt 6 scales the window to the
// screen's density by itself; Qt 5 has to be asked, or it keeps the window at
// its 1x size with fonts drawn for the screen, and texts are cut off.
inline void PrepareApplication() {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
}

// Whether the window is scaled to the screen's density.
inline bool ScalesToScreen() {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return QCoreApplication::testAttribute(Qt::AA_EnableHighDpiScaling) &&
           QCoreApplication::testAttribute(Qt::AA_UseHighDpiPixmaps);
#else
    return true;
#endif
}

} // namespace Toolkit
