#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;
class QLocale;

// The language of the window's texts. The sources are Russian; English comes
// from the translation embedded in the program.
enum class UiLanguage { Russian, English };

struct UiLanguageChoice {
    UiLanguage language = UiLanguage::Russian;
    // Set when the command line names no language of the window: the
    // program stops with it rather than guess.
    QString error;
    // Set when VELKARO_LANG names none: it is ignored with this note.
    QString warning;
};

// "--lang en|ru" (or "--lang=en") among the arguments wins over the value of
// VELKARO_LANG, which wins over the system's preferred UI languages: the first
// of them that is English or Russian decides. Under the C/POSIX locale, and
// when neither is preferred, the window stays Russian.
UiLanguageChoice ChooseUiLanguage(const QStringList &arguments, const QString &variable,
                                  const QLocale &system);

// Installs on app the window's own texts in language (the Russian sources need
// none) and the toolkit's own texts of its dialogs and buttons (Russian from
// the toolkit's translations, found where the toolkit keeps them or in a
// "translations" folder beside the program; English needs none). False when
// either cannot be loaded, with what is missing in *missing.
bool InstallUiLanguage(QCoreApplication *app, UiLanguage language, QString *missing = nullptr);
