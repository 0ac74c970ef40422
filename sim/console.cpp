#include "console.h"

#include "device.h"

#include <QStringList>

namespace rt8sim {

namespace {

bool toInt(const QString &text, int lo, int hi, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

ConsoleCommand invalid(const QString &why)
{
    ConsoleCommand c;
    c.kind = ConsoleCommand::Invalid;
    c.error = why;
    return c;
}

}  // namespace

ConsoleCommand parseConsoleLine(const QString &line)
{
    QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ConsoleCommand c;
    if (words.isEmpty())
        return c;
    if (words[0].startsWith(QLatin1Char('@'))) {
        int number = -1;
        if (!toInt(words[0].mid(1), 0, 255, &number))
            return invalid(QStringLiteral("no device number %1 (@0-@255)").arg(words[0]));
        words.removeFirst();
        const QString verb = words.value(0).toLower();
        if (verb != QLatin1String("hold") && verb != QLatin1String("release"))
            return invalid(QStringLiteral("usage: @<number> hold|release ..."));
        c.device = number;
    }
    const QString verb = words[0].toLower();
    if (verb == QLatin1String("quit") || verb == QLatin1String("exit")) {
        if (words.size() != 1)
            return invalid(QStringLiteral("usage: quit"));
        c.kind = ConsoleCommand::Quit;
        return c;
    }
    if (verb == QLatin1String("unplug") || verb == QLatin1String("replug")) {
        if (words.size() != 1)
            return invalid(QStringLiteral("usage: %1").arg(verb));
        c.kind = verb == QLatin1String("unplug") ? ConsoleCommand::Unplug : ConsoleCommand::Replug;
        return c;
    }
    if (verb == QLatin1String("hold")) {
        if (words.size() != 3)
            return invalid(QStringLiteral("usage: hold <channel 0-9> <raw 0-65535>"));
        if (!toInt(words[1], 0, kChannels - 1, &c.channel))
            return invalid(QStringLiteral("no channel %1 (0-9)").arg(words[1]));
        if (!toInt(words[2], 0, kRawMax, &c.value))
            return invalid(QStringLiteral("raw value %1 outside 0-65535").arg(words[2]));
        c.kind = ConsoleCommand::Hold;
        return c;
    }
    if (verb == QLatin1String("release")) {
        if (words.size() != 2)
            return invalid(QStringLiteral("usage: release <channel 0-9 | all>"));
        if (words[1].toLower() == QLatin1String("all")) {
            c.kind = ConsoleCommand::ReleaseAll;
            return c;
        }
        if (!toInt(words[1], 0, kChannels - 1, &c.channel))
            return invalid(QStringLiteral("no channel %1 (0-9)").arg(words[1]));
        c.kind = ConsoleCommand::Release;
        return c;
    }
    return invalid(QStringLiteral("unknown command \"%1\" (hold, release, unplug, replug, quit)").arg(words[0]));
}

}  // namespace rt8sim
