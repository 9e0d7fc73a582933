#include "web/webdal.h"

#include "app/state/state.h"
#include "web/weblog.h"

#include <atomic>

Q_LOGGING_CATEGORY(lcWeb, "tembra.web")

namespace {
const QString kAccessToken = QStringLiteral("5f0c3a9e71d24b68a0e9c7b13d5f2e84");
const QString kClientType = QStringLiteral("pc");
const QString kNoCache = QStringLiteral("no-cache");
const QString kContentTypeKey = QStringLiteral("ContentTypeHeader");
const QString kFormContentType = QStringLiteral("application/x-www-form-urlencoded;charset=UTF-8");
// The version check always names the product, whatever model the device reports.
const QString kDeviceType = QStringLiteral("Tembra");
const unsigned kCheckVersionId = 3;

// A service that accepts a request and then sends nothing, or a download
// that stops, fails after this long instead of leaving the user waiting.
const int kTransferTimeoutMs = 30000;
std::atomic<int> transferTimeoutMs{kTransferTimeoutMs};

QString& baseUrl() {
    static QString url = QStringLiteral(TEMBRA_BASE_URL);
    return url;
}
} // namespace

QString WebDAL::GetBaseUrl() {
    return baseUrl();
}

void WebDAL::SetBaseUrl(const QString& url) {
    baseUrl() = url.endsWith(QLatin1Char('/')) ? url : url + QLatin1Char('/');
}

int WebDAL::TransferTimeoutMs() {
    return transferTimeoutMs;
}

void WebDAL::SetTransferTimeoutMs(int ms) {
    transferTimeoutMs = ms > 0 ? ms : kTransferTimeoutMs;
}

WebRequest WebDAL::BuildRequest(unsigned id, const QString& params) {
    QHash<QString, QString> rawHeaders;
    rawHeaders.insert(QStringLiteral("access_token"), kAccessToken);
    rawHeaders.insert(QStringLiteral("clientType"), kClientType);
    rawHeaders.insert(QStringLiteral("version"), Globals::Version);
    rawHeaders.insert(QStringLiteral("Cache-Control"), kNoCache);
    QHash<QString, QString> knownHeaders;
    knownHeaders.insert(kContentTypeKey, kFormContentType);
    return WebRequest(GetBaseUrl() + GetUrlPath(id), params, rawHeaders, knownHeaders);
}

WebRequest WebDAL::CheckVersionRequest(const QString& deviceType, const QString& version) {
    Q_UNUSED(deviceType);
    const QString params =
        "deviceType=" + kDeviceType + "&deviceName=" + kDeviceType + "&version=" + version;
    return BuildRequest(kCheckVersionId, params);
}

QString WebDAL::GetUrlPath(unsigned id) {
    switch (id) {
    case 0:
        return QString();
    case 1:
        return WatchMoreSettingPath();
    case 2:
        return BandSettingPath();
    case 3:
        return CheckVersionPath();
    case 4:
        return DataSynRemindPath();
    case 5:
        return DataSynRemindStatusPath();
    case 6:
        return SportDataUploadPath();
    case 7:
        return GetRemindInfoPath();
    case 8:
        return EditTargetPeriodPath();
    case 9:
        return GetTargetPath();
    case 10:
        return LoginPath();
    case 11:
        return LogoutPath();
    case 12:
        return RebandNewAccountPath();
    case 13:
        return RegPath();
    case 14:
        return RegTelPath();
    case 15:
        return DeviceUnbindPath();
    case 16:
        return GetBaseUrl();
    case 17:
        return UserSettingPath();
    case 18:
        return TimePath();
    case 19:
        return DeviceBindPath();
    case 20:
        return SetUserInfoPath();
    case 21:
        return GetBindDevicesPath();
    case 22:
        return SleepRecordUploadPath();
    case 23:
        return LoginAgainPath();
    case 24:
        return SetUserInfoForQorinPath();
    case 25:
        return AddRemindInfoPath();
    case 26:
        return ModifyRemindStatusPath();
    case 27:
        return DeleteRemindInfoPath();
    case 28:
        return RegForFrancePath();
    case 29:
        return ForgotPasswdPath();
    case 30:
        return ModifyPasswordPath();
    case 31:
        return SetSportTargetPath();
    case 32:
        return GetAdvancedSettingsPath();
    case 33:
        return GetSportTargetPath();
    case 34:
        return GetDevicesPath();
    case 35:
        return QString();
    case 36:
        return SetSleepRemindPath();
    case 37:
        return GetSleepRemindPath();
    case 38:
        return SetStayRemindPath();
    case 39:
        return GetStayRemindPath();
    case 40:
        return SetDeviceVersionPath();
    default:
        return QString();
    }
}

