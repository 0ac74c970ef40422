#include "ctl/options.h"

#include "protocol/requests.h"
#include "link/portmap.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cmath>

namespace vorn::ctl {

namespace {

const char kCommands[] =
    "Commands:\n"
    "  ports                        ports 1-16: number, device, whether it opens now\n"
    "  find                         connection test: number and display digits\n"
    "  scan [--from A] [--to B]     connection test to each number A..B (0..254)\n"
    "  renumber NEW [--digits D]    give the device number NEW (sent to 255: every\n"
    "                               device on the line takes it)\n"
    "  read FILE.RTX|-              read the table back into a file, or print it\n"
    "  write FILE.RTX [--verify]    download a file's table; --verify reads it back\n"
    "  stream raw|target [--count N] [--seconds S]\n"
    "                               live values as CSV: time,ch0..ch9\n"
    "  power on|off\n"
    "  clock [--at \"YYYY-MM-DD hh:mm:ss\"]\n"
    "  display mode off|target|raw\n"
    "  display number TEXT [--start S] [--port P] [--digits N]\n"
    "  display code A B [--start S] [--port P]\n"
    "\n"
    "rt8ctl COMMAND --help shows a command's options.\n"
    "Exit codes: 0 done, 1 no valid reply in time, 2 bad command line or field\n"
    "(nothing sent), 3 port not opened, 4 file not read or written, 5 --verify\n"
    "found a difference.\n";

ParsedCommandLine fail(const QString &why)
{
    ParsedCommandLine p;
    p.exitCode = ExitUsage;
    p.err = why + QLatin1Char('\n')
            + QCoreApplication::translate("vorn::ctl::Options", "（rt8ctl --help 列出命令和选项。）");
    return p;
}

ParsedCommandLine done(const QString &out)
{
    ParsedCommandLine p;
    p.exitCode = ExitOk;
    p.out = out;
    return p;
}

QString badNumber(const QString &what, const QString &text, const QString &range)
{
    return QCoreApplication::translate("vorn::ctl::Options", "“%1”的值“%2”无效：请输入 %3 之间的数字。")
        .arg(what, text, range);
}

// A count or duration of the command line itself (not a device field).
bool positiveInt(const QString &text, int max, int *value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < 1 || v > max)
        return false;
    *value = v;
    return true;
}

struct CommandForm
{
    const char *name;
    Command command;
    int minWords, maxWords;
    const char *synopsis;
};

const CommandForm kForms[] = {
    {"ports", Command::Ports, 0, 0, "ports"},
    {"find", Command::Find, 0, 0, "find"},
    {"scan", Command::Scan, 0, 0, "scan [--from A] [--to B]"},
    {"renumber", Command::Renumber, 1, 1, "renumber NEW [--digits D]"},
    {"read", Command::Read, 1, 1, "read FILE.RTX|- [--allow-cut]"},
    {"write", Command::Write, 1, 1, "write FILE.RTX [--verify]"},
    {"stream", Command::Stream, 1, 1, "stream raw|target [--count N] [--seconds S]"},
    {"power", Command::Power, 1, 1, "power on|off"},
    {"clock", Command::Clock, 0, 0, "clock [--at \"YYYY-MM-DD hh:mm:ss\"]"},
    {"display mode", Command::DisplayMode, 1, 1, "display mode off|target|raw"},
    {"display number", Command::DisplayNumber, 1, 1,
     "display number TEXT [--start S] [--port P] [--digits N]"},
    {"display code", Command::DisplayCode, 2, 2, "display code A B [--start S] [--port P]"},
};

// The global options, up to the command word.
struct GlobalOptions
{
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    const QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version.")};
    const QCommandLineOption port{QStringLiteral("port"),
                                  QStringLiteral("Serial port: number 1-16 (as in the window, VORNRT8_PORTS "
                                                 "included) or device path. Default: the first that opens."),
                                  QStringLiteral("N|PATH")};
    const QCommandLineOption address{QStringLiteral("address"),
                                     QStringLiteral("Device number 0-255 (default 255: any device)."),
                                     QStringLiteral("N")};
    const QCommandLineOption timeout{QStringLiteral("timeout"),
                                     QStringLiteral("Wait this long for each reply (default 2000; scan 100)."),
                                     QStringLiteral("MS")};
    const QCommandLineOption json{QStringLiteral("json"),
                                  QStringLiteral("find, scan, read -, ports, stream: one JSON object per line.")};
    const QCommandLineOption trace{QStringLiteral("trace"),
                                   QStringLiteral("Append every frame in and out, and what became of it, to "
                                                  "FILE, one line each."),
                                   QStringLiteral("FILE")};
    const QCommandLineOption lang{QStringLiteral("lang"),
                                  QStringLiteral("Language of the messages: en (English) or zh (Chinese). "
                                                 "Default: English when the system's is, otherwise Chinese."),
                                  QStringLiteral("en|zh")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
        parser.addOptions({help, version, port, address, timeout, json, trace, lang});
    }
};

// "en" or "zh", whatever their case; empty for anything else.
QString languageValue(const QString &text)
{
    const QString v = text.trimmed().toLower();
    return v == QLatin1String("en") || v == QLatin1String("zh") ? v : QString();
}

}  // namespace

