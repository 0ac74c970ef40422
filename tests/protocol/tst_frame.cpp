// Command frames as they go out, and the check byte they and the replies carry.

#include "protocol/frame.h"
#include "protocol/splitter.h"

#include <QTest>

using namespace vorn;

namespace {

QByteArray hex(const QByteArray &h) { return QByteArray::fromHex(h); }

}  // namespace

class TstFrame : public QObject
{
    Q_OBJECT
private slots:
    void buildsCommandFrames_data();
    void buildsCommandFrames();
    void envelopeHoldsForAnySize();
    void checkByte_data();
    void checkByte();
};

void TstFrame::buildsCommandFrames_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("expected");
    const auto row = [](const char *name, int address, int code, const char *payload, const char *frame) {
        QTest::newRow(name) << address << code << hex(payload) << hex(frame);
    };
    row("raw feedback to all", 0xFF, cmd::Feedback, "01", "02 00 09 FF EE 40 01 59 03");
    row("power on", 1, cmd::Power, "01", "02 00 09 01 EE 12 01 F5 03");
    row("power off", 1, cmd::Power, "00", "02 00 09 01 EE 12 00 F4 03");
    row("connection test", 0xFF, cmd::Discover, "FF", "02 00 09 FF EE 21 FF C6 03");
    row("feedback off", 1, cmd::Feedback, "00", "02 00 09 01 EE 40 00 A6 03");
    row("feedback raw", 1, cmd::Feedback, "01", "02 00 09 01 EE 40 01 A7 03");
    row("feedback records", 1, cmd::Feedback, "02", "02 00 09 01 EE 40 02 A4 03");
    row("display mode 0", 1, cmd::DisplayMode, "00", "02 00 09 01 EE 41 00 A7 03");
    row("display mode 1", 1, cmd::DisplayMode, "01", "02 00 09 01 EE 41 01 A6 03");
    row("display mode 2", 1, cmd::DisplayMode, "02", "02 00 09 01 EE 41 02 A5 03");
    row("read back", 0xFF, cmd::ReadBack, "00", "02 00 09 FF EE 32 00 2A 03");
    row("change number", kBroadcast, cmd::SetNumber, "05 28", "02 00 0A FF EE 94 05 28 A2 03");
}

void TstFrame::buildsCommandFrames()
{
    QFETCH(int, address);
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);
    const QByteArray f = buildFrame(quint8(address), quint8(code), payload);
    QCOMPARE(f.toHex(' '), expected.toHex(' '));
    QVERIFY(checkFrame(f, FrameLayout::Command).isFrame());
}

void TstFrame::envelopeHoldsForAnySize()
{
    for (int size : {1, 100, 247, 300}) {   // 300: the length needs its high byte
        QByteArray payload(size, '\0');
        for (int i = 0; i < size; ++i)
            payload[i] = char(i * 37 + 11);
        const QByteArray f = buildFrame(0x07, 0x31, payload);
        const int n = size + 8;
        QCOMPARE(f.size(), n);
        QCOMPARE(quint8(f[0]), quint8(0x02));
        QCOMPARE(quint8(f[1]) * 256 + quint8(f[2]), n);
        QCOMPARE(f.mid(3, 3), QByteArray("\x07\xEE\x31"));
        QCOMPARE(f.mid(6, size), payload);
        QCOMPARE(quint8(f[n - 1]), quint8(0x03));
        quint8 x = 0;
        for (int i = 1; i <= n - 2; ++i)
            x ^= quint8(f[i]);
        QCOMPARE(x, quint8(0));
        QVERIFY(checkFrame(f, FrameLayout::Command).isFrame());
        QVERIFY(!checkFrame(f, FrameLayout::Reply).isFrame());   // byte 3 is the address, not the marker
        QByteArray g = f;
        g[n - 2] = char(g[n - 2] ^ 1);
        QCOMPARE(checkFrame(g, FrameLayout::Command).flaw, Flaw::CheckByte);
    }
}

void TstFrame::checkByte_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("check");
    // The byte before the end byte of frames the device sends and takes.
    QTest::newRow("discovery reply") << hex("02 00 0A EE 00 21 0C 04 CD 03") << 0xCD;
    QTest::newRow("any byte 4") << hex("02 00 0A EE 55 21 0C 04 98 03") << 0x98;
    QTest::newRow("raw values") << hex("02 00 1C EE 00 40" + QByteArray("0064").repeated(10) + "B2 03") << 0xB2;
    QTest::newRow("smart setting") << hex("02 00 13 FF EE 30 02 80 FA 27 10 01 00 00 00 03 E8 97 03") << 0x97;
    // Neither the start byte nor the check and end bytes count.
    QTest::newRow("start, check and end ignored") << hex("FF 00 09 01 EE 12 01 00 FF") << 0xF5;
    QTest::newRow("the length's high byte counts") << hex("02 01 09 01 EE 12 01 00 03") << 0xF4;
}

void TstFrame::checkByte()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, check);
    QCOMPARE(int(vorn::checkByte(frame)), check);
}

QTEST_GUILESS_MAIN(TstFrame)
#include "tst_frame.moc"
