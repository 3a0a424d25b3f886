#include "uilanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

bool LanguageNamed(const QString &name, UiLanguage *language)
{
    const QString lower = name.trimmed().toLower();
    if (lower == QLatin1String("en"))
        *language = UiLanguage::English;
    else if (lower == QLatin1String("ru"))
        *language = UiLanguage::Russian;
    else
        return false;
    return true;
}

// Whether messages are meant untranslated: the C or POSIX locale. On these
// systems LC_ALL, LC_MESSAGES and LANG choose it, in that order, and the
// toolkit's own view is no help: with LANG=C.UTF-8 it lets LANGUAGE decide
// while with LANG=C it does not. Elsewhere the system's settings have no C
// locale to offer.
bool MessagesUntranslated(const QLocale &system)
{
    if (system.language() == QLocale::C)
        return true;
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(name);
        if (value.isEmpty())
            continue;
        return value == QLatin1String("C") || value == QLatin1String("POSIX")
               || value.startsWith(QLatin1String("C."));
    }
    return true;
#else
    return false;
#endif
}

}  // namespace

UiLanguageChoice ChooseUiLanguage(const QStringList &arguments, const QString &variable,
                                  const QLocale &system)
{
    UiLanguageChoice choice;
    // The last --lang counts, as with most options given twice.
    bool given = false;
    QString named;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--lang")) {
            given = true;
            named = i + 1 < arguments.size() ? arguments.at(++i) : QString();
        } else if (argument.startsWith(QLatin1String("--lang="))) {
            given = true;
            named = argument.mid(7);
        }
    }
    if (given) {
        if (!LanguageNamed(named, &choice.language))
            choice.error = QStringLiteral("--lang takes en or ru, not \"%1\"").arg(named);
        return choice;
    }
    if (!variable.isEmpty()) {
        if (LanguageNamed(variable, &choice.language))
            return choice;
        choice.warning = QStringLiteral("VELKARO_LANG=%1 ignored: it takes en or ru").arg(variable);
    }
    // Like gettext, LANGUAGE counts only outside the C locale.
    if (MessagesUntranslated(system))
        return choice;
    for (const QString &name : system.uiLanguages()) {
        const QLocale::Language language = QLocale(name).language();
        if (language == QLocale::English) {
            choice.language = UiLanguage::English;
            break;
        }
        if (language == QLocale::Russian)
            break;
    }
    return choice;
}

bool InstallUiLanguage(QCoreApplication *app, UiLanguage language, QString *missing)
{
    if (language == UiLanguage::Russian) {
        auto *toolkit = new QTranslator(app);
        const QString name = QStringLiteral("qtbase_ru");
        for (const QString &folder : {QLibraryInfo::location(QLibraryInfo::TranslationsPath),
                                      QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
            if (toolkit->load(name, folder))
                return app->installTranslator(toolkit);
        }
        delete toolkit;
        if (missing)
            *missing = QStringLiteral("the toolkit's Russian texts (%1.qm) are not installed; "
                                      "its dialogs and buttons stay English").arg(name);
        return false;
    }
    // The compiled translation lives in a static library's resource, which
    // the linker keeps only when something refers to it.
    Q_INIT_RESOURCE(velkarotranslations);
    auto *translator = new QTranslator(app);
    if (!translator->load(QStringLiteral(":/translations/velkaro_en.qm"))) {
        delete translator;
        if (missing)
            *missing = QStringLiteral("the English texts cannot be loaded; the window stays Russian");
        return false;
    }
    return app->installTranslator(translator);
}
