// Replies as judgeReply() takes or drops them: one value per piece, the
// verdict and what the reply holds.

#include "protocol/frame.h"
#include "protocol/reply.h"
#include "protocol/splitter.h"

#include <QTest>

#include <optional>

using namespace vorn;

namespace {

QByteArray hex(const QByteArray &h) { return QByteArray::fromHex(h); }

const char *flawName(Flaw f)
{
    switch (f) {
    case Flaw::None: return "taken";
    case Flaw::TooShort: return "short";
    case Flaw::StartByte: return "start";
    case Flaw::LengthField: return "length";
    case Flaw::Marker: return "marker";
    case Flaw::EndByte: return "end";
    case Flaw::CheckByte: return "check";
    case Flaw::UnknownCode: return "code";
    case Flaw::ShortForCode: return "short for code";
    }
    return "?";
}

// "discovery 12 4", "raw 0,1,...", "read back 100" for what a reply taken
// holds; "check 205/206" (the flaw, what was wanted, what came) for a piece
// dropped.
QString summary(const ReplyVerdict &v)
{
    const QString held = std::visit(
        Overloaded{
            [&](std::monostate) {
                return QStringLiteral("%1 %2/%3").arg(QLatin1String(flawName(v.flaw))).arg(v.expected).arg(v.got);
            },
            [](const DiscoveryReply &d) { return QStringLiteral("discovery %1 %2").arg(d.number).arg(d.digits); },
            [](const ReadBackReply &r) { return QStringLiteral("read back %1").arg(r.blocks.size()); },
            [](const RawValuesReply &r) {
                QStringList values;
                for (int x : r.values)
                    values << QString::number(x);
                return QStringLiteral("raw ") + values.join(QLatin1Char(','));
            },
        },
        v.content);
    // A verdict is taken exactly when it holds a reply, and has a reason
    // exactly when it does not.
    if (v.taken() != (v.content.index() != 0) || v.taken() != v.reason.isEmpty())
        return QStringLiteral("inconsistent: ") + held;
    return held;
}

}  // namespace

class TstReply : public QObject
{
    Q_OBJECT
private slots:
    void judgesPieces_data();
    void judgesPieces();
    void decodesReadBack();
};

// Each bad frame differs from a good one in one field only: where a byte
// changes, the check byte is corrected so that only that field is wrong.
void TstReply::judgesPieces_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // The bytes judged as one frame.
    QTest::addColumn<QString>("verdict");
    // The bytes arriving alone, split: the splitter takes each of several
    // glued replies, waits for the rest of a frame whose length field says
    // it is longer, and drops a frame whose length field no reply can have
    // as soon as it sees it.
    QTest::addColumn<QStringList>("split");
    const QString hundreds = QStringLiteral("raw 100,100,100,100,100,100,100,100,100,100");
    const QByteArray raw = hex("02 00 1C EE 00 40" + QByteArray("0064").repeated(10) + "B2 03");
    const auto row = [](const char *name, const QByteArray &b, const QString &verdict,
                        std::optional<QStringList> split = std::nullopt) {
        QTest::newRow(name) << b << verdict << split.value_or(QStringList{verdict});
    };
    row("discovery", hex("02 00 0A EE 00 21 0C 04 CD 03"), "discovery 12 4");
    row("any byte 4", hex("02 00 0A EE 55 21 0C 04 98 03"), "discovery 12 4");
    row("raw values", raw, hundreds);
    row("raw values unsigned", hex("02 00 1C EE 00 40 0000 0001 FFFF 8000" + QByteArray("0064").repeated(6) + "33 03"),
        "raw 0,1,65535,32768,100,100,100,100,100,100");
    row("start", hex("03 00 0A EE 00 21 0C 04 CD 03"), "start 2/3");
    row("end", hex("02 00 0A EE 00 21 0C 04 CD 02"), "end 3/2");   // its last 02 waits
    row("marker", hex("02 00 0A EF 00 21 0C 04 CC 03"), "marker 238/239");
    row("length low", hex("02 00 0B EE 00 21 0C 04 CC 03"), "length 10/11", QStringList{});
    row("length high", hex("02 01 0A EE 00 21 0C 04 CC 03"), "length 10/266", QStringList{});
    row("check byte", hex("02 00 0A EE 00 21 0C 04 CE 03"), "check 205/206");
    row("eight bytes", hex("02 00 08 EE 00 21 C7 03"), "short 9/8", QStringList{"length -1/8"});
    row("two glued replies", raw + raw, "length 56/28", QStringList{hundreds, hundreds});
    row("unknown code", hex("02 00 09 EE 00 55 00 B2 03"), "code -1/85");
    row("discovery, 9 bytes", hex("02 00 09 EE 00 21 00 C6 03"), "short for code 10/9");
    row("raw, 10 bytes", hex("02 00 0A EE 00 40 0C 04 AC 03"), "short for code 28/10");
    row("raw, 27 bytes", buildReply(0x40, QByteArray(19, '\x01')), "short for code 28/27");
    row("read back, 10 bytes", hex("02 00 0A EE 00 32 0C 04 DE 03"), "short for code 108/10");
    row("read back, 107 bytes", buildReply(0x32, QByteArray(99, '\0')), "short for code 108/107");
    // A longer frame that passes every check is read for the bytes its code
    // needs; what follows them is not looked at.
    row("raw, 30 bytes", hex("02 00 1E EE 00 40" + QByteArray("0064").repeated(10) + "0000 B0 03"), hundreds);
    row("discovery, 28 bytes", buildReply(0x21, hex("0C 04") + QByteArray(18, '\x7F')), "discovery 12 4");
    row("read back, 120 bytes",
        buildReply(0x32, hex("00 00 03 E8 01 00 00 00 03 E8").repeated(10) + QByteArray(12, '\x55')), "read back 100");
}

void TstReply::judgesPieces()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, verdict);
    QFETCH(QStringList, split);
    QCOMPARE(summary(judgeReply(checkFrame(bytes, FrameLayout::Reply))), verdict);
    FrameSplitter splitter;
    QStringList got;
    for (const FramePiece &piece : splitter.feed(bytes))
        got << summary(judgeReply(piece));
    QCOMPARE(got, split);
}

void TstReply::decodesReadBack()
{
    QByteArray payload = hex("83 E8 00 0A 02 99 80 01 7F FF 7F FF 00 01 00 00 00 00 00 00");
    payload += hex("00 00 03 E8 01 00 00 00 03 E8").repeated(8);
    FrameSplitter splitter;
    const QList<FramePiece> pieces = splitter.feed(buildReply(cmd::ReadBack, payload));
    QCOMPARE(pieces.size(), 1);
    const ReplyVerdict v = judgeReply(pieces.first());
    QVERIFY(std::holds_alternative<ReadBackReply>(v.content));
    const ReadBackReply &r = std::get<ReadBackReply>(v.content);
    QCOMPARE(r.blocks, payload);
    const ChannelTexts first{"-1000", "-990", "2", QStringLiteral("固定开"), "-1", "32767"};
    QVERIFY(r.rows[0].texts == first && r.rows[0].upperValid);
    QVERIFY(!r.rows[1].upperValid);   // 32767 + 1
    QCOMPARE(r.rows[1].texts.lower, QStringLiteral("32767"));
    for (int ch = 2; ch < kChannels; ++ch)
        QVERIFY(r.rows[ch].texts == startTexts());
    QCOMPARE(splitter.pendingSize(), 0);
}

QTEST_GUILESS_MAIN(TstReply)
#include "tst_reply.moc"
