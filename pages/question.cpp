#include "pages/question.h"

#include <QWindow>

namespace Question {

QMessageBox* Ask(QWidget* over, const QString& title, const QString& text) {
    auto* box =
        new QMessageBox(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    // A question may name a file or a device: it is text, never markup.
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    QWidget* window = over ? over->window() : nullptr;
    if (!window)
        return box;
    // Kept over the tool's window by the window system, and centred on it.
    box->winId();
    if (box->windowHandle() && window->windowHandle())
        box->windowHandle()->setTransientParent(window->windowHandle());
    box->adjustSize();
    box->move(window->frameGeometry().center() - box->rect().center());
    // Gone with the window: no question stays behind a closed tool.
    QObject::connect(window, &QObject::destroyed, box, &QObject::deleteLater);
    return box;
}

} // namespace Question
