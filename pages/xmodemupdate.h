#pragma once

#include "app/chosenfirmware.h"
#include "pages/baseui.h"

#include <QHash>

class ProgressPanel;
class QSaveFile;
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
    // The download's progress as last reported: bytes received and expected
    // (-1 while unknown).
    qint64 receivedBytes() const { return progressBytes; }
    qint64 expectedBytes() const { return progressTotal; }

    // When set, the page asks the service and reports its answer, and
    // downloads nothing (the command line's --check).
    static void SetCheckOnly(bool checkOnly);
    // What is done when the device already has the version the service
    // offers: ask the user (the window), take it as up to date (the command
    // line), or update all the same (--force). A device in its boot loader
    // is always updated.
    enum class SameVersion { Ask, Skip, Force };
    static void SetSameVersionPolicy(SameVersion policy);

    // The SHA-256 (hex) a firmware image must have to be kept; "" takes any
    // image whose checksum matches (the command line's --expect-sha256).
    static void SetExpectedSha256(const QString& hex);

    // A file the user chose, installed instead of the service's firmware:
    // no version check and no download. An empty one: the service's again.
    static void SetChosenFirmware(const ChosenFirmware& firmware);
    static const ChosenFirmware& Chosen();
    // How much of the release notes is kept.
    static constexpr int NotesChars = 4096;

    // The service's answer as it is stored: the values read back stay as
    // given (and are refused by the store when they cannot be kept), the
    // others lose the characters a settings file cannot hold.
    static QHash<QString, QString> StorableAnswer(QHash<QString, QString> answer);

public slots:
    void replyFinished(QNetworkReply* reply);
    void replyFinished2(QNetworkReply* reply);
    void SendRequest();
    void httpFinished();
    void httpReadyRead();
    void updateProgress(qint64 bytesRead, qint64 totalBytes);

private:
    // The service's answer, as parsed: checked, stored, and acted on.
    void takeAnswer(const QHash<QString, QString>& answered);
    // Fetches the firmware named by the stored answer into Latest.bin.
    void startDownload();
    // Installs the file the user chose: kept as Chosen.bin, then sent.
    void installChosen();
    // Asks before the device's own version is sent to it again.
    void askSameVersion();
    // Says why the version check failed (what: a word for it), then shows the
    // device information page again; nothing is sent to the device.
    void showFailure(const QString& what, const UserText& text);
    // Ends a download with "update file error" and nothing sent to the device.
    void rejectUpdate(const QString& why);
    // Whether the download that just finished arrived whole, matches the
    // checksum expected and was put in place of the earlier file; says why not.
    bool keepDownload(const QString& expected, QString* why);

    Ui::XModemUpdate* ui;
    ProgressPanel* panel = nullptr;
    // The download goes to a temporary file beside the firmware file and
    // replaces it only once it arrived whole.
    QSaveFile* file = nullptr;
    QString filePath;
    QNetworkAccessManager* downloadManager = nullptr;
    qint64 bytesWritten = 0;
    qint64 progressBytes = 0;
    qint64 progressTotal = -1;
    // What arrived, kept to be checked before it replaces the earlier file.
    QByteArray downloaded;
    // Its checksum and SHA-256, computed once when it was checked.
    int downloadedSum = 0;
    QString downloadedSha256;
    QString writeError;
};
