// rt8ctl without a device: which words of the command line belong to which
// option, and the comparison of a file's table with what a read-back says the
// device holds.

#include "cli/language.h"
#include "ctl/controller.h"
#include "ctl/options.h"
#include "ctl/verify.h"
#include "protocol/frame.h"
#include "session/language.h"
#include "support/tables.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace vorn;
using namespace vorn::ctl;

Q_DECLARE_METATYPE(QList<vorn::ctl::FieldDifference>)

namespace {

// The fields of an invocation as key=value words, for the table to pick from.
QStringList summary(const Invocation &i)
{
    return {
        QStringLiteral("port=") + i.port,
        QStringLiteral("address=%1").arg(i.address),
        QStringLiteral("timeout=%1").arg(i.timeout()),
        QStringLiteral("connect=%1").arg(i.connectTimeoutMs),
        QStringLiteral("json=%1").arg(i.json),
        QStringLiteral("command=%1").arg(int(i.command)),
        QStringLiteral("words=") + i.words.join(QLatin1Char('|')),
        QStringLiteral("from=%1").arg(i.from),
        QStringLiteral("to=%1").arg(i.to),
        QStringLiteral("new=%1").arg(i.newNumber),
        QStringLiteral("digits=") + i.digits.value_or(QStringLiteral("(none)")),
        QStringLiteral("count=%1").arg(i.count),
        QStringLiteral("seconds=%1").arg(i.seconds),
        QStringLiteral("at=") + i.at.toString(Qt::ISODate),
        QStringLiteral("start=") + i.start,
        QStringLiteral("dport=") + i.displayPort,
        QStringLiteral("ddigits=") + i.displayDigits,
        QStringLiteral("lang=") + i.language,
        QStringLiteral("scan=%1").arg(i.scan),
        QStringLiteral("save=") + i.saveFound,
    };
}


}  // namespace

class CtlUnitTest : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data();
    void commandLine();
    void help_data();
    void help();
    void collidingReplies_data();
    void collidingReplies();
    void languageChoice_data();
    void languageChoice();
    void comparison_data();
    void comparison();
};

