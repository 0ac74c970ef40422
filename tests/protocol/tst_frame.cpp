// Command frames as they go out; replies as the receiver checks and hands them on.

#include "support/fakeline.h"
#include "protocol/frame.h"
#include "protocol/splitter.h"
#include "session/receiver.h"

#include <QSignalSpy>
#include <QTest>

using namespace vorn;
Q_DECLARE_METATYPE(vorn::ReceiveOutcome)
Q_DECLARE_METATYPE(QList<vorn::ReceiveOutcome>)

namespace {

QByteArray hex(const QByteArray &h) { return QByteArray::fromHex(h); }

struct RecordingSink : ReceiverSink
{
    QStringList calls;
    std::array<DecodedChannel, kChannels> rows{};
    void discoveryReply(quint8 number, quint8 digits) override
    {
        calls << QStringLiteral("discovery %1 %2").arg(number).arg(digits);
    }
    QByteArray blocks;
    void readBackReply(const std::array<DecodedChannel, kChannels> &r, const QByteArray &b) override
    {
        rows = r;
        blocks = b;
        calls << QStringLiteral("read back");
    }
    void rawValueReply(const std::array<int, kChannels> &raw) override
    {
        QStringList v;
        for (int x : raw)
            v << QString::number(x);
        calls << QStringLiteral("raw ") + v.join(QLatin1Char(','));
    }
};

// The session's wiring: bytes from the line are split, and every piece goes
// through the receiver.
struct Wired
{
    FakeLine port;
    FrameSplitter splitter;
    RecordingSink sink;
    QList<ReceiveOutcome> outcomes;
    Wired()
    {
        QObject::connect(&port, &Line::received, &port, [this](const QByteArray &bytes) {
            for (const FramePiece &piece : splitter.feed(bytes))
                outcomes << receivePiece(piece, sink);
        });
    }
};

}  // namespace

class TstFrame : public QObject
{
    Q_OBJECT
private slots:
    void buildsCommandFrames_data();
    void buildsCommandFrames();
    void envelopeHoldsForAnySize();
    void receivesReply_data();
    void receivesReply();
    void decodesReadBack();
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
        QCOMPARE(checkFrame(g, FrameLayout::Command).flaw, FramePiece::Flaw::CheckByte);
    }
}

