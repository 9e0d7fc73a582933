#pragma once

#include "pages/baseui.h"

class QFile;
class QTimer;

namespace Ui {
class XModemUpdate;
}

// Runs the web side of an update: asks the service whether firmware is
// available, downloads it with progress into Latest.bin, checks its checksum
// and starts the update on the device.
class XModemUpdate : public BaseUI {
    Q_OBJECT
public:
    explicit XModemUpdate(QWidget* parent = nullptr);
    ~XModemUpdate() override;

    QString downloadPath() const { return filePath; }

public slots:
    void replyFinished(QNetworkReply* reply);
    void replyFinished2(QNetworkReply* reply);
    void SendRequest();
    void httpFinished();
    void httpReadyRead();
    void updateProgress(qint64 bytesRead, qint64 totalBytes);

private:
    // Ends a download with "update file error" and nothing sent to the device.
    void rejectUpdate();

    Ui::XModemUpdate* ui;
    QFile* file = nullptr;
    QString filePath;
    QNetworkAccessManager* downloadManager = nullptr;
};
