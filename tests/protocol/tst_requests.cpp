// Display and housekeeping requests: reading a byte from a text, the payloads
// and the frames they travel in.

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

void TstRequests::otherPayloads()
{
    QCOMPARE(showNumberPayload({{46, 1}, QByteArray("\1\2\3\4")})->toHex(' '), QByteArray("2e 01 01 02 03 04"));
    QCOMPARE(showNumberPayload({{0, 255}, {}})->toHex(' '), QByteArray("00 ff"));
    int bad = -1;
    QVERIFY(!showNumberPayload({{46, 1}, QByteArray("\1\2\12\4")}, &bad));
    QCOMPARE(bad, 2);
    QVERIFY(!showNumberPayload({{46, 1}, QByteArray("\xff")}));
    QCOMPARE(showCodePayload({{0, 2}, 255, 4}).toHex(' '), QByteArray("00 02 ff 04"));

    QCOMPARE(clockPayload(QDateTime(QDate(2000, 1, 1), QTime(0, 0))).toHex(' '), QByteArray("00 01 01 00 00 00"));
    QCOMPARE(clockPayload(QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59))).toHex(' '),
             QByteArray("63 0c 1f 17 3b 3b"));

    QCOMPARE(changeNumberPayload(255, 0).toHex(' '), QByteArray("ff 00"));
}

void TstRequests::frames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("clock to device 1")
        << buildFrame(1, cmd::Clock, clockPayload(QDateTime(QDate(2026, 12, 6), QTime(8, 15, 27))))
        << QByteArray::fromHex("02 00 0E 01 EE 20 1A 0C 06 08 0F 1B CD 03");
    QTest::newRow("show number")
        << buildFrame(kBroadcast, cmd::ShowNumber, *showNumberPayload({{46, 1}, QByteArray("\1\2\3\4")}))
        << QByteArray::fromHex("02 00 0E FF EE 23 2E 01 01 02 03 04 17 03");
    QTest::newRow("show number, no digits")
        << buildFrame(kBroadcast, cmd::ShowNumber, *showNumberPayload({{46, 1}, {}}))
        << QByteArray::fromHex("02 00 0A FF EE 23 2E 01 17 03");
    QTest::newRow("show code")
        << buildFrame(kBroadcast, cmd::ShowCode, showCodePayload({{46, 1}, 1, 1}))
        << QByteArray::fromHex("02 00 0C FF EE 24 2E 01 01 01 16 03");
    QTest::newRow("change number")
        << buildFrame(kBroadcast, cmd::SetNumber, changeNumberPayload(5, 40))
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
