#pragma once
// --lang, read before anything else of the command line: every message,
// those about the command line included, comes in the language chosen.

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

namespace vorn::cli {

// The value of the option named "lang" among options ("en" or "zh", any case,
// blanks around it allowed), read from arguments as
// QCoreApplication::arguments() gives them (program name first) up to the
// first word that is no option. Empty when there is none, it is neither, or
// those options do not read (an unknown option, a value missing): the choice
// is then the system's.
QString languageChoice(const QStringList &arguments, const QList<QCommandLineOption> &options);

// "en" or "zh", whatever their case; empty for anything else.
QString languageValue(const QString &text);

}  // namespace vorn::cli
