#include "pages/accessiblepages.h"

#include "pages/baseui.h"
#include "pages/statusline.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <algorithm>

namespace {
// Set on a page's caption label: read with its value, not on its own.
const char* const kCaption = "tembraCaption";
// Set on a status line while its text is a failure.
const char* const kAlerting = "tembraAlerting";

// A page: its widgets in the order of the screen.
class PageInterface : public QAccessibleWidget {
public:
    explicit PageInterface(QWidget* page) : QAccessibleWidget(page, QAccessible::Client) {}

    int childCount() const override { return int(readable().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> widgets = readable();
        if (index < 0 || index >= widgets.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(widgets.at(index));
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child)
            return -1;
        return int(readable().indexOf(qobject_cast<QWidget*>(child->object())));
    }

private:
    QList<QWidget*> readable() const {
        QList<QWidget*> widgets;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child && !child->isWindow() && !child->property(kCaption).toBool())
                widgets << child;
        }
        std::stable_sort(widgets.begin(), widgets.end(), [](QWidget* a, QWidget* b) {
            const QRect ra = a->geometry();
            const QRect rb = b->geometry();
            return ra.top() != rb.top() ? ra.top() < rb.top() : ra.left() < rb.left();
        });
        return widgets;
    }
};

// A status line: an alert while it says what failed, plain text otherwise.
class StatusLineInterface : public QAccessibleWidget {
public:
    explicit StatusLineInterface(StatusLine* line)
        : QAccessibleWidget(line, QAccessible::StaticText) {}

    QAccessible::Role role() const override {
        return widget()->property(kAlerting).toBool() ? QAccessible::AlertMessage
                                                      : QAccessible::StaticText;
    }

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? static_cast<StatusLine*>(widget())->text() : name;
    }
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (auto* page = qobject_cast<BaseUI*>(object))
        return new PageInterface(page);
    if (auto* line = qobject_cast<StatusLine*>(object))
        return new StatusLineInterface(line);
    return nullptr;
}
} // namespace

namespace AccessiblePages {
void Install() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(factory);
}
} // namespace AccessiblePages
