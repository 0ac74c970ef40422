#include "ctl/options.h"

#include "cli/language.h"

#include "protocol/requests.h"
#include "link/netaddress.h"
#include "link/portmap.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cmath>

namespace vorn::ctl {

namespace {

// The commands, as --help lists them. The texts in the sources are Chinese;
// the English is in the translation.
const char kCommands[] = QT_TRANSLATE_NOOP(
    "vorn::ctl::Options",
    "命令：\n"
    "  ports                        端口 1-16：编号、设备、现在能否打开\n"
    "  find                         连接测试：设备编号和显示位数\n"
    "  scan [--from A] [--to B]     逐个对编号 A..B（0..254）做连接测试\n"
    "  renumber NEW [--digits D]    把设备编号改为 NEW（发给 255 号：线上的每台设备\n"
    "                               都会改用这个编号）\n"
    "  read FILE.RTX|-              回读参数表，存入文件或打印出来\n"
    "  write FILE.RTX [--verify]    下载文件中的参数表；--verify 回读核对\n"
    "  audit FILE.RTX [--scan [--from A] [--to B]] [--save-found DIR]\n"
    "                               回读参数表，与文件逐项比较（不改动设备）\n"
    "  stream raw|target [--count N] [--seconds S] [--reconnect]\n"
    "                               实时值，CSV 格式：time,ch0..ch9\n"
    "  power on|off\n"
    "  clock [--at \"YYYY-MM-DD hh:mm:ss\"]\n"
    "  display mode off|target|raw\n"
    "  display number TEXT [--start S] [--port P] [--digits N]\n"
    "  display code A B [--start S] [--port P]\n"
    "\n"
    "rt8ctl 命令 --help 列出该命令的选项。\n"
    "退出码：0 完成，1 超时内没有有效应答，2 命令行或参数有误（什么都没有发送），\n"
    "3 端口没有打开或已断开，4 文件读写失败，5 --verify 或 audit 发现不一致。\n");

QString tr(const char *text)
{
    return QCoreApplication::translate("vorn::ctl::Options", text);
}


// The options as a help text lists them, in the language in effect
// (QCommandLineParser's own help would say "Usage" and "Options" in English
// whatever the language).
QString optionsHelp(const QList<QCommandLineOption> &options)
{
    QList<std::pair<QString, QString>> rows;
    int width = 0;
    for (const QCommandLineOption &o : options) {
        QStringList names;
        for (const QString &n : o.names())
            names.append((n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n);
        QString left = names.join(QStringLiteral(", "));
        if (!o.valueName().isEmpty())
            left += QStringLiteral(" <%1>").arg(o.valueName());
        width = std::max(width, int(left.size()));
        rows.append({left, o.description()});
    }
    width = std::min(width, 28);
    QString out;
    for (const auto &[left, description] : rows) {
        QString line = QStringLiteral("  ") + left;
        const QString indent(width + 4, QLatin1Char(' '));
        if (left.size() > width)
            line += QLatin1Char('\n') + indent;
        else
            line += QString(width - left.size() + 2, QLatin1Char(' '));
        // Wrapped at about 80 columns, at a blank or between CJK characters.
        const int room = std::max(30, 80 - int(indent.size()));
        QString rest = description;
        while (displayWidth(rest) > room) {
            int cut = 0, used = 0, lastBreak = -1;
            for (; cut < rest.size(); ++cut) {
                const int w = displayWidth(rest.mid(cut, 1));
                if (used + w > room)
                    break;
                used += w;
                // Never before closing punctuation (，。）、：；).
                const bool closing = cut + 1 < rest.size()
                                     && QStringLiteral("，。）、：；").contains(rest[cut + 1]);
                if ((rest[cut] == QLatin1Char(' ') || w == 2) && !closing)
                    lastBreak = cut;
            }
            const int at = lastBreak > 0 ? lastBreak + (rest[lastBreak] == QLatin1Char(' ') ? 0 : 1) : cut;
            line += rest.left(at).trimmed() + QLatin1Char('\n') + indent;
            rest = rest.mid(at).trimmed();
        }
        out += line + rest + QLatin1Char('\n');
    }
    return out;
}

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
    {"audit", Command::Audit, 1, 1, "audit FILE.RTX [--scan [--from A] [--to B]] [--save-found DIR]"},
    {"stream", Command::Stream, 1, 1, "stream raw|target [--count N] [--seconds S] [--reconnect]"},
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
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QCoreApplication::translate("vorn::ctl::Options", "显示这份说明。")};
    const QCommandLineOption version{QStringLiteral("version"),
                                     QCoreApplication::translate("vorn::ctl::Options", "显示版本。")};
    const QCommandLineOption port{
        QStringLiteral("port"),
        QCoreApplication::translate("vorn::ctl::Options",
                                    "通讯端口：端口号 1-16（与窗口的编号相同，包括 VORNRT8_PORTS）、设备路径，"
                                    "或网络端口 tcp://HOST:PORT、rfc2217://HOST:PORT。默认：第一个能打开的端口。"),
        QStringLiteral("N|PATH|URL")};
    const QCommandLineOption address{
        QStringLiteral("address"),
        QCoreApplication::translate("vorn::ctl::Options", "设备编号 0-255（默认 255：任何设备都应答）。"),
        QStringLiteral("N")};
    const QCommandLineOption timeout{
        QStringLiteral("timeout"),
        QCoreApplication::translate("vorn::ctl::Options",
                                    "每个应答最多等这么久（默认 2000；scan 为 100）；stream 在这么久没有新的值时结束。"),
        QStringLiteral("MS")};
    const QCommandLineOption connectTimeout{
        QStringLiteral("connect-timeout"),
        QCoreApplication::translate("vorn::ctl::Options",
                                    "网络端口：连接和 RFC 2217 协商最多等这么久（默认 3000）。"),
        QStringLiteral("MS")};
    const QCommandLineOption json{
        QStringLiteral("json"),
        QCoreApplication::translate("vorn::ctl::Options", "find、scan、read -、ports、stream、audit：每行一个 JSON 对象。")};
    const QCommandLineOption trace{
        QStringLiteral("trace"),
        QCoreApplication::translate("vorn::ctl::Options", "把收发的每一帧和它的结果追加到 FILE，每帧一行。"),
        QStringLiteral("FILE")};
    const QCommandLineOption lang{
        QStringLiteral("lang"),
        QCoreApplication::translate("vorn::ctl::Options",
                                    "消息的语言：en（英文）或 zh（中文）。默认：系统语言是英文时用英文，否则用中文。"),
        QStringLiteral("en|zh")};

