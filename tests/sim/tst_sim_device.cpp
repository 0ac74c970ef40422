// What the simulated device answers, stores and logs for each request, how
// requests are cut out of the byte stream, and which of several devices on
// one line each request reaches.

#include "bus.h"
#include "protocol/channeltable.h"
#include "device.h"
#include "protocol/frame.h"
#include "protocol/splitter.h"

#include <QTest>

using rt8sim::Bus;
using rt8sim::Device;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

QByteArray hex(const char *h) { return QByteArray::fromHex(h); }

// The block every channel starts with.
const QByteArray kStartBlock = hex("000003E8010000" "0003E8");
const QByteArray kDiscover = hex("020009FFEE21FFC603");
const QByteArray kReadBack = hex("020009FFEE32002A03");

QByteArray times(const QByteArray &b, int n) { return b.repeated(n); }

QByteArray frame(quint8 address, quint8 code, const QByteArray &payload)
{
    return vorn::buildFrame(address, code, payload);
}

QByteArray block(int lower, int span, int dp, quint8 formula = 0x00, int s1 = 0, int s2 = 1000)
{
    return vorn::signMagnitudeWord(lower) + vorn::unsignedWord(span) + char(dp) + char(formula)
        + vorn::signMagnitudeWord(s1) + vorn::signMagnitudeWord(s2);
}

QByteArray smartPayload(int ch, int offset, int gain, int dp, quint8 formula = 0x00, int s1 = 0, int s2 = 1000)
{
    return char(ch) + vorn::signMagnitudeWord(offset) + vorn::unsignedWord(gain) + char(dp) + char(formula)
        + vorn::signMagnitudeWord(s1) + vorn::signMagnitudeWord(s2);
}

int rawOf(const QByteArray &reply, int ch) { return quint8(reply[6 + 2 * ch]) * 256 + quint8(reply[7 + 2 * ch]); }

// One device alone on its line.
struct Bench
{
    explicit Bench(quint8 number = 1, quint8 digits = 40) : device(number, digits), bus({&device})
    {
        QObject::connect(&device, &Device::send, [this](const QByteArray &b) { sent << b; });
        QObject::connect(&bus, &Bus::log, [this](const QString &l) { logs << l; });
    }
    void in(const QByteArray &bytes, qint64 t = 0) { bus.receive(bytes, t); }
    Device device;
    Bus bus;
    QList<QByteArray> sent;
    QStringList logs;
};

// Devices 1, 5 and 9 with 40, 8 and 12 digits on one line; `sent` holds
// what all of them sent, in order.
struct SharedLine
{
    SharedLine()
    {
        for (Device *d : devices)
            QObject::connect(d, &Device::send, [this](const QByteArray &b) { sent << b; });
        QObject::connect(&bus, &Bus::log, [this](const QString &l) { logs << l; });
    }
    void in(const QByteArray &bytes) { bus.receive(bytes, 0); }
    Device one{1, 40}, five{5, 8}, nine{9, 12};
    QList<Device *> devices{&one, &five, &nine};
    Bus bus{devices};
    QList<QByteArray> sent;
    QStringList logs;
};

}  // namespace

