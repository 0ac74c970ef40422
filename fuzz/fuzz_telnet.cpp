// The Telnet side of an rfc2217:// port: what a server sends, taken apart
// into the line's bytes and everything else, however the connection cuts it.
//
// Checked against the stream's rules:
// - the line's bytes as this side escapes them come back exactly, in any
//   chunking, with option negotiation, notices and no-operations from the
//   server between them;
// - arbitrary server input gives the same line bytes, the same answers and
//   the same state whether it arrives whole or cut anywhere;
// - no line byte out is ever more than the input held.

#include "fuzzcheck.h"

#include "link/netport.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace vorn;

namespace {

struct Fed
{
    QByteArray data, replies;
    Rfc2217Codec::State state;
};

// Feeds input to a fresh codec in the pieces the provider chooses.
Fed feedCut(const QByteArray &input, FuzzedDataProvider &cuts)
{
    Rfc2217Codec c;
    Fed f;
    qsizetype at = 0;
    while (at < input.size()) {
        const qsizetype n = qsizetype(cuts.ConsumeIntegralInRange<int>(1, int(input.size() - at)));
        f.data += c.feed(input.mid(at, n));
        f.replies += c.takeReplies();
        at += n;
    }
    f.state = c.state();
    return f;
}

// Something a server may put between the line's bytes.
QByteArray serverAside(FuzzedDataProvider &p)
{
    static const char verbs[] = {char(251), char(252), char(253), char(254)};   // WILL WONT DO DONT
    switch (p.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return QByteArray("\xFF\xF1", 2);   // no operation
    case 1:
        return QByteArray(1, char(0xFF)) + verbs[p.ConsumeIntegralInRange<int>(0, 3)]
               + char(p.ConsumeIntegral<quint8>());
    case 2: {
        // A notice of the COM-PORT-OPTION (line or modem state), its own
        // 0xFF bytes doubled.
        QByteArray body(1, char(p.ConsumeIntegralInRange<int>(100, 113)));
        body += p.ConsumeBytesAsString(p.ConsumeIntegralInRange<int>(0, 6)).c_str();
        return QByteArray("\xFF\xFA\x2C", 3) + Rfc2217Codec::escape(body) + QByteArray("\xFF\xF0", 2);
    }
    default:
        return QByteArray();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider p(bytes, size);

    // Line bytes escaped by this side, with the server's own traffic between.
    const std::string raw = p.ConsumeRandomLengthString(512);
    const QByteArray line(raw.data(), qsizetype(raw.size()));
    QByteArray stream;
    qsizetype at = 0;
    while (at < line.size()) {
        stream += serverAside(p);
        const qsizetype n = qsizetype(p.ConsumeIntegralInRange<int>(1, int(line.size() - at)));
        stream += Rfc2217Codec::escape(line.mid(at, n));
        at += n;
    }
    stream += serverAside(p);
    const Fed round = feedCut(stream, p);
    FUZZ_CHECK(round.data == line, "line bytes %s came back as %s", fuzzcheck::hex(line).constData(),
               fuzzcheck::hex(round.data).constData());

    // Anything at all: cutting it changes nothing.
    const std::string rest = p.ConsumeRemainingBytesAsString();
    const QByteArray input(rest.data(), qsizetype(rest.size()));
    Rfc2217Codec whole;
    const QByteArray wholeData = whole.feed(input);
    const QByteArray wholeReplies = whole.takeReplies();
    FuzzedDataProvider cutsFrom(bytes, size);
    const Fed cut = feedCut(input, cutsFrom);
    FUZZ_CHECK(cut.data == wholeData, "cut input gave %s, whole %s", fuzzcheck::hex(cut.data).constData(),
               fuzzcheck::hex(wholeData).constData());
    FUZZ_CHECK(cut.replies == wholeReplies, "cut input answered %s, whole %s",
               fuzzcheck::hex(cut.replies).constData(), fuzzcheck::hex(wholeReplies).constData());
    FUZZ_CHECK(cut.state == whole.state(), "cut input left state %d, whole %d", int(cut.state),
               int(whole.state()));
    FUZZ_CHECK(wholeData.size() <= input.size(), "%lld line bytes out of %lld in",
               static_cast<long long>(wholeData.size()), static_cast<long long>(input.size()));
    return 0;
}