    QList<QCommandLineOption> all() const
    {
        return {help, version, port, address, timeout, connectTimeout, json, trace, lang};
    }
    void addTo(QCommandLineParser &parser) const
    {
        parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
        parser.addOptions(all());
    }
};


}  // namespace

// Columns a terminal gives a text: two for CJK and full-width characters.
int displayWidth(const QString &s)
{
    int w = 0;
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        w += (u >= 0x1100 && (u <= 0x115F || (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3)
                              || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F)
                              || (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6)))
                 ? 2 : 1;
    }
    return w;
}

QList<QCommandLineOption> globalOptions()
{
    return GlobalOptions().all();
}

ParsedCommandLine parseCommandLine(const QStringList &arguments, const QString &version)
{
    // ---- global options, up to the command word
    QCommandLineParser global;
    const GlobalOptions options;
    options.addTo(global);
    const QCommandLineOption &help = options.help, &versionOpt = options.version, &port = options.port,
                             &address = options.address, &timeout = options.timeout, &json = options.json,
                             &trace = options.trace, &lang = options.lang, &connectTimeout = options.connectTimeout;

    if (!global.parse(arguments))
        return fail(QCoreApplication::translate("vorn::ctl::Options", "命令行有误：%1").arg(global.errorText()));
    if (global.isSet(help))
        return done(QCoreApplication::translate("vorn::ctl::Options", "用法：rt8ctl [全局选项] 命令 [参数]") + QLatin1Char('\n')
                    + QCoreApplication::translate("vorn::ctl::Options",
                                                  "rt8ctl 从脚本配置 RT8 设备：经串口（38400 8N1）或串口服务器。")
                    + QStringLiteral("\n\n")
                    + QCoreApplication::translate("vorn::ctl::Options", "全局选项（写在命令前面）：")
                    + QLatin1Char('\n') + optionsHelp(options.all()) + QLatin1Char('\n') + tr(kCommands));
    if (global.isSet(versionOpt))
        return done(QStringLiteral("rt8ctl %1\n").arg(version));

    Invocation inv;
    if (global.isSet(port)) {
        inv.port = global.value(port).trimmed();
        if (inv.port.isEmpty())
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“--port”不能为空。"));
        // A whole number names a port number, a URL a network port; anything
        // else is a device path.
        bool isNumber = false;
        const int n = inv.port.toInt(&isNumber);
        if (isNumber && (n < kFirstPort || n > kLastPort))
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“%1”不是 1 到 16 之间的端口号。")
                            .arg(inv.port));
        QString why;
        if (isNetworkName(inv.port) && !parseNetAddress(inv.port, nullptr, &why))
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“--port”的网络端口“%1”无效：%2")
                            .arg(shownPortName(inv.port), why));
    }
    if (global.isSet(connectTimeout)
        && !positiveInt(global.value(connectTimeout), 600000, &inv.connectTimeoutMs))
        return fail(badNumber(QStringLiteral("--connect-timeout"), global.value(connectTimeout),
                              QCoreApplication::translate("vorn::ctl::Options", "1 到 600000（毫秒）")));
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
        inv.language = cli::languageValue(global.value(lang));
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
    own.addOption(help);
    const auto text = [](const char *source) { return QCoreApplication::translate("vorn::ctl::Options", source); };
    const QCommandLineOption from(QStringLiteral("from"), text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "第一个编号（0）。")),
                                  QStringLiteral("A"));
    const QCommandLineOption to(QStringLiteral("to"), text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "最后一个编号（254）。")),
                                QStringLiteral("B"));
    const QCommandLineOption digits(
        QStringLiteral("digits"),
        inv.command == Command::Renumber
            ? text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "给设备的显示位数（默认：设备现有的，由连接测试得知）。"))
            : text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "发送的位数（4）。")),
        QStringLiteral("D"));
    const QCommandLineOption verify(QStringLiteral("verify"),
                                    text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "回读参数表，与文件逐项核对。")));
    const QCommandLineOption allowCut(
        QStringLiteral("allow-cut"),
        text(QT_TRANSLATE_NOOP("vorn::ctl::Options",
                               "文本比文件中的字段长、会被截断时也照样保存（窗口会先询问）。")));
    const QCommandLineOption count(QStringLiteral("count"),
                                   text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "输出 N 行后结束。")),
                                   QStringLiteral("N"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "S 秒后结束。")),
                                     QStringLiteral("S"));
    const QCommandLineOption reconnect(
        QStringLiteral("reconnect"),
        text(QT_TRANSLATE_NOOP("vorn::ctl::Options",
                               "端口断开或设备不再发送时不结束：等同一台设备回来（编号和显示位数与第一次应答相同），接着输出。")));
    const QCommandLineOption scanLine(
        QStringLiteral("scan"),
        text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "逐个对编号 A..B 做连接测试，比较每台应答的设备（不用 --address）。")));
    const QCommandLineOption saveFound(
        QStringLiteral("save-found"),
        text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "把每台设备回读的参数表存为 DIR/编号.RTX。")),
        QStringLiteral("DIR"));
    const QCommandLineOption at(QStringLiteral("at"),
                                text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "要设置的时间（默认：现在）。")),
                                QStringLiteral("YYYY-MM-DD hh:mm:ss"));
    const QCommandLineOption start(QStringLiteral("start"),
                                   text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "起始位置（46）。")),
                                   QStringLiteral("S"));
    const QCommandLineOption displayPort(QStringLiteral("port"),
                                         text(QT_TRANSLATE_NOOP("vorn::ctl::Options", "显示端口（1）。")),
                                         QStringLiteral("P"));
    QList<QCommandLineOption> ownOptions{help};
    switch (inv.command) {
    case Command::Scan: ownOptions += {from, to}; break;
    case Command::Renumber: ownOptions += {digits}; break;
    case Command::Read: ownOptions += {allowCut}; break;
    case Command::Write: ownOptions += {verify}; break;
    case Command::Audit: ownOptions += {scanLine, from, to, saveFound}; break;
    case Command::Stream: ownOptions += {count, seconds, reconnect}; break;
    case Command::Clock: ownOptions += {at}; break;
    case Command::DisplayNumber: ownOptions += {start, displayPort, digits}; break;
    case Command::DisplayCode: ownOptions += {start, displayPort}; break;
    default: break;
    }
    own.addOptions(ownOptions.mid(1));
    if (!own.parse(QStringList{arguments.value(0)} + rest))
        return fail(QCoreApplication::translate("vorn::ctl::Options", "%1 的选项有误：%2")
                        .arg(name, own.errorText()));
    if (own.isSet(help))
        return done(QCoreApplication::translate("vorn::ctl::Options", "用法：rt8ctl [全局选项] %1")
                        .arg(QLatin1String(form->synopsis))
                    + QStringLiteral("\n\n") + QCoreApplication::translate("vorn::ctl::Options", "选项：")
                    + QLatin1Char('\n') + optionsHelp(ownOptions));
    inv.words = own.positionalArguments();
    if (inv.words.size() < form->minWords || inv.words.size() > form->maxWords)
        return fail(QCoreApplication::translate("vorn::ctl::Options", "用法：rt8ctl [全局选项] %1")
                        .arg(QLatin1String(form->synopsis)));

    const QString word = inv.words.value(0);
    const auto oneOf = [&](const QStringList &allowed) { return allowed.contains(word); };
    switch (inv.command) {
    case Command::Audit:
        inv.scan = own.isSet(scanLine);
        if (!inv.scan && (own.isSet(from) || own.isSet(to)))
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“--from”和“--to”只与“--scan”一起用。"));
        if (inv.scan && global.isSet(address))
            return fail(QCoreApplication::translate("vorn::ctl::Options", "“--scan”比较线上每台设备，不能同时给出“--address”。"));
        if (word == QLatin1String("-"))
            return fail(QCoreApplication::translate("vorn::ctl::Options", "audit 要读一个 .RTX 文件，不能读标准输入。"));
        if (own.isSet(saveFound)) {
            inv.saveFound = own.value(saveFound);
            if (inv.saveFound.trimmed().isEmpty())
                return fail(QCoreApplication::translate("vorn::ctl::Options", "“--save-found”不能为空。"));
        }
        [[fallthrough]];
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
        inv.reconnect = own.isSet(reconnect);
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