class TestSimDevice : public QObject
{
    Q_OBJECT
private slots:
    // Replies byte for byte, check bytes worked out by hand.
    void replies_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        // 00^0A^EE^0C^21^0C^04 = C1
        QTest::newRow("discover 12/4 to 255") << 12 << 4 << kDiscover << hex("02000AEE0C210C04C103");
        QTest::newRow("discover 12/4 to 12") << 12 << 4 << hex("0200090CEE210CC603") << hex("02000AEE0C210C04C103");
        // 00^0A^EE^01^21^01^28 = ED
        QTest::newRow("discover 1/40 to 1") << 1 << 40 << hex("02000901EE2101C603") << hex("02000AEE01210128ED03");
        // 00^0A^EE^FE^21^FE^FF = 3A
        QTest::newRow("discover 254/255") << 254 << 255 << hex("020009FEEE21FEC603") << hex("02000AEEFE21FEFF3A03");
        // 00^6C^EE^01^32 = B1; the ten start blocks cancel out
        QTest::newRow("start read-back from 1") << 1 << 40 << kReadBack << hex("02006CEE0132") + times(kStartBlock, 10) + hex("B103");
        // 00^6C^EE^0C^32 = BC
        QTest::newRow("start read-back from 12") << 12 << 4 << hex("0200090CEE3200D903")
                                                 << hex("02006CEE0C32") + times(kStartBlock, 10) + hex("BC03");
    }

    void replies()
    {
        QFETCH(int, number);
        QFETCH(int, digits);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QVERIFY(vorn::checkFrame(request, vorn::FrameLayout::Command).isFrame());
        Bench b{quint8(number), quint8(digits)};
        b.in(request);
        QCOMPARE(b.sent.size(), 1);
        QCOMPARE(b.sent[0].toHex(' '), reply.toHex(' '));
        QCOMPARE(reply, vorn::buildReply(quint8(reply[5]), reply.mid(6, reply.size() - 8), quint8(number)));
    }

    void downloadThenReadBack_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QByteArray mixed;
        for (int ch = 0; ch < 10; ++ch)
            mixed += block(ch % 2 ? -ch * 100 : ch * 321, 32767 - ch, ch % 4, quint8(ch < 6 ? ch : 0x99), -ch, ch * 7);
        QTest::newRow("mixed, negatives") << mixed;
        QTest::newRow("payload full of 02 and 03") << times(hex("0203020302030203EE03"), 10);
    }

    void downloadThenReadBack()
    {
        QFETCH(QByteArray, payload);
        Bench b(7);
        b.in(frame(7, 0x31, payload));
        QVERIFY(b.sent.isEmpty());
        b.in(kReadBack);
        QCOMPARE(b.sent.size(), 1);
        QCOMPARE(b.sent[0], vorn::buildReply(0x32, payload, 7));
    }

    // After 0x94 the device answers under its new number only.
    void renumber_data()
    {
        QTest::addColumn<QByteArray>("setRequest");
        QTest::addColumn<int>("newNumber");
        QTest::addColumn<int>("newDigits");
        QTest::newRow("worked example 5/40") << hex("02000AFFEE940528A203") << 5 << 40;
        QTest::newRow("sent to own number") << frame(1, 0x94, hex("2008")) << 32 << 8;
    }

    void renumber()
    {
        QFETCH(QByteArray, setRequest);
        QFETCH(int, newNumber);
        QFETCH(int, newDigits);
        Bench b;
        b.in(setRequest);
        b.in(frame(1, 0x21, hex("01")));   // old number: silence
        QVERIFY(b.sent.isEmpty());
        b.in(frame(quint8(newNumber), 0x21, QByteArray(1, char(newNumber))));
        QCOMPARE(b.sent.size(), 1);
        QCOMPARE(b.sent[0], vorn::buildReply(0x21, QByteArray(1, char(newNumber)) + char(newDigits), quint8(newNumber)));
    }

    void otherAddressIgnored_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("address");
        QTest::newRow("1 vs 2") << 1 << 2;
        QTest::newRow("1 vs 0") << 1 << 0;
        QTest::newRow("0 vs 254") << 0 << 254;
    }

    void otherAddressIgnored()
    {
        QFETCH(int, number);
        QFETCH(int, address);
        Bench b{quint8(number)};
        const QByteArray before = b.device.blocks();
        b.in(frame(quint8(address), 0x21, QByteArray(1, char(address))));
        b.in(frame(quint8(address), 0x31, QByteArray(100, '\x11')));
        b.in(frame(quint8(address), 0x94, hex("0928")));
        QVERIFY(b.sent.isEmpty());
        QCOMPARE(b.device.blocks(), before);
        QCOMPARE(int(b.device.number()), number);
        b.in(kDiscover);   // the broadcast address still reaches it
        QCOMPARE(b.sent.size(), 1);
    }

    // The byte stream: split, glued, damaged. Every good request is answered
    // exactly once; the first thing logged names what was thrown away.
    void stream_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<int>("replies");
        QTest::addColumn<QString>("firstLog");
        const QByteArray &d = kDiscover;
        const QByteArray &r = kReadBack;
        const QString ok = "discover -> number 1 digits 40";
        QTest::newRow("split 1+8") << QList<QByteArray>{d.left(1), d.mid(1)} << 1 << ok;
        QTest::newRow("split 5+4") << QList<QByteArray>{d.left(5), d.mid(5)} << 1 << ok;
        QTest::newRow("three glued") << QList<QByteArray>{d + r + d} << 3 << ok;
        QTest::newRow("glued across chunks") << QList<QByteArray>{d + r.left(2), r.mid(2) + d.left(7), d.mid(7)} << 3 << ok;
        QTest::newRow("garbage around") << QList<QByteArray>{hex("FF00") + d + hex("0355")} << 1 << "garbage: FF 00";
        QTest::newRow("bad check byte") << QList<QByteArray>{hex("020009FFEE21FFC703") + d} << 1
                                        << "bad frame: 02 00 09 FF EE 21 FF C7 03";
        QTest::newRow("bad end byte") << QList<QByteArray>{hex("020009FFEE21FFC604") + d} << 1
                                      << "bad frame: 02 00 09 FF EE 21 FF C6 04";
        QTest::newRow("length field 8") << QList<QByteArray>{hex("020008FFEE21FFC703") + d} << 1
                                        << "bad frame: 02 00 08 FF EE 21 FF C7 03";
        // One too long: it takes the next frame's 02 as its end byte.
        QTest::newRow("length field one long") << QList<QByteArray>{hex("02000AFFEE21FFC503") + d} << 1
                                               << "bad frame: 02 00 0A FF EE 21 FF C5 03";
        QTest::newRow("huge length field") << QList<QByteArray>{hex("024009FFEE21FFC603") + d} << 1
                                           << "bad frame: 02 40 09 FF EE 21 FF C6 03";
        QTest::newRow("no marker") << QList<QByteArray>{hex("020009FFEF21FFC703") + d} << 1
                                   << "bad frame: 02 00 09 FF EF 21 FF C7 03";
        QTest::newRow("reply envelope") << QList<QByteArray>{hex("02000AEE01210128ED03")} << 0
                                        << "bad frame: 02 00 0A EE 01 21 01 28 ED 03";
        QTest::newRow("dropped byte") << QList<QByteArray>{d.left(5) + d.mid(6) + r} << 1
                                      << "bad frame: 02 00 09 FF EE FF C6 03";
        // The rest never comes: given up after a while, the frame behind is found.
        QTest::newRow("stale header") << QList<QByteArray>{hex("0200F0FFEE") + d} << 1 << "bad frame: 02 00 F0 FF EE";
    }

    void stream()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(int, replies);
        QFETCH(QString, firstLog);
        Bench b;
        qint64 t = 0;
        for (const auto &c : chunks)
            b.in(c, t += 10);
        b.bus.tick(t + rt8sim::FrameReader::kStaleMs - 1);   // not yet
        const int early = int(b.sent.size());
        b.bus.tick(t + rt8sim::FrameReader::kStaleMs);
        QCOMPARE(b.sent.size(), replies);
        QCOMPARE(early, QTest::currentDataTag() == QByteArray("stale header") ? 0 : replies);
        for (const auto &s : b.sent)
            QVERIFY(vorn::checkFrame(s, vorn::FrameLayout::Reply).isFrame());
        QCOMPARE(b.logs.value(0), firstLog);
        QCOMPARE(b.device.blocks(), times(kStartBlock, 10));
    }

    // A 108-byte request cut at every point, with a 02 inside its payload.
    void everySplitPoint()
    {
        QByteArray payload = times(kStartBlock, 10);
        payload[50] = 0x02;
        const QByteArray f = frame(1, 0x31, payload);
        for (int cut = 1; cut < f.size(); ++cut) {
            Bench b;
            b.in(f.left(cut), 0);
            b.in(f.mid(cut), 0);
            QCOMPARE(b.device.blocks(), payload);
            QCOMPARE(b.logs.size(), 1);
        }
    }

    void rawReplyWorkedExample()
    {
        // All held at 100 (00 64): 00^1C^EE^01^40 = B3, the values cancel.
        Bench b;
        for (int ch = 0; ch < 10; ++ch)
            b.device.hold(ch, 100);
        b.in(frame(1, 0x40, hex("01")));
        QCOMPARE(b.device.feedback(), Device::Feedback::Raw);
        const QByteArray expected = hex("02001CEE0140") + times(hex("0064"), 10) + hex("B303");
        QCOMPARE(b.device.streamItem(1234).toHex(' '), expected.toHex(' '));
        b.in(frame(1, 0x40, hex("02")));
        QVERIFY(b.device.streamItem(1234).isEmpty());
    }

    void heldValues_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("value");
        QTest::newRow("ch0 0") << 0 << 0;
        QTest::newRow("ch3 12000") << 3 << 12000;
        QTest::newRow("ch9 65535") << 9 << 65535;
    }

    void heldValues()
    {
        QFETCH(int, channel);
        QFETCH(int, value);
        Bench b(9);
        b.device.hold(channel, value);
        for (qint64 t : {0LL, 5000LL, 30000LL}) {
            const QByteArray r = b.device.rawReply(t);
            QCOMPARE(r.size(), 28);
            QVERIFY(vorn::checkFrame(r.left(28), vorn::FrameLayout::Reply).isFrame());
            QCOMPARE(quint8(r[4]), quint8(9));
            for (int ch = 0; ch < 10; ++ch)
                QCOMPARE(rawOf(r, ch), ch == channel ? value : rt8sim::syntheticRaw(ch, t));
        }
        b.device.release(channel);
        QCOMPARE(rawOf(b.device.rawReply(777), channel), rt8sim::syntheticRaw(channel, 777));
    }

    // Free signals: in range, slow, moving, different per channel.
    void syntheticSignals()
    {
        QSet<int> atOneMoment;
        for (int ch = 0; ch < 10; ++ch) {
            int lo = 65535, hi = 0;
            for (qint64 t = 0; t < 120000; t += 250) {
                const int v = rt8sim::syntheticRaw(ch, t);
                QVERIFY(v >= 0 && v <= 65535);
                QVERIFY(std::abs(v - rt8sim::syntheticRaw(ch, t + 250)) < 6554);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            QVERIFY(hi - lo > 30000);
            atOneMoment.insert(rt8sim::syntheticRaw(ch, 5000));
        }
        QCOMPARE(atOneMoment.size(), 10);
    }

    // Target values before and after a smart setting, as the text record shows them.
    void targets_data()
    {
        QTest::addColumn<QByteArray>("blk");
        QTest::addColumn<QByteArray>("smart");   // empty: none
        QTest::addColumn<int>("raw");
        QTest::addColumn<QString>("text");
        const QByteArray none;
        QTest::newRow("start, raw 0") << kStartBlock << none << 0 << "0.0";
        QTest::newRow("start, raw 65535") << kStartBlock << none << 65535 << "100.0";
        QTest::newRow("start, raw 1000") << kStartBlock << none << 1000 << "1.5";      // 1000000/65535 = 15
        QTest::newRow("start, raw 32768") << kStartBlock << none << 32768 << "50.0";   // 500.007 truncated
        QTest::newRow("lower -500, 2 dp") << block(-500, 1000, 2) << none << 0 << "-5.00";
        QTest::newRow("-5 with 2 dp") << block(-5, 0, 2) << none << 40000 << "-0.05";
        QTest::newRow("0 dp") << block(100, 200, 0) << none << 65535 << "300";
        QTest::newRow("3 dp") << block(0, 32767, 3) << none << 65534 << "32.766";
        QTest::newRow("full range") << block(-32767, 32767, 1) << none << 0 << "-3276.7";
        QTest::newRow("smart raw 1000 -> 0") << kStartBlock << smartPayload(0, -250, 10000, 1) << 1000 << "0.0";
        QTest::newRow("smart raw 5000 -> 1000") << kStartBlock << smartPayload(0, -250, 10000, 1) << 5000 << "100.0";
        QTest::newRow("smart negative") << kStartBlock << smartPayload(0, -250, 10000, 2) << 0 << "-2.50";
        QTest::newRow("smart truncates") << kStartBlock << smartPayload(0, 0, 10000, 1) << 7 << "0.1";
        QTest::newRow("smart largest") << kStartBlock << smartPayload(0, 32767, 32767, 1) << 65535 << "8645.1";
        QTest::newRow("smart ignores lower/span") << block(-900, 5, 3) << smartPayload(0, 3, 20000, 0) << 100 << "53";
    }

    void targets()
    {
        QFETCH(QByteArray, blk);
        QFETCH(QByteArray, smart);
        QFETCH(int, raw);
        QFETCH(QString, text);
        Bench b;
        // The row under test sits on channel 4; the others keep the start block
        // at raw 65535, which shows as 100.0.
        b.in(frame(1, 0x31, times(kStartBlock, 4) + blk + times(kStartBlock, 5)));
        if (!smart.isEmpty()) {
            smart[0] = 4;
            b.in(frame(1, 0x30, smart));
        }
        for (int ch = 0; ch < 10; ++ch)
            b.device.hold(ch, ch == 4 ? raw : 65535);
        b.in(frame(1, 0x40, hex("00")));
        const QString others = "100.0,100.0,100.0,100.0,";
        QCOMPARE(QString::fromLatin1(b.device.streamItem(0)),
                 "N" + others + text + "," + others + "100.0\r\n");
    }

    // A smart setting stores gain and offset and rewrites dp, formula and the
    // start values of that block, nothing else.
    void smartSettingStored_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("tail");   // new bytes 4-9 of the block
        QTest::newRow("ch2 worked") << 2 << hex("0280FA2710010000" "0003E8") << hex("01000000" "03E8");
        QTest::newRow("ch0 max") << 0 << smartPayload(0, 32767, 32767, 3, 0x99, -32767, 32767) << hex("0399FFFF7FFF");
        QTest::newRow("ch9") << 9 << smartPayload(9, 0, 0, 0, 0x05, 12, -12) << hex("0005000C800C");
    }

    void smartSettingStored()
    {
        QFETCH(int, channel);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, tail);
        Bench b;
        QByteArray blocks;
        for (int ch = 0; ch < 10; ++ch)
            blocks += block(-ch, 100 + ch, 2, 0x01, ch, -ch);
        b.in(frame(1, 0x31, blocks));
        b.in(frame(1, 0x30, payload));
        QVERIFY(b.sent.isEmpty());
        QCOMPARE(b.device.smart(channel), (Device::Smart{vorn::decodeSignMagnitude(quint8(payload[1]), quint8(payload[2])),
                                                         quint8(payload[3]) * 256 + quint8(payload[4])}));
        blocks.replace(channel * 10 + 4, 6, tail);
        QCOMPARE(b.device.blocks().toHex(' '), blocks.toHex(' '));
        for (int ch = 0; ch < 10; ++ch)
            QCOMPARE(b.device.smart(ch).has_value(), ch == channel);
    }

    // Wrongly sized requests and impossible channels change nothing.
    void refused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("logStart");
        QTest::newRow("discover 2") << frame(1, 0x21, hex("0101")) << "discover: payload of 2 bytes";
        QTest::newRow("set number 1") << frame(1, 0x94, hex("05")) << "set number: payload of 1 bytes";
        QTest::newRow("download 99") << frame(1, 0x31, QByteArray(99, 1)) << "download: payload of 99 bytes";
        QTest::newRow("smart 10") << frame(1, 0x30, QByteArray(10, 1)) << "smart: payload of 10 bytes";
        QTest::newRow("smart ch10") << frame(1, 0x30, smartPayload(10, 5, 5, 3)) << "smart: no channel 10";
        QTest::newRow("feedback 2") << frame(1, 0x40, hex("0101")) << "feedback: payload of 2 bytes";
        QTest::newRow("feedback mode 7") << frame(1, 0x40, hex("07")) << "feedback: unknown mode 7";
        QTest::newRow("show number 1") << frame(1, 0x23, hex("01")) << "show number: payload of 1 bytes";
        QTest::newRow("power 2") << frame(1, 0x12, hex("02")) << "power: unknown state 2";
        QTest::newRow("clock 5") << frame(1, 0x20, QByteArray(5, 1)) << "clock: payload of 5 bytes";
    }

    void refused()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, logStart);
        Bench b;
        b.in(request);
        QVERIFY(b.sent.isEmpty());
        QCOMPARE(b.device.blocks(), times(kStartBlock, 10));
        QCOMPARE(int(b.device.number()), 1);
        QCOMPARE(b.device.feedback(), Device::Feedback::Off);
        QVERIFY(b.device.powerOn());
        QVERIFY(b.device.clockSetting().isEmpty());
        for (int ch = 0; ch < 10; ++ch)
            QVERIFY(!b.device.smart(ch));
        QCOMPARE(b.logs.size(), 1);
        QVERIFY2(b.logs[0].startsWith(logStart), qPrintable(b.logs[0]));
    }

    void stateRequests()
    {
        Bench b(1, 8);
        b.in(frame(1, 0x12, hex("00")));
        QVERIFY(!b.device.powerOn());
        b.in(frame(1, 0x41, hex("01")));
        QCOMPARE(b.device.displayMode(), Device::DisplayMode::Raw);
        b.in(frame(1, 0x41, hex("03")));   // no such mode
        QCOMPARE(b.device.displayMode(), Device::DisplayMode::Raw);
        b.in(frame(1, 0x23, hex("0201") + hex("01020304")));
        QCOMPARE(b.device.displayPort(1).digits, QByteArray("  1234  "));
        b.in(frame(1, 0x23, hex("0601") + hex("090807")));   // runs past the last digit: clipped
        QCOMPARE(b.device.displayPort(1).digits, QByteArray("  123498"));
        b.in(frame(1, 0x24, hex("03003F06")));
        QCOMPARE(b.device.displayPort(0).codePosition, std::optional<int>(3));
        QCOMPARE(b.device.displayPort(0).code1, quint8(0x06));
        b.in(frame(1, 0x20, hex("1A0C06080F1B")), 1000);
        QCOMPARE(b.device.clockText(1000 + 33000), QStringLiteral("26-12-06 08:16:00"));   // it runs
        b.in(frame(1, 0x20, hex("1A0D20190000")), 0);   // month 13, hour 25: shown, stopped
        QCOMPARE(b.device.clockText(5000), QStringLiteral("26-13-32 25:00:00"));
        QVERIFY(b.sent.isEmpty());
    }

    // One decoded line per request.
    void logLines_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("line");
        QStringList chs;
        for (int ch = 0; ch < 10; ++ch)
            chs << QStringLiteral("ch%1 L=0 span=1000 dp=1 f=0x00 s1=0 s2=1000").arg(ch);
        QByteArray mixed = times(kStartBlock, 10);
        mixed.replace(90, 10, hex("80647FFF03998001" "0002"));
        QTest::newRow("download") << frame(1, 0x31, times(kStartBlock, 10)) << "download " + chs.join(" | ");
        chs[9] = "ch9 L=-100 span=32767 dp=3 f=0x99 s1=-1 s2=2";
        QTest::newRow("download, negatives") << frame(1, 0x31, mixed) << "download " + chs.join(" | ");
        QTest::newRow("set number") << hex("02000AFFEE940528A203") << "set number -> number 5 digits 40";
        QTest::newRow("read-back") << kReadBack << "read-back -> 108 bytes";
        QTest::newRow("smart") << frame(1, 0x30, hex("0280FA2710010000" "0003E8"))
                               << "smart ch2 offset=-250 gain=10000 dp=1 f=0x00 s1=0 s2=1000";
        QTest::newRow("feedback target") << frame(1, 0x40, hex("00")) << "feedback target";
        QTest::newRow("power on") << frame(1, 0x12, hex("01")) << "power on";
        QTest::newRow("clock") << frame(1, 0x20, hex("1A0C06080F1B")) << "clock 26-12-06 08:15:27";
        QTest::newRow("display off") << frame(1, 0x41, hex("02")) << "display mode off";
        QTest::newRow("show number") << frame(1, 0x23, hex("0001010203")) << "show number pos=0 port=1 digits=123";
        QTest::newRow("show code") << frame(1, 0x24, hex("03003F06")) << "show code pos=3 port=0 codes=0x3F 0x06";
        QTest::newRow("other address") << frame(2, 0x21, hex("02")) << "for address 2, not me: 02 00 09 02 EE 21 02 C6 03";
        QTest::newRow("unknown") << frame(1, 0x55, hex("00")) << "unknown request 0x55: 02 00 09 01 EE 55 00 B3 03";
    }

    void logLines()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, line);
        Bench b;
        b.in(request);
        QCOMPARE(b.logs, QStringList{line});
        QCOMPARE(b.sent.size(), quint8(request[5]) == 0x32 ? 1 : 0);   // only the read-back answers
    }

    // Devices 1, 5 and 9 on one line: a request reaches the devices with its
    // number, or all of them for 255, and changes only their state. Their
    // answers go out in the order the devices were given, each logged under
    // its number; a request nobody takes is logged once, for the line.
    void sharedLineAddressing_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<QList<int>>("reached");
        QTest::newRow("to 1") << 1 << QList<int>{1};
        QTest::newRow("to 5") << 5 << QList<int>{5};
        QTest::newRow("to 7, nobody") << 7 << QList<int>{};
        QTest::newRow("to 255, everybody") << 255 << QList<int>{1, 5, 9};
    }

    void sharedLineAddressing()
    {
        QFETCH(int, address);
        QFETCH(QList<int>, reached);
        SharedLine l;
        l.in(frame(quint8(address), 0x31, times(block(-5, 300, 2), 10)));
        l.in(frame(quint8(address), 0x40, hex("01")));
        l.in(frame(quint8(address), 0x21, QByteArray(1, char(address))));
        QByteArray answers;
        for (const Device *d : l.devices)
            if (reached.contains(d->number()))
                answers += vorn::buildReply(0x21, QByteArray(1, char(d->number())) + char(d->digitCount()), d->number());
        QCOMPARE(l.sent.join().toHex(' '), answers.toHex(' '));
        for (const Device *d : l.devices) {
            const bool hit = reached.contains(d->number());
            QCOMPARE(d->blocks() != times(kStartBlock, 10), hit);
            QCOMPARE(d->feedback(), hit ? Device::Feedback::Raw : Device::Feedback::Off);
            QCOMPARE(l.logs.filter(QStringLiteral("[%1] ").arg(d->number())).size(), hit ? 3 : 0);
        }
        QCOMPARE(l.logs.filter(QStringLiteral("for address %1, no such device: 02 ").arg(address)).size(), reached.isEmpty() ? 3 : 0);
        QCOMPARE(l.logs.size(), 3 * std::max<qsizetype>(1, reached.size()));
    }

    // The numbering request (always sent to 255 by the window) renumbers
    // every device it reaches. A number that becomes shared is logged once,
    // and a frame to it is then answered by all who have it, in turn.
    void sharedLineRenumbering_data()
    {
        QTest::addColumn<int>("address");   // of the numbering request
        QTest::addColumn<int>("newNumber");
        QTest::addColumn<QList<int>>("answerDigits");   // of those that answer to newNumber now
        QTest::addColumn<QStringList>("logged");
        QTest::newRow("to 255: all become 7") << 255 << 7 << QList<int>{16, 16, 16}
            << QStringList{"[1] set number -> number 7 digits 16", "[5] set number -> number 7 digits 16",
                           "[9] set number -> number 7 digits 16", "3 devices now have number 7 and answer together"};
        QTest::newRow("to 5: onto number 1") << 5 << 1 << QList<int>{40, 16}
            << QStringList{"[5] set number -> number 1 digits 16", "2 devices now have number 1 and answer together"};
        QTest::newRow("to 5: a free number") << 5 << 3 << QList<int>{16} << QStringList{"[5] set number -> number 3 digits 16"};
    }

    void sharedLineRenumbering()
    {
        QFETCH(int, address);
        QFETCH(int, newNumber);
        QFETCH(QList<int>, answerDigits);
        QFETCH(QStringList, logged);
        SharedLine l;
        l.in(frame(quint8(address), 0x94, QByteArray(1, char(newNumber)) + char(16)));
        QCOMPARE(l.logs, logged);
        QByteArray answers;
        for (int digits : answerDigits)
            answers += vorn::buildReply(0x21, QByteArray(1, char(newNumber)) + char(digits), quint8(newNumber));
        l.in(frame(quint8(newNumber), 0x21, QByteArray(1, char(newNumber))));
        QCOMPARE(l.sent.join().toHex(' '), answers.toHex(' '));
    }
};

QTEST_GUILESS_MAIN(TestSimDevice)
#include "tst_sim_device.moc"
