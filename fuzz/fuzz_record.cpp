// Feedback records: parseFeedbackRecord on arbitrary bytes, and the poller
// that takes a record once two ticks see the same count.
//
// The parser is checked against the record rules: a result exists exactly when
// the first n bytes start with "N" and end with CR LF; it is a run of bytes
// from buf[1..n-2] in order, where a comma that opens a field separator turns
// into CR LF and the byte right after it is taken as it is (comma or not); the
// run stops at the first CR in a field position or at n-2, and never ends on a
// separator. Bytes beyond n are never read: the parser sees buffers of exactly
// n bytes, so ASan catches any read past them.

#include "fuzzcheck.h"

#include "session/recordpoller.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using namespace vorn;

namespace {

void checkRecord(const unsigned char *b, int n, const std::optional<QString> &r)
{
    const bool isRecord = n >= 3 && b[0] == 'N' && b[n - 2] == '\r' && b[n - 1] == '\n';
    FUZZ_CHECK(r.has_value() == isRecord, "result %d for a %s (n=%d)", int(r.has_value()),
               isRecord ? "record" : "non-record", n);
    if (!r)
        return;
    const QString &s = *r;
    FUZZ_CHECK(!s.isEmpty(), "empty result");
    int j = 1;        // next byte of the record
    qsizetype k = 0;  // next character of the result
    bool endsOnSeparator = false;
    for (;;) {
        FUZZ_CHECK(j <= n - 2, "result reaches byte %d of %d", j, n);
        endsOnSeparator = false;
        if (b[j] == ',') {
            FUZZ_CHECK(k + 1 < s.size() && s[k] == u'\r' && s[k + 1] == u'\n',
                       "comma at byte %d is not a line break", j);
            k += 2;
            ++j;
            endsOnSeparator = true;
            FUZZ_CHECK(j <= n - 2, "separator at the end of the record");
        }
        // One byte as it is (also right after a separator).
        FUZZ_CHECK(k < s.size() && s[k].unicode() == b[j], "byte %d (%02x) not shown as is",
                   j, b[j]);
        ++k;
        ++j;
        endsOnSeparator = false;
        if (j > n - 2 || b[j] == '\r')
            break;
    }
    FUZZ_CHECK(!endsOnSeparator, "ends on a separator");
    FUZZ_CHECK(k == s.size(), "result has %d characters, the record accounts for %d",
               int(s.size()), int(k));
    for (QChar c : s)
        FUZZ_CHECK(c.unicode() < 256, "character beyond Latin-1");
}

// The parser over exactly n bytes, in a buffer of exactly n bytes.
std::optional<QString> parseExact(const uint8_t *data, int n)
{
    std::unique_ptr<char[]> copy(new char[size_t(n > 0 ? n : 1)]);
    if (n > 0)
        std::memcpy(copy.get(), data, size_t(n));
    const QByteArray raw = QByteArray::fromRawData(copy.get(), n);
    return parseFeedbackRecord(raw, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const int total = int(size);
    // libFuzzer's copy of the input is exactly `size` bytes long.
    const QByteArray whole = QByteArray::fromRawData(reinterpret_cast<const char *>(data), total);

    const auto full = parseFeedbackRecord(whole, total);
    checkRecord(data, total, full);

    // n < size: the record ends at the first LF, at a few other LFs, or just
    // short of the end; the answer must not depend on what follows n.
    std::vector<int> ns = {total - 1, total - 2, 0, 1, 2};
    int lfs = 0;
    for (int i = 0; i < total && lfs < 16; ++i)
        if (data[i] == '\n') {
            ns.push_back(i + 1);
            ++lfs;
        }
    for (int n : ns) {
        if (n < 0 || n > total)
            continue;
        const auto part = parseFeedbackRecord(whole, n);
        checkRecord(data, n, part);
        FUZZ_CHECK(part == parseExact(data, n), "n=%d: result depends on bytes past n", n);
    }
    // n beyond the buffer is refused.
    FUZZ_CHECK(!parseFeedbackRecord(whole, total + 1), "n past the buffer accepted");

    // The poller: two ticks with the same count take the record and empty
    // the input.
    // The waiting bytes, held as the session holds them for the poller (at
    // most 1024).
    QByteArray input;
    const auto inject = [&](const QByteArray &bytes) { input += bytes.left(1024 - input.size()); };
    FeedbackPoller poller;
    QString text = QStringLiteral("untouched");
    if (total == 0) {
        FUZZ_CHECK(poller.tick(input, &text) == FeedbackPoller::Tick::Idle, "tick on nothing");
        return 0;
    }
    inject(whole);
    const QByteArray waiting = input;
    const int count = int(input.size());
    FUZZ_CHECK(count == std::min(total, 1024), "%d bytes waiting of %d", count, total);
    FUZZ_CHECK(poller.tick(input, &text) == FeedbackPoller::Tick::Noted, "first tick");
    FUZZ_CHECK(int(input.size()) == count, "first tick touched the input");
    FUZZ_CHECK(poller.countAtLastTick() == count, "count not noted");
    const auto second = poller.tick(input, &text);
    FUZZ_CHECK(int(input.size()) == 0, "input not emptied on the second tick");
    FUZZ_CHECK(poller.countAtLastTick() == 0, "count not reset");
    const auto expected = parseFeedbackRecord(waiting, count);
    if (expected) {
        FUZZ_CHECK(second == FeedbackPoller::Tick::Taken && text == *expected, "record not taken");
    } else {
        FUZZ_CHECK(second == FeedbackPoller::Tick::Discarded && text == u"untouched",
                   "non-record not discarded");
    }
    FUZZ_CHECK(poller.tick(input, &text) == FeedbackPoller::Tick::Idle, "third tick");

    // A stream: the input cut after every LF into pieces that arrive one by
    // one, each followed by (length % 3) ticks; a piece starting with '#'
    // finds the input emptied by someone else first. Every tick is checked
    // against the rule: no bytes = idle, a new count = noted, the same count
    // twice = the record taken (or the bytes discarded) and the input emptied.
    FeedbackPoller p2;
    input.clear();
    int last = 0;
    int start = 0;
    while (start < total) {
        int end = start;
        while (end < total && data[end] != '\n')
            ++end;
        end = std::min(end + 1, total);
        const QByteArray piece = whole.mid(start, end - start);
        start = end;
        if (piece.startsWith('#'))
            input.clear();
        inject(piece);
        for (int k = 0; k < int(piece.size() % 3); ++k) {
            const int n = int(input.size());
            const QByteArray before = input;
            QString got = QStringLiteral("untouched");
            const auto tick = p2.tick(input, &got);
            if (n == 0) {
                FUZZ_CHECK(tick == FeedbackPoller::Tick::Idle, "tick on an empty input");
            } else if (n != last) {
                FUZZ_CHECK(tick == FeedbackPoller::Tick::Noted, "new count %d (was %d) not noted",
                           n, last);
                FUZZ_CHECK(int(input.size()) == n, "noting touched the input");
                last = n;
            } else {
                const auto rec = parseFeedbackRecord(before, n);
                FUZZ_CHECK(tick == (rec ? FeedbackPoller::Tick::Taken
                                        : FeedbackPoller::Tick::Discarded),
                           "same count twice: wrong outcome");
                FUZZ_CHECK(got == (rec ? *rec : QStringLiteral("untouched")), "shown text");
                FUZZ_CHECK(int(input.size()) == 0, "input not emptied");
                last = 0;
            }
            FUZZ_CHECK(p2.countAtLastTick() == last, "poller count %d, expected %d",
                       p2.countAtLastTick(), last);
        }
    }
    return 0;
}
