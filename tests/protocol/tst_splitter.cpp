// The frame splitter by table: whole frames and rejected spans, in order,
// whatever the chunks; torn, glued and noisy input.

#include "protocol/frame.h"
#include "protocol/splitter.h"

#include <QTest>

#include <algorithm>
#include <iterator>

using namespace vorn;

namespace {

QByteArray hex(const QByteArray &h) { return QByteArray::fromHex(h); }

const char *flawName(Flaw f)
{
    switch (f) {
    case Flaw::None: return "frame";
    case Flaw::StartByte: return "start";
    case Flaw::LengthField: return "length";
    case Flaw::Marker: return "marker";
    case Flaw::EndByte: return "end";
    case Flaw::CheckByte: return "check";
    case Flaw::TooShort: return "torn";
    case Flaw::UnknownCode:
    case Flaw::ShortForCode: break;   // not frame flaws
    }
    return "?";
}

// "frame 28", "check 10": each piece's kind and size.
QStringList describe(const QList<FramePiece> &pieces)
{
    QStringList out;
    for (const FramePiece &p : pieces)
        out << QStringLiteral("%1 %2").arg(QLatin1String(flawName(p.flaw))).arg(p.bytes.size());
    return out;
}

QByteArray raw(int first)
{
    QByteArray values(20, '\x01');
    values[0] = char(first >> 8);
    values[1] = char(first);
    return buildReply(cmd::Feedback, values);
}

// A reply with one field changed; the check byte is corrected unless the
// check byte is the field.
QByteArray damaged(int at, char value)
{
    QByteArray r = raw(100);
    r[at] = value;
    if (at != r.size() - 2 && at != r.size() - 1 && at != 0)
        r[r.size() - 2] = char(checkByte(r));
    return r;
}

}  // namespace

class TstSplitter : public QObject
{
    Q_OBJECT
private slots:
    void splits_data();
    void splits();
    void givesUpATornCandidate();
    void commandLayout();
};

void TstSplitter::splits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<int>("pending");
    const QByteArray r = raw(100);
    const QByteArray disc = hex("02 00 0A EE 00 21 0C 04 CD 03");
    QTest::newRow("one reply") << r << QStringList{"frame 28"} << 0;
    QTest::newRow("glued: three replies") << r + disc + r << QStringList{"frame 28", "frame 10", "frame 28"} << 0;
    QTest::newRow("torn: the first half") << r.left(14) << QStringList{} << 14;
    QTest::newRow("a reply and the start of the next") << r + r.left(5) << QStringList{"frame 28"} << 5;
    QTest::newRow("garbage before") << hex("11 22 33") + r << QStringList{"start 3", "frame 28"} << 0;
    QTest::newRow("garbage after") << r + hex("44 55") << QStringList{"frame 28", "start 2"} << 0;
    QTest::newRow("garbage between") << disc + hex("EE") + r << QStringList{"frame 10", "start 1", "frame 28"} << 0;
    QTest::newRow("a text record") << QByteArray("N1,2\r\n") << QStringList{"start 6"} << 0;
    // Each field damaged alone: the damaged frame goes, the next is found.
    QTest::newRow("start byte") << damaged(0, 0x05) + r << QStringList{"start 28", "frame 28"} << 0;
    QTest::newRow("length field too small") << damaged(2, 0x08) + r << QStringList{"length 28", "frame 28"} << 0;
    QTest::newRow("length field too large") << damaged(1, 0x04) + r << QStringList{"length 28", "frame 28"} << 0;
    QTest::newRow("length field one short") << damaged(2, 0x1B) + r << QStringList{"end 28", "frame 28"} << 0;
    QTest::newRow("marker") << damaged(3, char(0xEF)) + r << QStringList{"marker 28", "frame 28"} << 0;
    QTest::newRow("end byte") << damaged(27, 0x04) + r << QStringList{"end 28", "frame 28"} << 0;
    QTest::newRow("check byte") << damaged(26, 0x00) + r << QStringList{"check 28", "frame 28"} << 0;
    QTest::newRow("payload byte, check not corrected")
        << [&] { QByteArray b = r; b[9] = char(b[9] ^ 0x10); return b; }() + r << QStringList{"check 28", "frame 28"} << 0;
    // A start byte inside a broken frame is tried as the next start.
    QTest::newRow("a reply inside a torn candidate waits for its length")
        << hex("02 00 1C EE") + disc << QStringList{} << 14;
    QTest::newRow("the same once the candidate's length is there")
        << hex("02 00 1C EE") + disc + r << QStringList{"end 4", "frame 10", "frame 28"} << 0;
    QTest::newRow("a valid reply after garbage holding start bytes")
        << hex("02 02 00 03 02") + r << QStringList{"marker 1", "length 3", "marker 1", "frame 28"} << 0;
    QTest::newRow("the longest reply that is taken") << buildReply(0x55, QByteArray(1024 - 8, '\0'))
                                                     << QStringList{"frame 1024"} << 0;
}

void TstSplitter::splits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, pieces);
    QFETCH(int, pending);
    // In one chunk, byte by byte and in chunks of 5.
    for (int chunk : {int(bytes.size()), 1, 5}) {
        FrameSplitter s;
        QList<FramePiece> got;
        for (int i = 0; i < bytes.size(); i += chunk)
            got += s.feed(QByteArrayView(bytes).sliced(i, qMin<qsizetype>(chunk, bytes.size() - i)));
        // In smaller chunks a span is rejected as soon as it cannot be a
        // frame, so rejected spans may come in more pieces; the frames are
        // the same.
        QList<FramePiece> frames;
        std::copy_if(got.begin(), got.end(), std::back_inserter(frames), [](const FramePiece &p) { return p.isFrame(); });
        QCOMPARE(describe(frames), pieces.filter(QStringLiteral("frame")));
        if (chunk == bytes.size())
            QCOMPARE(describe(got), pieces);
        QCOMPARE(s.pendingSize(), pending);
        // Every byte comes out once, in order.
        QByteArray all;
        for (const FramePiece &p : got)
            all += p.bytes;
        QCOMPARE(all + s.pending(), bytes);
        for (const FramePiece &p : got)
            QCOMPARE(checkFrame(p.bytes, FrameLayout::Reply).isFrame(), p.isFrame());
    }
}

void TstSplitter::givesUpATornCandidate()
{
    // A reply cut short (bytes lost on the line) is given up on request,
    // and what follows it is split again.
    const QByteArray r = raw(7);
    FrameSplitter s;
    QCOMPARE(describe(s.feed(r.left(20) + hex("02 00"))), QStringList{});
    QCOMPARE(s.pendingSize(), 22);
    QCOMPARE(describe(s.giveUp()), QStringList{"torn 20"});
    QCOMPARE(s.pendingSize(), 2);
    QCOMPARE(describe(s.feed(r.mid(2))), QStringList{"frame 28"});
    QCOMPARE(s.pendingSize(), 0);
}

void TstSplitter::commandLayout()
{
    // Commands carry the marker at offset 4; a reply is not a command.
    const QByteArray cmdFrame = buildFrame(1, cmd::Power, hex("01"));
    FrameSplitter s(FrameLayout::Command);
    QCOMPARE(describe(s.feed(cmdFrame + raw(1) + cmdFrame)), (QStringList{"frame 9", "marker 28", "frame 9"}));
    QCOMPARE(checkFrame(cmdFrame, FrameLayout::Reply).flaw, Flaw::Marker);
}

QTEST_GUILESS_MAIN(TstSplitter)
#include "tst_splitter.moc"