void CtlUnitTest::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");   // -1: runs
    QTest::addColumn<QStringList>("expect");

    const auto row = [](const char *name, const QString &line, int exit, const QStringList &expect = {}) {
        QTest::newRow(name) << QStringList{QStringLiteral("rt8ctl")} + QProcess::splitCommand(line) << exit << expect;
    };
    row("defaults", "find", -1, {"port=", "address=255", "timeout=2000", "json=0", "connect=3000"});
    row("network port", "--port tcp://127.0.0.1:4001 find", -1, {"port=tcp://127.0.0.1:4001"});
    row("RFC 2217 port, IPv6", "--port rfc2217://[fd00::5]:2217 find", -1, {"port=rfc2217://[fd00::5]:2217"});
    // A URL that is none is the command line's fault, like port 17.
    row("unknown scheme", "--port ftp://cab5:4001 find", 2);
    row("URL without a port", "--port tcp://cab5 find", 2);
    row("URL with a user part", "--port tcp://op:pw@cab5:4001 find", 2);
    row("URL with a path", "--port tcp://cab5:4001/x find", 2);
    row("connect timeout", "--connect-timeout 500 --port tcp://cab5:4001 find", -1, {"connect=500"});
    row("connect timeout 0", "--connect-timeout 0 find", 2);
    row("connect timeout not a number", "--connect-timeout soon find", 2);
    row("global options", "--port /dev/ttyUSB0 --address 12 --timeout 500 --json find", -1,
        {"port=/dev/ttyUSB0", "address=12", "timeout=500", "json=1"});
    row("port number out of range", "--port 17 find", 2);
    row("address out of range", "--address 256 find", 2);
    row("no command", "--address 1", 2);
    // Options after the command word are the command's own.
    row("audit one device", "--address 3 audit plant.RTX", -1,
        {"command=6", "address=3", "words=plant.RTX", "scan=0", "timeout=2000"});
    row("audit a line", "--json audit plant.RTX --scan --from 1 --to 9 --save-found found", -1,
        {"scan=1", "from=1", "to=9", "save=found", "json=1"});
    row("audit: --from without --scan", "audit plant.RTX --from 1", 2);
    row("audit: --scan with --address", "--address 4 audit plant.RTX --scan", 2);
    row("audit: --to past 254", "audit plant.RTX --scan --to 255", 2);
    row("audit: no file", "audit --scan", 2);
    row("audit: standard input", "audit -", 2);
    row("audit: empty folder", "audit plant.RTX --save-found \"\"", 2);
    row("display port is not the serial port", "--port 2 display number 123 --port 5 --start 3 --digits 3", -1,
        {"port=2", "dport=5", "start=3", "ddigits=3", "words=123"});
    row("display defaults", "display code 7 8", -1, {"start=46", "dport=1", "words=7|8"});
    row("global option after the command", "find --address 5", 2);
    row("display code needs two codes", "display code 7", 2);
    row("scan defaults", "scan", -1, {"from=0", "to=254", "timeout=100"});
    row("scan range reversed", "scan --from 9 --to 3", 2);
    row("scan to 255, which every device answers", "scan --to 255", 2);
    row("scan from 255", "scan --from 255 --to 255", 2);
    row("scan to 254", "scan --from 250 --to 254", -1, {"from=250", "to=254"});
    row("renumber learns the digits", "renumber 7", -1, {"new=7", "digits=(none)"});
    row("renumber with digits", "renumber 7 --digits 8", -1, {"new=7", "digits=8"});
    row("renumber to 256", "renumber 256", 2);
    row("stream with limits", "stream target --count 5 --seconds 1.5", -1,
        {"words=target", "count=5", "seconds=1.5"});
    row("stream count 0", "stream raw --count 0", 2);
    row("clock at a time", "clock --at \"2026-12-06 08:15:27\"", -1, {"at=2026-12-06T08:15:27"});
    row("clock at no time", "clock --at \"2026-13-06 08:15:27\"", 2);
    row("version", "--version", 0);
    row("language", "--lang en find", -1, {"lang=en"});
    row("language in capitals", "--lang ZH --json find", -1, {"lang=zh", "json=1"});
    row("no language: the system's", "find", -1, {"lang="});
    row("a language it does not speak", "--lang fr find", 2);
    row("language after the command", "find --lang en", 2);
}

void CtlUnitTest::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expect);
    const ParsedCommandLine p = parseCommandLine(args, QStringLiteral("9.8"));
    if (exitCode < 0) {
        QVERIFY2(p.run, qPrintable(p.err));
        const QStringList got = summary(p.invocation);
        for (const QString &e : expect)
            QVERIFY2(got.contains(e), qPrintable(e + QStringLiteral(" not in ") + got.join(QLatin1Char(' '))));
        return;
    }
    QVERIFY(!p.run);
    QCOMPARE(p.exitCode, exitCode);
    if (exitCode == ExitUsage)
        QVERIFY(!p.err.isEmpty() && p.out.isEmpty());
    else
        QCOMPARE(p.out, QStringLiteral("rt8ctl 9.8\n"));
}

void CtlUnitTest::help_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("shows");
    const QStringList urls{"tcp://HOST:PORT", "rfc2217://HOST:PORT", "--port <N|PATH|URL>", "--connect-timeout <MS>"};
    QTest::newRow("Chinese") << "zh" << "--help" << urls + QStringList{"用法：rt8ctl", "全局选项", "退出码"};
    QTest::newRow("English") << "en" << "--help" << urls + QStringList{"Usage: rt8ctl", "Global options", "Exit codes"};
    QTest::newRow("a command's, Chinese") << "zh" << "stream --help"
                                          << QStringList{"用法：rt8ctl [全局选项] stream", "--count <N>", "输出 N 行后结束"};
    QTest::newRow("a command's, English") << "en" << "stream --help"
                                          << QStringList{"Usage: rt8ctl [global options] stream", "--count <N>",
                                                         "Stop after N lines"};
}