// Each bad frame differs from a good one in one field only: where a byte
// changes, the check byte is corrected so that only that field is wrong.
void TstFrame::receivesReply_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ReceiveOutcome>("outcome");
    QTest::addColumn<QString>("call");
    // What the receiving side makes of the bytes arriving alone, when it
    // differs from the verdict on them as one reply: the splitter takes each
    // of several glued replies, waits for the rest of a frame whose length
    // field says it is longer, and drops a frame whose length field no reply
    // can have as soon as it sees it.
    QTest::addColumn<QList<ReceiveOutcome>>("split");
    QTest::addColumn<QStringList>("splitCalls");
    const QByteArray raw = hex("02 00 1C EE 00 40" + QByteArray("0064").repeated(10) + "B2 03");
    const auto bad = [](const char *name, const QByteArray &b, ReceiveOutcome o,
                        QList<ReceiveOutcome> split = {ReceiveOutcome::OtherEvent}) {
        if (split == QList<ReceiveOutcome>{ReceiveOutcome::OtherEvent})
            split = {o};
        QTest::newRow(name) << b << o << QString() << split << QStringList();
    };
    QTest::newRow("discovery") << hex("02 00 0A EE 00 21 0C 04 CD 03") << ReceiveOutcome::Discovery
                               << "discovery 12 4"
        << QList<ReceiveOutcome>{ReceiveOutcome::Discovery} << QStringList{"discovery 12 4"};
    QTest::newRow("any byte 4") << hex("02 00 0A EE 55 21 0C 04 98 03") << ReceiveOutcome::Discovery
                                << "discovery 12 4"
        << QList<ReceiveOutcome>{ReceiveOutcome::Discovery} << QStringList{"discovery 12 4"};
    QTest::newRow("raw values") << raw << ReceiveOutcome::RawValues
                                << "raw 100,100,100,100,100,100,100,100,100,100"
        << QList<ReceiveOutcome>{ReceiveOutcome::RawValues} << QStringList{"raw 100,100,100,100,100,100,100,100,100,100"};
    QTest::newRow("raw values unsigned")
        << hex("02 00 1C EE 00 40 0000 0001 FFFF 8000" + QByteArray("0064").repeated(6) + "33 03")
        << ReceiveOutcome::RawValues << "raw 0,1,65535,32768,100,100,100,100,100,100"
        << QList<ReceiveOutcome>{ReceiveOutcome::RawValues} << QStringList{"raw 0,1,65535,32768,100,100,100,100,100,100"};
    bad("start", hex("03 00 0A EE 00 21 0C 04 CD 03"), ReceiveOutcome::BadFrame);
    bad("end", hex("02 00 0A EE 00 21 0C 04 CD 02"), ReceiveOutcome::BadFrame);   // its last 02 waits
    bad("marker", hex("02 00 0A EF 00 21 0C 04 CC 03"), ReceiveOutcome::BadFrame);
    bad("length low", hex("02 00 0B EE 00 21 0C 04 CC 03"), ReceiveOutcome::BadFrame, {});
    bad("length high", hex("02 01 0A EE 00 21 0C 04 CC 03"), ReceiveOutcome::BadFrame, {});
    bad("check byte", hex("02 00 0A EE 00 21 0C 04 CE 03"), ReceiveOutcome::BadFrame);
    bad("eight bytes", hex("02 00 08 EE 00 21 C7 03"), ReceiveOutcome::TooShort, {ReceiveOutcome::BadFrame});
    QTest::newRow("two glued replies") << raw + raw << ReceiveOutcome::BadFrame << QString()
                                       << QList<ReceiveOutcome>{ReceiveOutcome::RawValues, ReceiveOutcome::RawValues}
                                       << QStringList{"raw 100,100,100,100,100,100,100,100,100,100",
                                                      "raw 100,100,100,100,100,100,100,100,100,100"};
    bad("unknown code", hex("02 00 09 EE 00 55 00 B2 03"), ReceiveOutcome::UnknownCode);
    bad("discovery, 9 bytes", hex("02 00 09 EE 00 21 00 C6 03"), ReceiveOutcome::TooShortForCode);
    bad("raw, 10 bytes", hex("02 00 0A EE 00 40 0C 04 AC 03"), ReceiveOutcome::TooShortForCode);
    bad("raw, 27 bytes", buildReply(0x40, QByteArray(19, '\x01')), ReceiveOutcome::TooShortForCode);
    bad("read back, 10 bytes", hex("02 00 0A EE 00 32 0C 04 DE 03"), ReceiveOutcome::TooShortForCode);
    bad("read back, 107 bytes", buildReply(0x32, QByteArray(99, '\0')), ReceiveOutcome::TooShortForCode);
    // A longer frame that passes every check is read for the bytes its code
    // needs; what follows them is not looked at.
    QTest::newRow("raw, 30 bytes")
        << hex("02 00 1E EE 00 40" + QByteArray("0064").repeated(10) + "0000 B0 03") << ReceiveOutcome::RawValues
        << "raw 100,100,100,100,100,100,100,100,100,100"
        << QList<ReceiveOutcome>{ReceiveOutcome::RawValues} << QStringList{"raw 100,100,100,100,100,100,100,100,100,100"};
    QTest::newRow("discovery, 28 bytes") << buildReply(0x21, hex("0C 04") + QByteArray(18, '\x7F'))
                                         << ReceiveOutcome::Discovery << "discovery 12 4"
        << QList<ReceiveOutcome>{ReceiveOutcome::Discovery} << QStringList{"discovery 12 4"};
    QByteArray blocks = hex("00 00 03 E8 01 00 00 00 03 E8").repeated(10);
    QTest::newRow("read back, 120 bytes") << buildReply(0x32, blocks + QByteArray(12, '\x55'))
                                          << ReceiveOutcome::ReadBack << "read back"
        << QList<ReceiveOutcome>{ReceiveOutcome::ReadBack} << QStringList{"read back"};
}

void TstFrame::receivesReply()
{
    QFETCH(QByteArray, bytes);
    QFETCH(ReceiveOutcome, outcome);
    QFETCH(QString, call);
    QFETCH(QList<ReceiveOutcome>, split);
    QFETCH(QStringList, splitCalls);
    QCOMPARE(judgeReply(checkFrame(bytes, FrameLayout::Reply)).outcome, outcome);
    QCOMPARE(checkFrame(bytes, FrameLayout::Reply).isFrame(),
             outcome != ReceiveOutcome::BadFrame && outcome != ReceiveOutcome::TooShort);
    if (split == QList<ReceiveOutcome>{outcome})
        QCOMPARE(splitCalls, call.isEmpty() ? QStringList() : QStringList{call});
    Wired w;
    w.port.inject(bytes);
    QCOMPARE(w.outcomes, split);
    QCOMPARE(w.sink.calls, splitCalls);
}

void TstFrame::decodesReadBack()
{
    QByteArray payload = hex("83 E8 00 0A 02 99 80 01 7F FF 7F FF 00 01 00 00 00 00 00 00");
    payload += hex("00 00 03 E8 01 00 00 00 03 E8").repeated(8);
    Wired w;
    w.port.inject(buildReply(cmd::ReadBack, payload));
    QCOMPARE(w.sink.calls, QStringList{"read back"});
    const ChannelTexts first{"-1000", "-990", "2", QStringLiteral("固定开"), "-1", "32767"};
    QVERIFY(w.sink.rows[0].texts == first && w.sink.rows[0].upperValid);
    QVERIFY(!w.sink.rows[1].upperValid);   // 32767 + 1
    QCOMPARE(w.sink.rows[1].texts.lower, QStringLiteral("32767"));
    for (int ch = 2; ch < kChannels; ++ch)
        QVERIFY(w.sink.rows[ch].texts == startTexts());
    QCOMPARE(w.splitter.pendingSize(), 0);
}

QTEST_GUILESS_MAIN(TstFrame)
#include "tst_frame.moc"
