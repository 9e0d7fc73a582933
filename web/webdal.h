#pragma once

#include "web/webrequest.h"

#include <QObject>

// Builds the requests to the update service: endpoint table, standard headers,
// and the version check.
class WebDAL : public QObject {
public:
    static WebRequest BuildRequest(unsigned id, const QString& params);
    static WebRequest CheckVersionRequest(const QString& deviceType, const QString& version);

    // Base URL of the service, always ending with "/".
    static QString GetBaseUrl();
    // Replaces the base URL at run time (demo and tests); a missing final "/" is added.
    static void SetBaseUrl(const QString& url);

    // How long a request to the service (version check or download) may
    // receive nothing before it fails: 30 s. Tests shorten it.
    static int TransferTimeoutMs();
    static void SetTransferTimeoutMs(int ms);

    // Relative path of a request id; "" for ids without one.
    static QString GetUrlPath(unsigned id);

    // One accessor per id that has a path.
    static QString WatchMoreSettingPath();    // 1
    static QString BandSettingPath();         // 2
    static QString CheckVersionPath();        // 3
    static QString DataSynRemindPath();       // 4
    static QString DataSynRemindStatusPath(); // 5
    static QString SportDataUploadPath();     // 6
    static QString GetRemindInfoPath();       // 7
    static QString EditTargetPeriodPath();    // 8
    static QString GetTargetPath();           // 9
    static QString LoginPath();               // 10
    static QString LogoutPath();              // 11
    static QString RebandNewAccountPath();    // 12
    static QString RegPath();                 // 13
    static QString RegTelPath();              // 14
    static QString DeviceUnbindPath();        // 15
    static QString UserSettingPath();         // 17
    static QString TimePath();                // 18
    static QString DeviceBindPath();          // 19
    static QString SetUserInfoPath();         // 20
    static QString GetBindDevicesPath();      // 21
    static QString SleepRecordUploadPath();   // 22
    static QString LoginAgainPath();          // 23
    static QString SetUserInfoForQorinPath(); // 24
    static QString AddRemindInfoPath();       // 25
    static QString ModifyRemindStatusPath();  // 26
    static QString DeleteRemindInfoPath();    // 27
    static QString RegForFrancePath();        // 28
    static QString ForgotPasswdPath();        // 29
    static QString ModifyPasswordPath();      // 30
    static QString SetSportTargetPath();      // 31
    static QString GetAdvancedSettingsPath(); // 32
    static QString GetSportTargetPath();      // 33
    static QString GetDevicesPath();          // 34
    static QString SetSleepRemindPath();      // 36
    static QString GetSleepRemindPath();      // 37
    static QString SetStayRemindPath();       // 38
    static QString GetStayRemindPath();       // 39
    static QString SetDeviceVersionPath();    // 40
};
