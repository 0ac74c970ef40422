// Texts to numbers, the channel block both ways, smart setting.

#include "protocol/channeltable.h"
#include "protocol/smartsetting.h"

#include <QTest>

using namespace vorn;

namespace vorn {
char *toString(const ChannelTexts &t)   // for QCOMPARE
{
    return qstrdup(QStringList{t.lower, t.upper, t.dot, t.formula, t.start1, t.start2}
                       .join(QLatin1Char('|')).toUtf8().constData());
}
}  // namespace vorn

namespace {
// "lower|upper|dot|formula|start1|start2"
ChannelTexts texts(const QString &line)
{
    const QStringList f = line.split(QLatin1Char('|'));
    return {f[0], f[1], f[2], f[3], f[4], f[5]};
}
}  // namespace

class TstChannelTable : public QObject
{
    Q_OBJECT
private slots:
    void readsNumbers_data();
    void readsNumbers();
    void encodesChannel_data();
    void encodesChannel();
    void decodesChannel_data();
    void decodesChannel();
    void smartSetting_data();
    void smartSetting();
    void smartSettingPayload();
    void capturesReadings_data();
    void capturesReadings();
};

void TstChannelTable::readsNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");   // "too large": no value; "beyond 32 bits": no 32-bit value
    const auto row = [](const char *text, const char *expected) {
        QTest::newRow(*text ? text : "(empty)") << QString::fromUtf8(text) << QString::fromUtf8(expected);
    };
    row("12-3", "12");
    row("", "0");
    row("-", "0");
    row(" 1 2 ", "12");
    row("\t-7\n0", "-70");
    row("2.5", "2");
    row("3.5", "4");
    row("-2.5", "-2");
    row("&H7F", "127");
    row("&O17", "15");
    row("1e3", "1000");
    row("1.5e1", "15");
    row("1e", "1");
    row("abc", "0");
    row(".5", "0");
    row("2147483647", "2147483647");
    row("1e309", "too large");
    row("3e9", "beyond 32 bits");
}

void TstChannelTable::readsNumbers()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const auto v = numericValue(text);
    QCOMPARE(v.has_value(), expected != QLatin1String("too large"));
    if (!v)
        return;
    const auto r = roundToInt32(*v);
    QCOMPARE(r ? QString::number(*r) : QStringLiteral("beyond 32 bits"), expected);
}

void TstChannelTable::encodesChannel_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<QByteArray>("block");   // empty: refused
    const auto row = [](const char *name, const char *line, const char *hex) {
        QTest::newRow(name) << QString::fromUtf8(line) << QByteArray::fromHex(hex);
    };
    row("start texts", "0|1000|1|固定关|0|1000", "00 00 03 E8 01 00 00 00 03 E8");
    row("negative lower", "-5|5|1|固定关|0|1000", "80 05 00 0A 01 00 00 00 03 E8");
    row("upper beyond 16 bits", "10000|40000|1||0|0", "27 10 75 30 01 00 00 00 00 00");
    row("upper below lower", "100|99|1||0|0", "");
    row("largest span", "-20000|12767|1||0|0", "CE 20 7F FF 01 00 00 00 00 00");
    row("span too large", "-20000|12768|1||0|0", "");
    row("empty lower", "|1000|1||0|0", "00 00 03 E8 01 00 00 00 00 00");
    row("lower with junk", "12-3|1000|1||0|0", "00 0C 03 DC 01 00 00 00 00 00");
    row("lower -32768", "-32768|-32000|1||0|0", "");
    row("lower 32767", "32767|32767|1||0|0", "7F FF 00 00 01 00 00 00 00 00");
    row("lower too large", "1e309|0|1||0|0", "");
    row("dot 5", "0|0|5||0|0", "00 00 00 00 01 00 00 00 00 00");
    row("dot 4", "0|0|4||0|0", "00 00 00 00 00 00 00 00 00 00");
    row("dot empty", "0|0|||0|0", "00 00 00 00 00 00 00 00 00 00");
    row("dot 9", "0|0|9||0|0", "00 00 00 00 01 00 00 00 00 00");
    row("dot -1", "0|0|-1||0|0", "");
    row("dot beyond 32 bits", "0|0|3e9||0|0", "");
    row("fixed on", "0|0|0|固定开|0|0", "00 00 00 00 00 99 00 00 00 00");
    row("greater", "0|0|0|大于|0|0", "00 00 00 00 00 01 00 00 00 00");
    row("less", "0|0|0|小于|0|0", "00 00 00 00 00 02 00 00 00 00");
    row("equal", "0|0|0|等于|0|0", "00 00 00 00 00 03 00 00 00 00");
    row("inside", "0|0|0|范围内|0|0", "00 00 00 00 00 04 00 00 00 00");
    row("outside", "0|0|0|范围外|0|0", "00 00 00 00 00 05 00 00 00 00");
    row("formula with blank", "0|0|0|大于 |0|0", "00 00 00 00 00 00 00 00 00 00");
    row("starts -9999, -1000", "0|0|0||-9999|-1000", "00 00 00 00 00 00 A7 0F 83 E8");
    row("starts 32767, -32767", "0|0|0||32767|-32767", "00 00 00 00 00 00 7F FF FF FF");
    row("starts -1, empty", "0|0|0||-1|", "00 00 00 00 00 00 80 01 00 00");
    row("start -32768", "0|0|0||-32768|0", "");
    row("start 32768", "0|0|0||0|32768", "");
    row("start beyond 32 bits", "0|0|0||3e9|0", "");
}

