#pragma once

#include <QHash>
#include <QString>

// The XML settings files in the cfg directory beside the program: one flat
// list of keys per file, read key by key and always rewritten whole.
class ConfigDAL {
public:
    // Text of the first element named key under the root; "" when the file is
    // missing, unreadable or malformed, or has no such element.
    static QString ReadValue(const QString& path, const QString& key);

    // Replaces the file at path by one that holds exactly the given entries.
    // The replacement is atomic: when it fails the previous file stays whole.
    // An entry that cannot be stored as given (a key that is no XML name, a
    // value with a character XML cannot hold) is left out and logged. Returns
    // whether the new file is in place with every entry.
    static bool WriteConfig(const QHash<QString, QString>& values, const QString& path);

    // The value without the characters a settings file cannot hold.
    static QString StorableText(const QString& value);

    // The cfg directory: the application directory followed by "//cfg//".
    static QString ConfigDir();

    static QString GetFirmwareMCU(const QString& key);
    static QString GetLanguage(const QString& key);
    static QString GetLogin(const QString& key);
    static QString GetUpdateBrand(const QString& key);
    static QString GetUpdatePC(const QString& key);
    static QString GetUserSetting(const QString& key);
    static QString GetAutoLogin(const QString& key);
    static QString GetDateDisplayMode(const QString& key);
    static QString GetUpdateFirmwareVersion(const QString& key);
    static QString GetSetTimeAfterUpdate(const QString& key);
};
