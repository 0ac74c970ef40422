#pragma once
// The language the programs speak. Their texts are written in Chinese, which
// shows by default; an English translation, built into the programs, shows
// when it is asked for or when the system's first UI language is English.
// Both programs choose here, before they make anything that shows text.

#include <QString>
#include <QStringList>

namespace vorn {

enum class Language { Chinese, English };

// The language for a choice: "en" or "zh" (any case, blanks around it
// allowed); empty follows uiLanguages (English when the first of them is
// English: "en", "en-US", "en_GB" ...). Any other choice, and any other first
// UI language, gives Chinese.
Language chooseLanguage(const QString &choice, const QStringList &uiLanguages);

// Chooses (uiLanguages: QLocale::system().uiLanguages()) and installs the
// English translation in the application, or removes it for Chinese; call it
// again to change. Returns the language in effect: Chinese when the
// translation could not be loaded.
Language installTranslations(const QString &choice);
Language installTranslations(const QString &choice, const QStringList &uiLanguages);

// "en" or "zh".
QString languageCode(Language language);

}  // namespace vorn