void TstChannelTable::encodesChannel()
{
    QFETCH(QString, row);
    QFETCH(QByteArray, block);
    const auto b = encodeChannel(texts(row));
    QCOMPARE(b.value_or(QByteArray()).toHex(' '), block.toHex(' '));

    ChannelTable t = startTable();
    t[6] = texts(row);
    int failed = -1;
    const auto all = encodeTable(t, &failed);
    QCOMPARE(all.has_value(), b.has_value());
    if (all)
        QCOMPARE(all->mid(60, 10), *b);
    else
        QCOMPARE(failed, 6);
}

void TstChannelTable::decodesChannel_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("expected");   // upper empty: cannot be shown
    const auto row = [](const char *name, const char *hex, const char *line) {
        QTest::newRow(name) << QByteArray::fromHex(hex) << QString::fromUtf8(line);
    };
    row("mixed", "83 E8 00 0A 02 99 80 01 7F FF", "-1000|-990|2|固定开|-1|32767");
    row("negative lower", "80 64 00 C8 00 01 00 00 00 00", "-100|100|0|大于|0|0");
    row("negative zero", "80 00 00 00 00 02 80 00 80 00", "0|0|0|小于|0|0");
    row("most negative", "FF FF 7F FF 00 03 FF FF 00 00", "-32767|0|0|等于|-32767|0");
    row("upper at 32767", "7F FF 00 00 03 04 00 00 00 00", "32767|32767|3|范围内|0|0");
    row("upper at 32768", "7F FF 00 01 00 05 00 00 00 00", "32767||0|范围外|0|0");
    row("span high bit", "FF FF 80 00 00 00 00 00 00 00", "-32767||0|固定关|0|0");
    row("unknown formula", "00 00 00 01 00 06 00 00 00 00", "0|1|0|固定关|0|0");
}

void TstChannelTable::decodesChannel()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, expected);
    const DecodedChannel d = decodeChannel(block.constData());
    QCOMPARE(d.texts, texts(expected));
    QCOMPARE(d.upperValid, !d.texts.upper.isEmpty());
}

// gain = (upper - lower) * 40000 / (high - low); offset = lower - low * gain / 40000
void TstChannelTable::smartSetting_data()
{
    QTest::addColumn<int>("lowRaw");
    QTest::addColumn<int>("highRaw");
    QTest::addColumn<QString>("limits");
    QTest::addColumn<QString>("expected");   // "gain offset", empty: refused
    QTest::newRow("plain") << 1000 << 5000 << "0 1000" << "10000 -250";
    QTest::newRow("lower moves offset") << 1000 << 5000 << "100 1100" << "10000 -150";
    QTest::newRow("largest gain") << 0 << 40000 << "0 32767" << "32767 0";
    QTest::newRow("gain too large") << 0 << 40000 << "0 32768" << "";
    QTest::newRow("readings one apart") << 1000 << 1001 << "0 1000" << "";
    QTest::newRow("equal readings") << 3000 << 3000 << "0 1000" << "";
    QTest::newRow("both zero") << 0 << 0 << "0 1000" << "";
    QTest::newRow("high below low") << 5000 << 1000 << "0 1000" << "";
    QTest::newRow("span 53687") << 0 << 107374 << "-20000 33687" << "20000 -20000";
    QTest::newRow("span 53688 overflows") << 0 << 107374 << "-20000 33688" << "";
    QTest::newRow("offset too small") << 1000 << 5000 << "-32767 -31767" << "";
}

