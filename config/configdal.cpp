#include "config/configdal.h"

#include "app/state/state.h"
#include "util/utility.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTextStream>

Q_LOGGING_CATEGORY(lcConfig, "tembra.config")

namespace {
const QString kCfgDirSuffix = QStringLiteral("//cfg//");
const QString kRootElement = QStringLiteral("configuration");
const QString kDeclarationTarget = QStringLiteral("xml");
const QString kDeclarationData = QStringLiteral("version=\"1.0\" encoding=\"uft-8\"");
const QString kPasswordKey = QStringLiteral("password");
// Values at least this long are taken to be digests already and kept as they are.
const int kPasswordHashBelow = 30;
const int kIndent = 4;

QString fileIn(const char* name) {
    return ConfigDAL::ConfigDir() + QString::fromLatin1(name);
}
} // namespace

QString ConfigDAL::ConfigDir() {
    return Globals::AppPath + kCfgDirSuffix;
}

QString ConfigDAL::ReadValue(const QString& path, const QString& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QDomDocument doc;
    if (!doc.setContent(&file))
        return QString();
    return doc.documentElement().firstChildElement(key).text();
}

bool ConfigDAL::WriteConfig(const QHash<QString, QString>& values, const QString& path) {
    const QString dir = ConfigDir();
    qCDebug(lcConfig).noquote() << dir;
    if (!QDir(dir).exists()) {
        qCDebug(lcConfig).noquote() << dir;
        QDir().mkdir(dir);
    }

    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(kDeclarationTarget, kDeclarationData));
    QDomElement root = doc.createElement(kRootElement);
    doc.appendChild(root);

    const QList<QString> keys = values.keys();
    const QList<QString> vals = values.values();
    for (int i = 0; i < keys.size(); ++i) {
        QDomElement element = doc.createElement(keys.at(i));
        QString value = vals.at(i);
        if (element.tagName() == kPasswordKey && value.size() < kPasswordHashBelow)
            value = Utility::Md5Hex(value);
        element.appendChild(doc.createTextNode(value));
        root.appendChild(element);
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcConfig).noquote() << "cannot write" << path << ":" << file.errorString();
        return false;
    }
    QTextStream stream(&file);
    doc.save(stream, kIndent, QDomNode::EncodingFromDocument);
    stream.flush();
    if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError) {
        qCWarning(lcConfig).noquote()
            << "write failed, previous file kept:" << path << ":" << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcConfig).noquote()
            << "commit failed, previous file kept:" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

QString ConfigDAL::GetFirmwareMCU(const QString& key) {
    return ReadValue(fileIn("FirmwareMCU.xml"), key);
}
QString ConfigDAL::GetLanguage(const QString& key) {
    return ReadValue(fileIn("Language.xml"), key);
}
QString ConfigDAL::GetLogin(const QString& key) {
    return ReadValue(fileIn("Login.xml"), key);
}
QString ConfigDAL::GetUpdateBrand(const QString& key) {
    return ReadValue(fileIn("UpdateBrand.xml"), key);
}
QString ConfigDAL::GetUpdatePC(const QString& key) {
    return ReadValue(fileIn("UpdatePC.xml"), key);
}
QString ConfigDAL::GetUserSetting(const QString& key) {
    return ReadValue(fileIn("UserSetting.xml"), key);
}
QString ConfigDAL::GetAutoLogin(const QString& key) {
    return ReadValue(fileIn("AutoLogin.xml"), key);
}
QString ConfigDAL::GetDateDisplayMode(const QString& key) {
    return ReadValue(fileIn("DateDisplayMode.xml"), key);
}
QString ConfigDAL::GetUpdateFirmwareVersion(const QString& key) {
    return ReadValue(fileIn("UpdateFirmwareVersion.xml"), key);
}
QString ConfigDAL::GetSetTimeAfterUpdate(const QString& key) {
    return ReadValue(fileIn("SetTimeAfterUpdate.xml"), key);
}
