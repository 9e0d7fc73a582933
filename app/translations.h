#pragma once

#include <QString>
#include <QStringList>

// The tool's translations and the toolkit's own (for the standard dialogs),
// chosen by the user's languages. English is the language of the sources:
// nothing is loaded for it. Log lines are never translated.
namespace Translations {

// Installs into the application object that exists now the translations of
// the first of languages (as QLocale::uiLanguages() gives them, "de-DE")
// that the tool has, unless English comes first. Returns the language
// loaded, "" for none.
QString Install(const QStringList& languages);

// Removes what Install installed.
void Remove();

// Where the tool's .qm files are looked for: beside the program (a build),
// one folder up (a test program of a build), then below the installation's
// share folder.
QStringList Folders();

} // namespace Translations