void CtlUnitTest::help()
{
    QFETCH(QString, language);
    QFETCH(QString, line);
    QFETCH(QStringList, shows);
    QCOMPARE(languageCode(installTranslations(language)), language);
    const ParsedCommandLine p = parseCommandLine(QStringList{QStringLiteral("rt8ctl")} + QProcess::splitCommand(line),
                                                 QStringLiteral("9.8"));
    installTranslations(QStringLiteral("zh"));
    QVERIFY(!p.run);
    QCOMPARE(p.exitCode, 0);
    for (const QString &s : shows)
        QVERIFY2(p.out.contains(s), qPrintable(s + QStringLiteral(" not in:\n") + p.out));
    // Nothing of the other language's words.
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    QCOMPARE(p.out.contains(han), language == QLatin1String("zh"));
}

void CtlUnitTest::collidingReplies_data()
{
    QTest::addColumn<QList<QByteArray>>("dropped");
    QTest::addColumn<bool>("colliding");
    const QByteArray one = buildReply(cmd::Discover, QByteArray("\x01\x28", 2));
    const QByteArray two = buildReply(cmd::Discover, QByteArray("\x02\x08", 2));
    // Two drivers on one RS-485 pair: a 0 bit wins.
    QByteArray anded = one;
    for (int i = 0; i < anded.size(); ++i)
        anded[i] = char(one[i] & two[i]);
    QTest::newRow("two answers on top of each other") << QList<QByteArray>{anded} << true;
    QTest::newRow("one answer cut by the other") << QList<QByteArray>{one.left(6), two} << true;
    QTest::newRow("after noise") << QList<QByteArray>{QByteArray("\x11\x22"), anded} << true;
    QTest::newRow("a server flooding 0xFF") << QList<QByteArray>{QByteArray(64, char(0xFF)), QByteArray(9, char(0xFF))}
                                            << false;
    QTest::newRow("noise") << QList<QByteArray>{QByteArray::fromHex("1122334455667788aa")} << false;
    QTest::newRow("a whole reply of a code not asked for")
        << QList<QByteArray>{buildReply(0x7E, QByteArray("\x01\x02", 2))} << false;
    QTest::newRow("a command echoed") << QList<QByteArray>{buildFrame(255, cmd::Discover, QByteArray(1, '\xFF'))}
                                      << false;
    QTest::newRow("nothing dropped") << QList<QByteArray>{} << false;
}

void CtlUnitTest::collidingReplies()
{
    QFETCH(QList<QByteArray>, dropped);
    QFETCH(bool, colliding);
    QCOMPARE(looksLikeCollidingReplies(dropped), colliding);
}

void CtlUnitTest::languageChoice_data()
{
    // The rule is cli's (tests/cli); here rt8ctl's global options: which take
    // a value, and where they end.
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("choice");
    QTest::newRow("after --port N") << "--port 2 --lang=zh scan --from 3" << "zh";
    QTest::newRow("with the other global options") << "--address 7 --timeout 300 --connect-timeout 900 --json "
                                                      "--trace t.log --lang en find" << "en";
    QTest::newRow("after the command") << "display number 12 --lang en" << "";
}

void CtlUnitTest::languageChoice()
{
    QFETCH(QString, line);
    QFETCH(QString, choice);
    QCOMPARE(cli::languageChoice(QStringList{QStringLiteral("rt8ctl")} + QProcess::splitCommand(line), globalOptions()),
             choice);
}

