// GBK conversion: the bytes of the formula names, refusals in both
// directions, and a build without any converter.

#include "protocol/gbk.h"
#include "nogbkconverter.h"

#include <QTest>

using namespace vorn;

class TstGbk : public QObject
{
    Q_OBJECT
private slots:
    void roundTrips_data();
    void roundTrips();
    void refusesText_data();
    void refusesText();
    void refusesBytes_data();
    void refusesBytes();
    void missingConverter();
};

void TstGbk::roundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("固定关") << QStringLiteral("固定关") << QByteArray("B9 CC B6 A8 B9 D8");
    QTest::newRow("固定开") << QStringLiteral("固定开") << QByteArray("B9 CC B6 A8 BF AA");
    QTest::newRow("大于") << QStringLiteral("大于") << QByteArray("B4 F3 D3 DA");
    QTest::newRow("小于") << QStringLiteral("小于") << QByteArray("D0 A1 D3 DA");
    QTest::newRow("等于") << QStringLiteral("等于") << QByteArray("B5 C8 D3 DA");
    QTest::newRow("范围内") << QStringLiteral("范围内") << QByteArray("B7 B6 CE A7 C4 DA");
    QTest::newRow("范围外") << QStringLiteral("范围外") << QByteArray("B7 B6 CE A7 CD E2");
    QTest::newRow("digits, sign, blanks") << QStringLiteral("-20 1") << QByteArray("2D 32 30 20 31");
    QTest::newRow("mixed") << QStringLiteral("1大于 ") << QByteArray("31 B4 F3 D3 DA 20");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TstGbk::roundTrips()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, hex);
    const QByteArray bytes = QByteArray::fromHex(hex);
    QString why;
    const auto encoded = toGbk(text, &why);
    QVERIFY2(encoded, qPrintable(why));
    QCOMPARE(encoded->toHex(' ').toUpper(), hex);
    const auto decoded = fromGbk(bytes, &why);
    QVERIFY2(decoded, qPrintable(why));
    QCOMPARE(*decoded, text);
}

void TstGbk::refusesText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named");   // what the reason must point at
    QTest::newRow("Hangul") << QStringLiteral("固定한") << QStringLiteral("U+D55C");
    QTest::newRow("emoji") << QStringLiteral("1😀") << QStringLiteral("U+1F600");
    QTest::newRow("no-break space") << QStringLiteral("10\u00A0") << QStringLiteral("U+00A0");
    QTest::newRow("high surrogate at the end") << QStringLiteral("1") + QChar(0xD83D) << QStringLiteral("U+D83D");
    QTest::newRow("low surrogate alone") << QChar(0xDE00) + QStringLiteral("1") << QStringLiteral("U+DE00");
}

void TstGbk::refusesText()
{
    QFETCH(QString, text);
    QFETCH(QString, named);
    QString why;
    const auto bytes = toGbk(text, &why);
    QVERIFY2(!bytes, bytes ? bytes->toHex(' ').constData() : "");
    QVERIFY2(why.contains(QLatin1String("GBK")) && why.contains(named), qPrintable(why));
}

void TstGbk::refusesBytes_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("lead byte at the end") << QByteArray("31 32 B9");
    QTest::newRow("lead byte alone") << QByteArray("B9");
    QTest::newRow("lead byte, then a blank") << QByteArray("B9 20 31");
    QTest::newRow("lead byte, then a line feed") << QByteArray("B9 0A");
    QTest::newRow("lead byte, then FF") << QByteArray("B9 FF");
    QTest::newRow("lead byte, then a quote") << QByteArray("B9 22");
}

void TstGbk::refusesBytes()
{
    QFETCH(QByteArray, hex);
    QString why;
    const auto text = fromGbk(QByteArray::fromHex(hex), &why);
    QVERIFY2(!text, text ? qPrintable(*text) : "");
    QVERIFY2(why.contains(QLatin1String("GBK")), qPrintable(why));
}

void TstGbk::missingConverter()
{
    const QByteArray bytes = QByteArray::fromHex("B9 CC B6 A8 B9 D8");
    {
        NoGbkConverter none;
        QCOMPARE(gbkConverter(), GbkConverter::Missing);
        QString why;
        QVERIFY(!toGbk(QStringLiteral("固定关"), &why));
        QVERIFY2(why.contains(QLatin1String("GBK")) && why.contains(QStringLiteral("转换器")), qPrintable(why));
        why.clear();
        QVERIFY(!fromGbk(bytes, &why));
        QVERIFY2(why.contains(QLatin1String("GBK")) && why.contains(QStringLiteral("转换器")), qPrintable(why));
    }
    QVERIFY(gbkConverter() != GbkConverter::Missing);
    QCOMPARE(fromGbk(bytes).value_or(QString()), QStringLiteral("固定关"));
}

QTEST_GUILESS_MAIN(TstGbk)
#include "tst_gbk.moc"
