#pragma once

#include "app/globals.h"

#include <QString>
#include <QWidget>

class QFont;
class QLabel;
class QMouseEvent;
class QMovie;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
struct WebRequest;

namespace Ui {
class BaseUI;
}

// Base of every page: forwards mouse presses and moves to the main window so
// the frameless window drags from anywhere, and prepares web requests.
class BaseUI : public QWidget {
    Q_OBJECT
public:
    explicit BaseUI(QWidget* parent = nullptr);
    ~BaseUI() override;

    // Fills request from req; refuses (false, request untouched) while no
    // device port is known.
    bool PrepareRequest(QNetworkRequest& request, WebRequest req);

    QString pageName;

    // The button that has the keyboard's focus when the page appears; none
    // when the page has no button.
    virtual QWidget* mainButton() const { return nullptr; }

    // Shows text in a one-line status label; a text wider than the label
    // wraps onto as many lines as it needs, the label growing evenly up and
    // down; a later short text is shown on the one line again.
    static void ShowWrapped(QLabel* label, const UserText& text,
                            Globals::StatusKind kind = Globals::StatusKind::Normal);
    // text as it fits width in font: as it is on one line, else broken at
    // the space that makes two lines of the closest lengths (never a last
    // line of one word); as it is when even two lines cannot hold it.
    static QString BalancedLines(const QString& text, const QFont& font, int width);

public slots:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

protected:
    QNetworkAccessManager* manager = nullptr;
    QNetworkReply* reply = nullptr;
    QMovie* movie = nullptr;

private:
    Ui::BaseUI* baseUi;
};
