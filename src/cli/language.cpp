#include "cli/language.h"

#include <QCommandLineParser>

namespace vorn::cli {

QString languageValue(const QString &text)
{
    const QString v = text.trimmed().toLower();
    return v == QLatin1String("en") || v == QLatin1String("zh") ? v : QString();
}

QString languageChoice(const QStringList &arguments, const QList<QCommandLineOption> &options)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.addOptions(options) || !parser.parse(arguments))
        return {};
    for (const QCommandLineOption &o : options)
        if (o.names().contains(QLatin1String("lang")))
            return languageValue(parser.value(o));
    return {};
}

}  // namespace vorn::cli
