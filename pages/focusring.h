#pragma once

#include <QPointer>
#include <QWidget>

// A clearly visible ring around the button of a page that has the keyboard's
// focus: two pixels of black outside its edge and two of yellow inside it,
// seen on the page's light background and on the button's dark face alike.
// The buttons keep the style sheets their forms give them; the ring is drawn
// over them, and takes no mouse events.
class FocusRing : public QWidget {
    Q_OBJECT
public:
    explicit FocusRing(QWidget* page);

    // The button the ring is around; null when none of the page has the focus.
    QWidget* target() const { return around.data(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow(QWidget* focused);

    QPointer<QWidget> around;
};
