// Display and housekeeping requests: reading their fields, their payloads and
// the frames they travel in.

#include "protocol/requests.h"
#include "protocol/frame.h"

#include <QTest>

using namespace vorn;

class TstRequests : public QObject
{
    Q_OBJECT
private slots:
    void readsBytes_data();
    void readsBytes();
    void showNumber_data();
    void showNumber();
    void otherPayloads();
    void frames_data();
    void frames();
};

void TstRequests::readsBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("strict");    // -1: refused
    QTest::addColumn<int>("leading");   // -1: refused
    QTest::newRow("plain") << "46" << 46 << 46;
    QTest::newRow("blanks around") << " 7 " << 7 << 7;
    QTest::newRow("half to even") << "2.5" << 2 << 2;
    QTest::newRow("rounds into range") << "255.4" << 255 << 255;
    QTest::newRow("256") << "256" << -1 << -1;
    QTest::newRow("300") << "300" << -1 << -1;
    QTest::newRow("negative") << "-1" << -1 << -1;
    QTest::newRow("trailing letter") << "4a" << -1 << 4;
    QTest::newRow("trailing letters") << "4abc" << -1 << 4;
    QTest::newRow("empty") << "" << -1 << 0;
    QTest::newRow("letters") << "abc" << -1 << 0;
    QTest::newRow("blank inside") << "1 2" << -1 << 12;
}

void TstRequests::readsBytes()
{
    QFETCH(QString, text);
    QFETCH(int, strict);
    QFETCH(int, leading);
    QCOMPARE(readStrictByte(text).value_or(-1), strict);
    QCOMPARE(readLeadingByte(text).value_or(-1), leading);
}

void TstRequests::showNumber_data()
{
    QTest::addColumn<QStringList>("fields");   // start, port, count, number
    QTest::addColumn<QString>("expected");     // payload in hex, or the field named in the error
    const auto row = [](const char *name, QStringList f, const char *expected) {
        QTest::newRow(name) << f << QString::fromUtf8(expected);
    };
    row("filled with zeros", {"46", "1", "4", "7"}, "2e 01 07 00 00 00");
    row("cut to the count", {"46", "1", "4", "12345"}, "2e 01 01 02 03 04");
    row("empty number", {"46", "1", "4", ""}, "2e 01 00 00 00 00");
    row("count 0", {"46", "1", "0", "12345"}, "2e 01");
    row("count empty", {"46", "1", "", "12345"}, "2e 01");
    row("count letters", {"46", "1", "ab", "12345"}, "2e 01");
    row("only the first digits read", {"46", "1", "2x", "12a4"}, "2e 01 01 02");
    row("count 10, empty number", {"0", "255", "10", ""}, "00 ff 00 00 00 00 00 00 00 00 00 00");
    row("count = length + 10", {"46", "1", "12", "98"}, "2e 01 09 08 00 00 00 00 00 00 00 00 00 00");
    row("count 11, empty number", {"46", "1", "11", ""}, "数据位数");
    row("count beyond length + 10", {"46", "1", "13", "98"}, "数据位数");
    row("count 300", {"46", "1", "300", "1"}, "数据位数");
    row("count negative", {"46", "1", "-1", "1"}, "数据位数");
    row("letter among the digits", {"46", "1", "4", "12a4"}, "显示数字");
    row("start 256", {"256", "1", "4", "1"}, "位置起点");
    row("start empty", {"", "1", "4", "1"}, "位置起点");
    row("port with junk", {"46", "1x", "4", "1"}, "显示端口");
    row("port negative", {"46", "-1", "4", "1"}, "显示端口");
}

void TstRequests::showNumber()
{
    QFETCH(QStringList, fields);
    QFETCH(QString, expected);
    QString why;
    const auto p = showNumberPayload(fields[0], fields[1], fields[2], fields[3], &why);
    if (p)
        QCOMPARE(QString::fromLatin1(p->toHex(' ')), expected);
    else
        QVERIFY2(why.contains(expected), qPrintable(why));
}

void TstRequests::otherPayloads()
{
    QCOMPARE(showCodePayload(" 0 ", "2.5", "255", "3.5")->toHex(' '), QByteArray("00 02 ff 04"));
    QVERIFY(!showCodePayload("46", "1", "256", "1"));
    QVERIFY(!showCodePayload("46", "1", "1", "x"));
    QVERIFY(!showCodePayload("46", "1", "", "1"));
    QVERIFY(!showCodePayload("4a", "1", "1", "1"));

    QCOMPARE(clockPayload(QDateTime(QDate(2000, 1, 1), QTime(0, 0))).toHex(' '), QByteArray("00 01 01 00 00 00"));
    QCOMPARE(clockPayload(QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59))).toHex(' '),
             QByteArray("63 0c 1f 17 3b 3b"));

    QCOMPARE(changeNumberPayload(255, " 0 ")->toHex(' '), QByteArray("ff 00"));
    for (const char *bad : {"256", "abc", ""})
        QVERIFY2(!changeNumberPayload(5, bad), bad);
}

void TstRequests::frames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("clock to device 1")
        << buildFrame(1, cmd::Clock, clockPayload(QDateTime(QDate(2026, 12, 6), QTime(8, 15, 27))))
        << QByteArray::fromHex("02 00 0E 01 EE 20 1A 0C 06 08 0F 1B CD 03");
    QTest::newRow("show number")
        << buildFrame(kBroadcast, cmd::ShowNumber, *showNumberPayload("46", "1", "4", "12345"))
        << QByteArray::fromHex("02 00 0E FF EE 23 2E 01 01 02 03 04 17 03");
    QTest::newRow("show number, no digits")
        << buildFrame(kBroadcast, cmd::ShowNumber, *showNumberPayload("46", "1", "0", "12345"))
        << QByteArray::fromHex("02 00 0A FF EE 23 2E 01 17 03");
    QTest::newRow("show code")
        << buildFrame(kBroadcast, cmd::ShowCode, *showCodePayload("46", "1", "1", "1"))
        << QByteArray::fromHex("02 00 0C FF EE 24 2E 01 01 01 16 03");
    QTest::newRow("change number")
        << buildFrame(kBroadcast, cmd::SetNumber, *changeNumberPayload(5, "40"))
        << QByteArray::fromHex("02 00 0A FF EE 94 05 28 A2 03");
}

void TstRequests::frames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
}

QTEST_GUILESS_MAIN(TstRequests)
#include "tst_requests.moc"