void TstChannelTable::smartSetting()
{
    QFETCH(int, lowRaw);
    QFETCH(int, highRaw);
    QFETCH(QString, limits);
    QFETCH(QString, expected);
    ChannelTexts row = startTexts();
    row.lower = limits.section(QLatin1Char(' '), 0, 0);
    row.upper = limits.section(QLatin1Char(' '), 1, 1);
    const auto r = computeSmartSetting(lowRaw, highRaw, row);
    QCOMPARE(r ? QStringLiteral("%1 %2").arg(r->gain).arg(r->offset) : QString(""), expected);
}

void TstChannelTable::smartSettingPayload()
{
    const auto p = vorn::smartSettingPayload(2, 1000, 5000, startTexts());
    QCOMPARE(p.value_or(QByteArray()).toHex(' '), QByteArray("02 80 fa 27 10 01 00 00 00 03 e8"));
    QVERIFY(!vorn::smartSettingPayload(10, 1000, 5000, startTexts()));
    QVERIFY(!vorn::smartSettingPayload(-1, 1000, 5000, startTexts()));
    QVERIFY(!vorn::smartSettingPayload(2, 1000, 1000, startTexts()));
    QVERIFY(!vorn::smartSettingPayload(2, 1000, 5000, texts("0|1000|1||0|-32768")));
}

// Steps: "arm <point> <channel>" or "reply" (the k-th reply carries
// k * 1000 + i for channel i). The result lists the readings taken and what
// is left armed.
void TstChannelTable::capturesReadings_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("result");
    const QString idle = QStringLiteral("point 2 channel 10");
    QTest::newRow("nothing armed at start") << QStringList{"reply"} << idle;
    QTest::newRow("low point") << QStringList{"arm 0 3", "reply"} << "low3=1003 " + idle;
    QTest::newRow("re-armed") << QStringList{"arm 0 2", "arm 1 5", "reply"} << "high5=1005 " + idle;
    QTest::newRow("no point, a channel") << QStringList{"arm 2 3", "reply"} << idle;
    QTest::newRow("later replies") << QStringList{"arm 0 3", "reply", "reply"} << "low3=1003 " + idle;
    QTest::newRow("both points") << QStringList{"arm 0 4", "reply", "arm 1 4", "reply"}
                                 << "low4=1004 high4=2004 " + idle;
    QTest::newRow("armed, no reply yet") << QStringList{"arm 1 6"} << "point 1 channel 6";
}

void TstChannelTable::capturesReadings()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, result);
    CaptureState s;
    int replies = 0;
    for (const QString &step : steps) {
        const QStringList w = step.split(QLatin1Char(' '));
        if (w[0] == QLatin1String("arm")) {
            s.arm(w[1].toInt(), w[2].toInt());
            continue;
        }
        ++replies;
        std::array<int, kChannels> raw;
        for (int i = 0; i < kChannels; ++i)
            raw[i] = replies * 1000 + i;
        s.apply(raw);
    }
    QStringList seen;
    for (int i = 0; i < kChannels; ++i)
        if (s.lowRaw[i])
            seen << QStringLiteral("low%1=%2").arg(i).arg(s.lowRaw[i]);
    for (int i = 0; i < kChannels; ++i)
        if (s.highRaw[i])
            seen << QStringLiteral("high%1=%2").arg(i).arg(s.highRaw[i]);
    seen << QStringLiteral("point %1 channel %2").arg(s.capturePoint).arg(s.captureChannel);
    QCOMPARE(seen.join(QLatin1Char(' ')), result);
}

QTEST_GUILESS_MAIN(TstChannelTable)
#include "tst_channeltable.moc"
