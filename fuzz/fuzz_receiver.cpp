// The frame splitter and judgeReply() behind it, fed by arbitrary bytes.
//
// Input (FuzzedDataProvider): one control byte per step, from the end:
// 0..252 = feed that many bytes taken from the front of the input as one
// chunk; 253 = feed a valid reply built from the input (code: next byte,
// payload of 1..130 bytes), in chunks of 1..32 bytes; 254 = a burst, one
// chunk (length: next byte) fed 1..64 times; 255 = give up the candidate
// waiting.
//
// Every piece is checked against the frame rules written out here
// independently of protocol/splitter.cpp; the pieces and what still waits are
// exactly the bytes fed; a valid reply fed while nothing waits comes out
// whole; the frames do not depend on how the bytes were chunked; and what
// the verdict on each piece, with what it holds, must match the piece.

#include "fuzzcheck.h"

#include "protocol/channeltable.h"
#include "protocol/frame.h"
#include "protocol/reply.h"
#include "protocol/splitter.h"

#include <QCoreApplication>
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

using namespace vorn;

namespace {

constexpr int kMaxLength = 1024;   // the longest reply the splitter takes
constexpr int kOpReply = 253;
constexpr int kOpRepeat = 254;
constexpr int kOpGiveUp = 255;

enum class Kind { None, Discovery, ReadBack, Raw };

struct Expectation
{
    bool envelopeOk = false;   // start, end, marker, length, check byte
    int code = -1;
    Kind kind = Kind::None;    // a known code with its own length
};

// The reply rules, written out directly.
Expectation expect(const QByteArray &b)
{
    Expectation e;
    const int n = int(b.size());
    if (n < 9)
        return e;
    const auto u = [&](int i) { return unsigned(static_cast<unsigned char>(b[i])); };
    if (u(0) != 0x02 || u(n - 1) != 0x03 || u(3) != 0xEE)
        return e;
    if (int((u(1) << 8) | u(2)) != n)
        return e;
    unsigned x = 0;
    for (int i = 1; i <= n - 3; ++i)
        x ^= u(i);
    if (x != u(n - 2))
        return e;
    e.envelopeOk = true;
    e.code = int(u(5));
    if (e.code == 0x21 && n >= 10)
        e.kind = Kind::Discovery;
    else if (e.code == 0x32 && n >= 108)
        e.kind = Kind::ReadBack;
    else if (e.code == 0x40 && n >= 28)
        e.kind = Kind::Raw;
    return e;
}

// The flaw of a whole frame's verdict.
Flaw expectedFlaw(const Expectation &e)
{
    if (e.kind != Kind::None)
        return Flaw::None;
    if (e.code == 0x21 || e.code == 0x32 || e.code == 0x40)
        return Flaw::ShortForCode;
    return Flaw::UnknownCode;
}

// What the verdict holds, as a kind.
Kind heldKind(const ReplyVerdict &v)
{
    return std::visit(Overloaded{[](std::monostate) { return Kind::None; },
                                 [](const DiscoveryReply &) { return Kind::Discovery; },
                                 [](const ReadBackReply &) { return Kind::ReadBack; },
                                 [](const RawValuesReply &) { return Kind::Raw; }},
                      v.content);
}

int signMagnitude(unsigned hi, unsigned lo)
{
    const int m = int(((hi & 0x7F) << 8) | lo);
    return (hi & 0x80) ? -m : m;
}

// One 10-byte block as the window must show it, and how it saves back.
void checkBlock(const char *block, const DecodedChannel &d)
{
    const auto u = [&](int i) { return unsigned(static_cast<unsigned char>(block[i])); };
    const int lower = signMagnitude(u(0), u(1));
    const int s1 = signMagnitude(u(6), u(7));
    const int s2 = signMagnitude(u(8), u(9));
    bool ok = false;
    FUZZ_CHECK(d.texts.lower.toInt(&ok) == lower && ok, "lower %s",
               fuzzcheck::utf8(d.texts.lower).constData());
    FUZZ_CHECK(d.texts.start1.toInt(&ok) == s1 && ok, "start1");
    FUZZ_CHECK(d.texts.start2.toInt(&ok) == s2 && ok, "start2");
    FUZZ_CHECK(lower >= -32767 && lower <= 32767 && s1 >= -32767 && s1 <= 32767
                   && s2 >= -32767 && s2 <= 32767, "signed field out of range");
    FUZZ_CHECK(d.texts.dot.toInt(&ok) == int(u(4)) && ok, "dot");
    FUZZ_CHECK(formulaNames().contains(d.texts.formula), "formula %s",
               fuzzcheck::utf8(d.texts.formula).constData());

    const int span = int((u(2) << 8) | u(3));
    const bool upperShown = u(2) < 128 && lower + span <= 32767;
    FUZZ_CHECK(d.upperValid == upperShown, "upperValid %d for lower %d span %d",
               int(d.upperValid), lower, span);
    if (!upperShown) {
        FUZZ_CHECK(d.texts.upper.isEmpty(), "hidden upper limit has a text");
        return;
    }
    FUZZ_CHECK(d.texts.upper.toInt(&ok) == lower + span && ok, "upper");

    // Shown rows save back: the same block, with -0 as 0, the decimal places
    // reduced to 0..3 and an unknown formula code as 固定关.
    const auto again = encodeChannel(d.texts);
    FUZZ_CHECK(again.has_value(), "a shown row does not encode");
    FUZZ_CHECK(again->size() == kBlockSize, "block size %d", int(again->size()));
    QByteArray want(block, kBlockSize);
    const auto canon = [&](int at, int v) {
        const int m = v < 0 ? -v : v;
        want[at] = char((m >> 8) | (v < 0 ? 0x80 : 0));
        want[at + 1] = char(m & 0xFF);
    };
    canon(0, lower);
    canon(6, s1);
    canon(8, s2);
    want[4] = char(u(4) % 4);
    const unsigned f = u(5);
    if (!(f == 0x99 || (f >= 0x01 && f <= 0x05)))
        want[5] = 0;
    FUZZ_CHECK(*again == want, "re-encoded %s, want %s", fuzzcheck::hex(*again).constData(),
               fuzzcheck::hex(want).constData());
}

void checkPiece(const FramePiece &piece, const ReplyVerdict &v)
{
    const QByteArray &b = piece.bytes;
    FUZZ_CHECK(!b.isEmpty(), "an empty piece");
    const Expectation e = expect(b);
    FUZZ_CHECK(piece.isFrame() == (e.envelopeOk && b.size() <= kMaxLength), "piece %s taken as %s",
               fuzzcheck::hex(b).constData(), piece.isFrame() ? "a frame" : "rejected");
    if (piece.isFrame())
        FUZZ_CHECK(v.flaw == expectedFlaw(e), "flaw %d for %s", int(v.flaw), fuzzcheck::hex(b).constData());
    else
        FUZZ_CHECK(v.flaw == piece.flaw, "rejected span judged %d, cut as %d", int(v.flaw), int(piece.flaw));
    FUZZ_CHECK(v.taken() == v.reason.isEmpty(), "taken %d with reason \"%s\"", int(v.taken()),
               fuzzcheck::utf8(v.reason).constData());
    FUZZ_CHECK(heldKind(v) == e.kind, "holds kind %d for %s", int(heldKind(v)), fuzzcheck::hex(b).constData());
    const auto u = [&](int i) { return int(static_cast<unsigned char>(b[i])); };
    if (const auto *d = std::get_if<DiscoveryReply>(&v.content)) {
        FUZZ_CHECK(d->number == u(6) && d->digits == u(7), "discovery values");
    } else if (const auto *r = std::get_if<RawValuesReply>(&v.content)) {
        for (int i = 0; i < kChannels; ++i)
            FUZZ_CHECK(r->values[i] == u(6 + 2 * i) * 256 + u(7 + 2 * i), "raw value %d", i);
    } else if (const auto *rb = std::get_if<ReadBackReply>(&v.content)) {
        FUZZ_CHECK(rb->blocks == b.mid(6, kChannels * kBlockSize), "read-back blocks");
        for (int i = 0; i < kChannels; ++i)
            checkBlock(b.constData() + 6 + kBlockSize * i, rb->rows[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider fdp(data, size);
    FrameSplitter splitter;
    QByteArray stream;        // every byte fed
    QByteArray out;           // every piece's bytes, in order
    QList<QByteArray> frames;
    bool gaveUp = false;

    const auto take = [&](const QList<FramePiece> &pieces) {
        for (const FramePiece &piece : pieces) {
            checkPiece(piece, judgeReply(piece));
            out += piece.bytes;
            if (piece.isFrame())
                frames.append(piece.bytes);
        }
        FUZZ_CHECK(out + splitter.pending() == stream, "pieces and pending (%d + %d bytes) are not the %d fed",
                   int(out.size()), splitter.pendingSize(), int(stream.size()));
    };
    const auto feed = [&](const QByteArray &bytes) {
        stream += bytes;
        take(splitter.feed(bytes));
    };

    while (fdp.remaining_bytes() > 0) {
        const int op = fdp.ConsumeIntegral<uint8_t>();
        if (op == kOpGiveUp) {
            gaveUp = gaveUp || splitter.pendingSize() > 0;
            take(splitter.giveUp());
            FUZZ_CHECK(splitter.pendingSize() == 0 || quint8(splitter.pending()[0]) == kStartByte,
                       "what waits after giving up does not start with 02");
        } else if (op == kOpReply) {
            const quint8 code = fdp.ConsumeIntegral<uint8_t>();
            const int len = fdp.ConsumeIntegralInRange<int>(1, 130);
            const int chunk = fdp.ConsumeIntegralInRange<int>(1, 32);
            const std::vector<char> p = fdp.ConsumeBytes<char>(size_t(len));
            const QByteArray reply = buildReply(code, QByteArray(p.data(), qsizetype(p.size())) + QByteArray(1, '\0'));
            const bool clean = splitter.pendingSize() == 0;
            const qsizetype framesBefore = frames.size();
            for (qsizetype i = 0; i < reply.size(); i += chunk)
                feed(reply.mid(i, chunk));
            if (clean)
                FUZZ_CHECK(frames.size() == framesBefore + 1 && frames.last() == reply,
                           "a valid reply fed while nothing waited did not come out: %s",
                           fuzzcheck::hex(reply).constData());
        } else if (op == kOpRepeat) {
            const size_t len = fdp.ConsumeIntegral<uint8_t>();
            const int times = fdp.ConsumeIntegralInRange<int>(1, 64);
            const std::vector<char> c = fdp.ConsumeBytes<char>(len);
            const QByteArray bytes(c.data(), qsizetype(c.size()));
            for (int i = 0; i < times; ++i)
                feed(bytes);
        } else {
            const std::vector<char> c = fdp.ConsumeBytes<char>(size_t(op));
            feed(QByteArray(c.data(), qsizetype(c.size())));
        }
        FUZZ_CHECK(splitter.pendingSize() < kMaxLength, "%d bytes wait", splitter.pendingSize());
    }

    // The same bytes in one chunk give the same frames.
    if (!gaveUp) {
        FrameSplitter whole;
        QList<QByteArray> again;
        for (const FramePiece &piece : whole.feed(stream))
            if (piece.isFrame())
                again.append(piece.bytes);
        FUZZ_CHECK(again == frames, "%d frames in one chunk, %d in pieces", int(again.size()), int(frames.size()));
        FUZZ_CHECK(whole.pending() == splitter.pending(), "different bytes wait");
    }
    return 0;
}
