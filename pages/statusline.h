#pragma once

#include <QLabel>

// A page's status line: the label that says what the page is doing, which a
// screen reader reads as an alert while it says what failed (its own class,
// so that the pages' accessible interface is the one the tool gives it).
class StatusLine : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
};