QString WebDAL::WatchMoreSettingPath() {
    return QStringLiteral("sport/api/watch_more_setting");
}
QString WebDAL::BandSettingPath() {
    return QStringLiteral("sport/api/band_setting");
}
QString WebDAL::CheckVersionPath() {
    return QStringLiteral("common/api/check_version");
}
QString WebDAL::DataSynRemindPath() {
    return QStringLiteral("sport/api/data_syn_pc_server_remind");
}
QString WebDAL::DataSynRemindStatusPath() {
    return QStringLiteral("sport/api/data_syn_pc_server_remind_status");
}
QString WebDAL::SportDataUploadPath() {
    return QStringLiteral("comm/api/sportdataupload");
}
QString WebDAL::GetRemindInfoPath() {
    return QStringLiteral("sport/api/get_remind_info");
}
QString WebDAL::EditTargetPeriodPath() {
    return QStringLiteral("sport/api/edit_target_period");
}
QString WebDAL::GetTargetPath() {
    return QStringLiteral("comm/api/get_target");
}
QString WebDAL::LoginPath() {
    return QStringLiteral("sport/api/login");
}
QString WebDAL::LogoutPath() {
    return QStringLiteral("comm/api/logout");
}
QString WebDAL::RebandNewAccountPath() {
    return QStringLiteral("sport/api/rebandNewAccount");
}
QString WebDAL::RegPath() {
    return QStringLiteral("sport/api/reg");
}
QString WebDAL::RegTelPath() {
    return QStringLiteral("sport/api/reg_tel");
}
QString WebDAL::DeviceUnbindPath() {
    return QStringLiteral("sport/api/device_unbind");
}
QString WebDAL::UserSettingPath() {
    return QStringLiteral("sport/api/user_setting");
}
QString WebDAL::TimePath() {
    return QStringLiteral("common/api/time");
}
QString WebDAL::DeviceBindPath() {
    return QStringLiteral("sport/api/device_bind");
}
QString WebDAL::SetUserInfoPath() {
    return QStringLiteral("sport/api/set_user_info");
}
QString WebDAL::GetBindDevicesPath() {
    return QStringLiteral("sport/api/get_binddevices");
}
QString WebDAL::SleepRecordUploadPath() {
    return QStringLiteral("velmorix/api/sleep/record/upload");
}
QString WebDAL::LoginAgainPath() {
    return QStringLiteral("sport/api/login");
}
QString WebDAL::SetUserInfoForQorinPath() {
    return QStringLiteral("sport/api/set_user_info_for_Qorin");
}
QString WebDAL::AddRemindInfoPath() {
    return QStringLiteral("sport/api/add_remind_info");
}
QString WebDAL::ModifyRemindStatusPath() {
    return QStringLiteral("sport/api/modify_remind_status");
}
QString WebDAL::DeleteRemindInfoPath() {
    return QStringLiteral("sport/api/delete_remind_info");
}
QString WebDAL::RegForFrancePath() {
    return QStringLiteral("sport/api/reg_for_france");
}
QString WebDAL::ForgotPasswdPath() {
    return QStringLiteral("sport/api/forgot_passwd");
}
QString WebDAL::ModifyPasswordPath() {
    return QStringLiteral("sport/api/modify_password");
}
QString WebDAL::SetSportTargetPath() {
    return QStringLiteral("velmorix/api/sport-info/target/set/{personId}");
}
QString WebDAL::GetAdvancedSettingsPath() {
    return QStringLiteral("api/sport/get_advanced_settings");
}
QString WebDAL::GetSportTargetPath() {
    return QStringLiteral("velmorix/api/sport-info/target/{personId}");
}
QString WebDAL::GetDevicesPath() {
    return QStringLiteral("sport/api/get_devices");
}
QString WebDAL::SetSleepRemindPath() {
    return QStringLiteral("sport/api/set_sleep_remind");
}
QString WebDAL::GetSleepRemindPath() {
    return QStringLiteral("sport/api/get_sleep_remind");
}
QString WebDAL::SetStayRemindPath() {
    return QStringLiteral("sport/api/set_stay_remind_pc");
}
QString WebDAL::GetStayRemindPath() {
    return QStringLiteral("sport/api/get_stay_remind_pc");
}
QString WebDAL::SetDeviceVersionPath() {
    return QStringLiteral("sport/api/set_device_version");
}
