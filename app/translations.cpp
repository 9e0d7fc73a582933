#include "app/translations.h"

#include "app/logging.h"
#include "app/toolkit.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTranslator>
#include <memory>
#include <vector>

namespace Translations {
namespace {
const QString kToolFile = QStringLiteral("tembra");
const QStringList kToolkitFiles = {QStringLiteral("qtbase"), QStringLiteral("qtserialport")};
const QString kPrefix = QStringLiteral("_");

std::vector<std::unique_ptr<QTranslator>> installed;

// The source texts are English: an English (or C) locale needs no file.
bool isSourceLanguage(const QString& language) {
    return language == QLatin1String("C") || language.startsWith(QLatin1String("en"));
}

bool installFrom(const QLocale& locale, const QString& file, const QStringList& folders) {
    for (const QString& folder : folders) {
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(locale, file, kPrefix, folder))
            continue;
        QCoreApplication::installTranslator(translator.get());
        installed.push_back(std::move(translator));
        return true;
    }
    return false;
}

} // namespace

QStringList Folders() {
    const QString program = QCoreApplication::applicationDirPath();
    return {QDir(program).filePath(QStringLiteral("translations")),
            QDir(program).filePath(QStringLiteral("../translations")), // a test of a build
            QDir(program).filePath(QStringLiteral("../share/tembra-update-tool/translations"))};
}

QString Install(const QStringList& languages) {
    Remove();
    for (const QString& language : languages) {
        if (isSourceLanguage(language))
            return QString();
        const QLocale locale(language);
        if (!installFrom(locale, kToolFile, Folders()))
            continue;
        // The standard dialogs' buttons and the serial port's reasons, where
        // the system has them.
        for (const QString& file : kToolkitFiles)
            installFrom(locale, file, {Toolkit::TranslationsFolder()});
        qCDebug(lcApp).noquote() << "translations loaded for" << language;
        return language;
    }
    return QString();
}

void Remove() {
    for (const auto& translator : installed)
        QCoreApplication::removeTranslator(translator.get());
    installed.clear();
}

} // namespace Translations
