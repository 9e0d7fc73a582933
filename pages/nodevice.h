#pragma once

#include "pages/baseui.h"

class QLabel;

namespace Ui {
class NoDevice;
}

// The page shown while there is no usable device, and during a transfer,
// where its single centred line carries the progress texts.
class NoDevice : public BaseUI {
    Q_OBJECT
public:
    explicit NoDevice(QWidget* parent = nullptr);
    // A page that shows text of its own from the start (the no-device
    // message is neither shown nor said first).
    explicit NoDevice(const UserText& text, Globals::StatusKind kind = Globals::StatusKind::Normal,
                      QWidget* parent = nullptr);
    ~NoDevice() override;

    QLabel* statusLabel() const;
    // A no-device message (Globals::NoDeviceMessage) as the page shows it,
    // in the user's language.
    static UserText MessageText(const QString& message);
    // Shows a text of its own in place of the no-device message; a text too
    // wide for one line wraps onto two around the same centre.
    void SetMessage(const UserText& text, Globals::StatusKind kind = Globals::StatusKind::Normal);

private:
    Ui::NoDevice* ui;
};