QString languageChoice(const QStringList &arguments)
{
    QCommandLineParser global;
    const GlobalOptions options;
    options.addTo(global);
    if (!global.parse(arguments))
        return {};
    return languageValue(global.value(options.lang));
}

ParsedCommandLine parseCommandLine(const QStringList &arguments, const QString &version)
{
    // ---- global options, up to the command word
    QCommandLineParser global;
    global.setApplicationDescription(QStringLiteral(
        "rt8ctl configures RT8 devices over a serial line (38400 8N1) from scripts."));
    const GlobalOptions options;
    options.addTo(global);
    const QCommandLineOption &help = options.help, &versionOpt = options.version, &port = options.port,
                             &address = options.address, &timeout = options.timeout, &json = options.json,
                             &trace = options.trace, &lang = options.lang;
    global.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do (below)."),
                                 QStringLiteral("COMMAND [ARGS]"));

    if (!global.parse(arguments))
        return fail(QCoreApplication::translate("vorn::ctl::Options", "命令行有误：%1").arg(global.errorText()));
    if (global.isSet(help))
        return done(global.helpText() + QLatin1Char('\n') + QLatin1String(kCommands));
    if (global.isSet(versionOpt))
        return done(QStringLiteral("rt8ctl %1\n").arg(version));

    Invocation inv;
    if (global.isSet(port)) {
        inv.port = global.value(port).trimmed();
        if (inv.port.isEmpty())
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“--port”不能为空。"));
        // A whole number names a port number; anything else is a device path.
        bool isNumber = false;
        const int n = inv.port.toInt(&isNumber);
        if (isNumber && (n < kFirstPort || n > kLastPort))
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“%1”不是 1 到 16 之间的端口号。")
                            .arg(inv.port));
    }
    if (global.isSet(address)) {
        const auto a = readStrictByte(global.value(address));
        if (!a)
            return fail(badNumber(QStringLiteral("--address"), global.value(address),
                                  QCoreApplication::translate("vorn::ctl::Options", "0 到 255")));
        inv.address = quint8(*a);
    }
    if (global.isSet(timeout) && !positiveInt(global.value(timeout), 3600000, &inv.timeoutMs))
        return fail(badNumber(QStringLiteral("--timeout"), global.value(timeout),
                              QCoreApplication::translate("vorn::ctl::Options", "1 到 3600000（毫秒）")));
    inv.json = global.isSet(json);
    inv.trace = global.value(trace);
    if (global.isSet(lang)) {
        inv.language = languageValue(global.value(lang));
        if (inv.language.isEmpty())
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“--lang”的值“%1”无效：请写 en 或 zh。")
                            .arg(global.value(lang)));
    }

    QStringList rest = global.positionalArguments();
    if (rest.isEmpty())
        return fail(QCoreApplication::translate("vorn::ctl::Options", "没有给出命令。"));

    // ---- the command
    QString name = rest.takeFirst();
    if (name == QLatin1String("display")) {
        if (rest.isEmpty() || rest.first().startsWith(QLatin1Char('-')))
            return fail(
                QCoreApplication::translate("vorn::ctl::Options", "“display”后面要写 mode、number 或 code。"));
        name += QLatin1Char(' ') + rest.takeFirst();
    }
    const CommandForm *form = nullptr;
    for (const CommandForm &s : kForms)
        if (name == QLatin1String(s.name))
            form = &s;
    if (!form)
        return fail(QCoreApplication::translate("vorn::ctl::Options", "没有“%1”这个命令。").arg(name));
    inv.command = form->command;

    QCommandLineParser own;
    own.setApplicationDescription(QStringLiteral("rt8ctl [global options] %1").arg(QLatin1String(form->synopsis)));
    own.addOption(help);
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("First number (0)."), QStringLiteral("A"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Last number (254)."), QStringLiteral("B"));
    const QCommandLineOption digits(QStringLiteral("digits"),
                                    inv.command == Command::Renumber
                                        ? QStringLiteral("Display-digit count to give the device (default: the "
                                                         "one it has, from a connection test).")
                                        : QStringLiteral("Digits to send (4)."),
                                    QStringLiteral("D"));
    const QCommandLineOption verify(QStringLiteral("verify"),
                                    QStringLiteral("Read the table back and compare it with the file."));
    const QCommandLineOption allowCut(QStringLiteral("allow-cut"),
                                      QStringLiteral("Save even when a text is longer than its field in the "
                                                     "file and would be cut (the window asks first)."));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Stop after N lines."),
                                   QStringLiteral("N"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Stop after S seconds."),
                                     QStringLiteral("S"));
    const QCommandLineOption at(QStringLiteral("at"), QStringLiteral("The time to set (default: now)."),
                                QStringLiteral("YYYY-MM-DD hh:mm:ss"));
    const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("Start position (46)."),
                                   QStringLiteral("S"));
    const QCommandLineOption displayPort(QStringLiteral("port"), QStringLiteral("Display port (1)."),
                                         QStringLiteral("P"));
    switch (inv.command) {
    case Command::Scan: own.addOptions({from, to}); break;
    case Command::Renumber: own.addOption(digits); break;
    case Command::Read: own.addOption(allowCut); break;
    case Command::Write: own.addOption(verify); break;
    case Command::Stream: own.addOptions({count, seconds}); break;
    case Command::Clock: own.addOption(at); break;
    case Command::DisplayNumber: own.addOptions({start, displayPort, digits}); break;
    case Command::DisplayCode: own.addOptions({start, displayPort}); break;
    default: break;
    }
    if (!own.parse(QStringList{arguments.value(0)} + rest))
        return fail(QCoreApplication::translate("vorn::ctl::Options", "%1 的选项有误：%2")
                        .arg(name, own.errorText()));
    if (own.isSet(help)) {
        const QString text = own.helpText();
        const qsizetype options = text.indexOf(QLatin1String("\n\n"));
        return done(QStringLiteral("Usage: rt8ctl [global options] %1\n\n").arg(QLatin1String(form->synopsis))
                    + (options < 0 ? QString() : text.mid(options + 2)));
    }
    inv.words = own.positionalArguments();
    if (inv.words.size() < form->minWords || inv.words.size() > form->maxWords)
        return fail(QCoreApplication::translate("vorn::ctl::Options", "用法：rt8ctl [全局选项] %1")
                        .arg(QLatin1String(form->synopsis)));

    const QString word = inv.words.value(0);
    const auto oneOf = [&](const QStringList &allowed) { return allowed.contains(word); };
    switch (inv.command) {
    case Command::Scan: {
        for (const auto &[opt, target] : {std::pair{&from, &inv.from}, std::pair{&to, &inv.to}}) {
            if (!own.isSet(*opt))
                continue;
            // Every device answers to 255: a scan stops at 254.
            const auto v = readStrictByte(own.value(*opt));
            if (!v || *v > 254)
                return fail(badNumber(QStringLiteral("--") + opt->names().first(), own.value(*opt),
                                      QCoreApplication::translate("vorn::ctl::Options", "0 到 254"))
                            + (v ? QCoreApplication::translate("vorn::ctl::Options",
                                                               "（255 号是每台设备都应答的号码。）")
                                 : QString()));
            *target = *v;
        }
        if (inv.from > inv.to)
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“--from”（%1）大于“--to”（%2）。")
                            .arg(inv.from).arg(inv.to));
        break;
    }
    case Command::Renumber: {
        const auto n = readStrictByte(word);
        if (!n)
            return fail(
                badNumber(QStringLiteral("NEW"), word, QCoreApplication::translate("vorn::ctl::Options", "0 到 255")));
        inv.newNumber = quint8(*n);
        if (own.isSet(digits))
            inv.digits = own.value(digits);
        break;
    }
    case Command::Read:
        inv.allowCut = own.isSet(allowCut);
        break;
    case Command::Write:
        inv.verify = own.isSet(verify);
        if (word == QLatin1String("-"))
            return fail(
                QCoreApplication::translate("vorn::ctl::Options", "write 要读一个 .RTX 文件，不能读标准输入。"));
        break;
    case Command::Stream:
        if (!oneOf({QStringLiteral("raw"), QStringLiteral("target")}))
            return fail(QCoreApplication::translate("vorn::ctl::Options", "stream 后面要写 raw 或 target。"));
        if (own.isSet(count) && !positiveInt(own.value(count), 1 << 30, &inv.count))
            return fail(badNumber(QStringLiteral("--count"), own.value(count),
                                  QCoreApplication::translate("vorn::ctl::Options", "1 到 1073741824")));
        if (own.isSet(seconds)) {
            bool ok = false;
            inv.seconds = own.value(seconds).trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(inv.seconds) || inv.seconds <= 0 || inv.seconds > 1e6)
                return fail(badNumber(QStringLiteral("--seconds"), own.value(seconds),
                                      QCoreApplication::translate("vorn::ctl::Options", "0 到 1000000（不含 0）")));
        }
        break;
    case Command::Power:
        if (!oneOf({QStringLiteral("on"), QStringLiteral("off")}))
            return fail(QCoreApplication::translate("vorn::ctl::Options", "power 后面要写 on 或 off。"));
        break;
    case Command::Clock:
        if (own.isSet(at)) {
            inv.at = QDateTime::fromString(own.value(at).trimmed(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (!inv.at.isValid())
                return fail(QCoreApplication::translate(
                                "vorn::ctl::Options",
                                "“--at”的值“%1”无效：请写成 YYYY-MM-DD hh:mm:ss，例如 2026-12-06 08:15:27。")
                                .arg(own.value(at)));
        }
        break;
    case Command::DisplayMode:
        if (!oneOf({QStringLiteral("off"), QStringLiteral("target"), QStringLiteral("raw")}))
            return fail(
                QCoreApplication::translate("vorn::ctl::Options", "display mode 后面要写 off、target 或 raw。"));
        break;
    case Command::DisplayNumber:
        if (own.isSet(digits))
            inv.displayDigits = own.value(digits);
        [[fallthrough]];
    case Command::DisplayCode:
        if (own.isSet(start))
            inv.start = own.value(start);
        if (own.isSet(displayPort))
            inv.displayPort = own.value(displayPort);
        break;
    default:
        break;
    }
    ParsedCommandLine p;
    p.invocation = inv;
    p.run = true;
    return p;
}

}  // namespace vorn::ctl
