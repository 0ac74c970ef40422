// The response receiver behind a serial control, fed by arbitrary bytes.
//
// Input (FuzzedDataProvider): one byte from the end picks the receive
// threshold 0..130; then, again from the end, one control byte per step:
// 0..253 = inject that many bytes taken from the front of the input,
// 254 = inject a chunk (length: next control byte) 1..64 times (next byte),
// 255 = set a new threshold (next control byte, 0..130) while bytes may wait.
//
// A model of the input buffer predicts every receive event; each event's bytes
// are checked against the frame rules written out here independently of
// link/frame.cpp, and whatever the sink receives must match those bytes.

#include "fuzzcheck.h"

#include "channels/channeltable.h"
#include "support/fakeserialcontrol.h"
#include "link/frame.h"
#include "session/receiver.h"

#include <QCoreApplication>
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

using namespace vorn;

namespace {

constexpr int kMaxThreshold = 130;
constexpr int kBufferLimit = 1024;
constexpr int kOpRepeat = 254;
constexpr int kOpThreshold = 255;

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

ReceiveOutcome expectedOutcome(const QByteArray &b, const Expectation &e)
{
    if (b.size() <= 8)
        return ReceiveOutcome::TooShort;
    if (!e.envelopeOk)
        return ReceiveOutcome::BadFrame;
    switch (e.kind) {
    case Kind::Discovery: return ReceiveOutcome::Discovery;
    case Kind::ReadBack: return ReceiveOutcome::ReadBack;
    case Kind::Raw: return ReceiveOutcome::RawValues;
    case Kind::None: break;
    }
    if (e.code == 0x21 || e.code == 0x32 || e.code == 0x40)
        return ReceiveOutcome::TooShortForCode;
    return ReceiveOutcome::UnknownCode;
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

struct Sink : ReceiverSink
{
    int calls = 0;
    Kind last = Kind::None;
    quint8 number = 0, digits = 0;
    std::array<DecodedChannel, kChannels> rows{};
    std::array<int, kChannels> raw{};
    void discoveryReply(quint8 n, quint8 d) override
    {
        ++calls; last = Kind::Discovery; number = n; digits = d;
    }
    void readBackReply(const std::array<DecodedChannel, kChannels> &r, const QByteArray &) override
    {
        ++calls; last = Kind::ReadBack; rows = r;
    }
    void rawValueReply(const std::array<int, kChannels> &r) override
    {
        ++calls; last = Kind::Raw; raw = r;
    }
};

struct Event
{
    QByteArray seen;
    ReceiveOutcome outcome;
    int leftAfter;
};

void checkEvent(const Event &ev, const Sink &sink, int callsBefore)
{
    const QByteArray &b = ev.seen;
    FUZZ_CHECK(ev.leftAfter == 0, "%d bytes left after the receive event", ev.leftAfter);
    FUZZ_CHECK(b.size() <= kBufferLimit, "event saw %d bytes", int(b.size()));
    const Expectation e = expect(b);
    FUZZ_CHECK(ev.outcome == expectedOutcome(b, e), "outcome %d for %s", int(ev.outcome),
               fuzzcheck::hex(b).constData());
    const int calls = sink.calls - callsBefore;
    FUZZ_CHECK(calls == (e.kind == Kind::None ? 0 : 1), "%d sink calls for %s", calls,
               fuzzcheck::hex(b).constData());
    if (calls == 0)
        return;
    FUZZ_CHECK(sink.last == e.kind, "wrong sink call");
    const auto u = [&](int i) { return int(static_cast<unsigned char>(b[i])); };
    switch (e.kind) {
    case Kind::Discovery:
        FUZZ_CHECK(sink.number == u(6) && sink.digits == u(7), "discovery values");
        break;
    case Kind::Raw:
        for (int i = 0; i < kChannels; ++i)
            FUZZ_CHECK(sink.raw[i] == u(6 + 2 * i) * 256 + u(7 + 2 * i), "raw value %d", i);
        break;
    case Kind::ReadBack:
        for (int i = 0; i < kChannels; ++i)
            checkBlock(b.constData() + 6 + kBlockSize * i, sink.rows[i]);
        break;
    case Kind::None:
        break;
    }
}

QCoreApplication *app()
{
    // Queued threshold checks need an event loop to be delivered from.
    static int argc = 1;
    static char name[] = "fuzz_receiver";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *a = new QCoreApplication(argc, argv);
    return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    app();
    FuzzedDataProvider fdp(data, size);

    FakeSerialControl port;
    port.setPortResult(1, 0);
    port.setCommPort(1);
    FUZZ_CHECK(port.open() == 0, "fake port does not open");

    Sink sink;
    std::vector<Event> events;
    QObject::connect(&port, &SerialControl::onComm, &port, [&] {
        Event ev;
        ev.seen = port.input();
        FUZZ_CHECK(port.inBufferCount() == ev.seen.size(), "count %d vs %d bytes",
                   port.inBufferCount(), int(ev.seen.size()));
        const int before = sink.calls;
        ev.outcome = handleReceiveEvent(port, sink);
        ev.leftAfter = port.inBufferCount();
        checkEvent(ev, sink, before);
        events.push_back(ev);
    });

    int threshold = fdp.ConsumeIntegralInRange<int>(0, kMaxThreshold);
    port.setRThreshold(threshold);
    QByteArray model;   // what the buffer must hold

    // After each step: the events raised must be exactly the ones the model
    // predicts, with the bytes it predicts.
    const auto settle = [&](size_t eventsBefore) {
        const int waiting = int(model.size());
        std::optional<QByteArray> fired;
        if (threshold > 0 && model.size() >= threshold) {
            fired = model;
            model.clear();
        }
        FUZZ_CHECK(events.size() == eventsBefore + (fired ? 1 : 0),
                   "%d events, expected %d (threshold %d, %d bytes waiting)",
                   int(events.size() - eventsBefore), fired ? 1 : 0, threshold, waiting);
        if (fired)
            FUZZ_CHECK(events.back().seen == *fired, "event saw other bytes than arrived");
        FUZZ_CHECK(port.input() == model, "buffer holds %d bytes, expected %d",
                   port.inBufferCount(), int(model.size()));
        FUZZ_CHECK(port.inBufferCount() <= kBufferLimit, "buffer over its limit");
    };

    const auto inject = [&](const QByteArray &bytes) {
        const size_t before = events.size();
        model += bytes.left(kBufferLimit - model.size());
        port.inject(bytes);
        settle(before);
    };

    while (fdp.remaining_bytes() > 0) {
        const int op = fdp.ConsumeIntegral<uint8_t>();
        if (op == kOpThreshold) {
            const size_t before = events.size();
            threshold = fdp.ConsumeIntegralInRange<int>(0, kMaxThreshold);
            port.setRThreshold(threshold);
            FUZZ_CHECK(events.size() == before, "threshold change raised the event at once");
            QCoreApplication::sendPostedEvents();
            settle(before);
        } else if (op == kOpRepeat) {
            // A burst: one chunk arriving again and again (fills the buffer
            // past its limit with a small input).
            const size_t len = fdp.ConsumeIntegral<uint8_t>();
            const int times = fdp.ConsumeIntegralInRange<int>(1, 64);
            const std::vector<char> chunk = fdp.ConsumeBytes<char>(len);
            const QByteArray bytes(chunk.data(), qsizetype(chunk.size()));
            for (int i = 0; i < times; ++i)
                inject(bytes);
        } else {
            const std::vector<char> chunk = fdp.ConsumeBytes<char>(size_t(op));
            inject(QByteArray(chunk.data(), qsizetype(chunk.size())));
        }
    }

    // The classification never looks beyond n: extra bytes behind the frame
    // change nothing.
    for (const Event &ev : events) {
        QByteArray longer = ev.seen;
        longer += QByteArray("\x02\x00\x0a\xee\x00\x21\x0c\x04\xcd\x03", 10);
        FUZZ_CHECK(classifyReply(longer, int(ev.seen.size())) == ev.outcome,
                   "classification depends on bytes past n");
    }
    return 0;
}
