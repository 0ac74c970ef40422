#include "session/language.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

namespace vorn {

namespace {

// Built from translations/vornrt8_en.ts and embedded by CMake.
const char kEnglishTranslation[] = ":/i18n/vornrt8_en.qm";

bool isEnglish(const QString &name)
{
    // "en", "en-US", "en_GB" are English; "eo" is not.
    const QString n = name.trimmed().toLower();
    return n == QLatin1String("en") || n.startsWith(QLatin1String("en-")) || n.startsWith(QLatin1String("en_"));
}

}  // namespace

Language chooseLanguage(const QString &choice, const QStringList &uiLanguages)
{
    const QString c = choice.trimmed().toLower();
    if (c == QLatin1String("en"))
        return Language::English;
    if (!c.isEmpty())
        return Language::Chinese;
    return !uiLanguages.isEmpty() && isEnglish(uiLanguages.first()) ? Language::English : Language::Chinese;
}

Language installTranslations(const QString &choice)
{
    return installTranslations(choice, QLocale::system().uiLanguages());
}

Language installTranslations(const QString &choice, const QStringList &uiLanguages)
{
    // At most one translator, owned by the application; a new choice
    // replaces it.
    static QPointer<QTranslator> english;
    if (english) {
        QCoreApplication::removeTranslator(english);
        delete english;
    }
    if (chooseLanguage(choice, uiLanguages) == Language::Chinese || !QCoreApplication::instance())
        return Language::Chinese;
    auto *t = new QTranslator(QCoreApplication::instance());
    if (!t->load(QString::fromLatin1(kEnglishTranslation)) || !QCoreApplication::installTranslator(t)) {
        delete t;
        return Language::Chinese;
    }
    english = t;
    return Language::English;
}

QString languageCode(Language language)
{
    return language == Language::English ? QStringLiteral("en") : QStringLiteral("zh");
}

}  // namespace vorn
