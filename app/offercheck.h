#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// What the update service offers the device shown, asked in the background
// once the device is identified in the window: one version check, nothing
// downloaded. The device page shows it before anything is installed, and
// "1.Update Firmware" installs what it showed.
class OfferCheck : public QObject {
    Q_OBJECT
public:
    enum class Kind { None, Asking, Available, UpToDate, Unreachable };

    struct Offer {
        Kind kind = Kind::None;
        // The device it was asked for (its device number), the version
        // offered, what the release brings (plain text), and the answer as
        // parsed, for the update to take up.
        QString deviceNumber;
        QString version;
        QString notes;
        QHash<QString, QString> answer;
    };

    explicit OfferCheck(QObject* parent = nullptr);

    // Asks for the device with this device number and version; an earlier
    // question still open is dropped.
    void ask(const QString& deviceNumber, const QString& version);
    // The device has gone: nothing is known of what is offered to it.
    void forget();

    // What is known now (of the device last asked for).
    static const Offer& Current();
    // The answer to install for the device with this device number, when an
    // update was offered to it; empty otherwise.
    static QHash<QString, QString> OfferedTo(const QString& deviceNumber);

signals:
    void Changed();

private:
    void onAnswer(QNetworkReply* reply);

    QNetworkAccessManager* manager;
    QNetworkReply* asking = nullptr;
    QString askedVersion;
};
