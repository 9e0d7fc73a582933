#pragma once

#include <QMessageBox>
#include <QString>

// A question over the tool's window, answered by mouse or keyboard, whose
// answer, unless another is chosen, is the safe one (no). It is a window of
// its own: as a child of the main window it would take on the window's style
// sheet (no background, no borders) and show neither its face nor its
// buttons. It stays over the main window and blocks it while it is open.
namespace Question {

// A question with the standard Yes and No buttons, No the default; deleted
// once answered. Open it with open() and follow finished().
QMessageBox* Ask(QWidget* over, const QString& title, const QString& text);

} // namespace Question
