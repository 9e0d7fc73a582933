#pragma once

#include "pages/baseui.h"

class QLabel;

namespace Ui {
class InitPage;
}

// Shows what was read from the device (version, device number, firmware) and
// offers the two user actions: update the firmware and reset the device.
class InitPage : public BaseUI {
    Q_OBJECT
public:
    explicit InitPage(QWidget* parent = nullptr);
    ~InitPage() override;

    // Shows what the last action did to this device, in a line of its own.
    void ShowResult(const QString& text);
    // Shows what the last attempt failed at, in a line of its own at the
    // foot of the page, announced as an alert; "" hides it.
    void ShowFailure(const QString& text);
    // Shows what the update service offers the device (asked in the
    // background), or the file the user chose in its place.
    void ShowOffer();
    // Says which device the page shows when more than one is plugged in.
    void ShowNote();

    QWidget* mainButton() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void on_BtnUpdate_clicked();
    void on_BtnReset_clicked();

private:
    // A centred plain-text line of the page, at its place and in its style.
    QLabel* addLine(const QString& name, const QRect& geometry, const char* style);

    Ui::InitPage* ui;
    QLabel* result;
    QLabel* offer;
    QLabel* note;
    QLabel* failure;
};