void CtlUnitTest::comparison_data()
{
    QTest::addColumn<ChannelTable>("file");
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<QList<FieldDifference>>("expected");
    using D = QList<FieldDifference>;

    const ChannelTable start = startTable();
    QTest::newRow("the same") << start << blocksOf(start) << D{};
    // Texts that go out as other numbers compare by what they go out as.
    QTest::newRow("1.5 went out as 2") << with(0, [](ChannelTexts &r) { r.lower = "1.5"; })
                                       << blocksOf(with(0, [](ChannelTexts &r) { r.lower = "2"; })) << D{};
    QTest::newRow("blank is 0, 5 places are 1")
        << with(4, [](ChannelTexts &r) { r.lower = ""; r.dot = "5"; r.start1 = " 0 "; })
        << blocksOf(with(4, [](ChannelTexts &r) { r.dot = "1"; })) << D{};
    QTest::newRow("a formula outside the list is 固定关") << with(2, [](ChannelTexts &r) { r.formula = "开关"; })
                                                        << blocksOf(start) << D{};
    QByteArray negativeZero = blocksOf(start);
    negativeZero[3 * kBlockSize] = char(0x80);   // lower limit of 3#: 80 00
    QTest::newRow("negative zero is zero") << start << negativeZero << D{};
    QTest::newRow("upper past 32767 alike")
        << with(6, [](ChannelTexts &r) { r.lower = "10000"; r.upper = "40000"; })
        << blocksOf(with(6, [](ChannelTexts &r) { r.lower = "10000"; r.upper = "40000"; })) << D{};

    // Differences, named by channel and field.
    QTest::newRow("lower only: upper is the same")
        << start << blocksOf(with(3, [](ChannelTexts &r) { r.lower = "10"; }))
        << D{{3, "下限", "0", "10"}};
    QTest::newRow("upper") << start << blocksOf(with(9, [](ChannelTexts &r) { r.upper = "990"; }))
                           << D{{9, "上限", "1000", "990"}};
    QTest::newRow("upper past 32767 differs")
        << with(6, [](ChannelTexts &r) { r.lower = "10000"; r.upper = "40000"; })
        << blocksOf(with(6, [](ChannelTexts &r) { r.lower = "10000"; r.upper = "40001"; }))
        << D{{6, "上限", "40000", "（超出 -32768 到 32767）"}};
    QTest::newRow("decimal places and start values")
        << start << blocksOf(with(1, [](ChannelTexts &r) { r.dot = "3"; r.start1 = "-1"; r.start2 = "999"; }))
        << D{{1, "小数位", "1", "3"}, {1, "启动值1", "0", "-1"}, {1, "启动值2", "1000", "999"}};
    QTest::newRow("formula") << with(5, [](ChannelTexts &r) { r.formula = "固定开"; })
                             << blocksOf(with(5, [](ChannelTexts &r) { r.formula = "大于"; }))
                             << D{{5, "报警启动", "固定开", "大于"}};
    QByteArray unknownCode = blocksOf(start);
    unknownCode[8 * kBlockSize + 5] = char(0x07);
    QTest::newRow("a code no name stands for") << start << unknownCode
                                               << D{{8, "报警启动", "固定关", "固定关（代码 0x07）"}};
    QTest::newRow("table that does not convert") << with(0, [](ChannelTexts &r) { r.lower = "-32768"; })
                                                 << blocksOf(start)
                                                 << D{{-1, "参数表", "无法转换", ""}};
    QTest::newRow("short read-back") << start << blocksOf(start).left(50)
                                     << D{{-1, "回读数据", "", "50 字节"}};
}

void CtlUnitTest::comparison()
{
    QFETCH(ChannelTable, file);
    QFETCH(QByteArray, device);
    QFETCH(QList<FieldDifference>, expected);
    const QList<FieldDifference> got = compareWithDevice(file, device);
    QStringList gotText, expectedText;
    for (const auto &d : got)
        gotText.append(describe(d));
    for (const auto &d : expected)
        expectedText.append(describe(d));
    QCOMPARE(gotText, expectedText);
}

QTEST_GUILESS_MAIN(CtlUnitTest)
#include "tst_ctl_units.moc"
