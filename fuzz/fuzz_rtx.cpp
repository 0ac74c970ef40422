// Configuration files: decodeRtx on arbitrary bytes.
//
// A decoded table has every field within its width and without trailing
// blanks, lays out again as exactly one 260-character record, and survives a
// save and load unchanged whenever it can be saved.

#include "fuzzcheck.h"

#include "protocol/gbk.h"
#include "protocol/rtxfile.h"

#include <cstdint>
#include <optional>

using namespace vorn;

namespace {

QString fieldOf(const ChannelTexts &r, int k)
{
    switch (k) {
    case 0: return r.lower;
    case 1: return r.upper;
    case 2: return r.dot;
    case 3: return r.formula;
    case 4: return r.start1;
    default: return r.start2;
    }
}

void checkTable(const ChannelTable &t)
{
    for (int ch = 0; ch < kChannels; ++ch)
        for (int k = 0; k < 6; ++k) {
            const QString f = fieldOf(t[ch], k);
            FUZZ_CHECK(f.size() <= kRtxWidths[k], "channel %d field %d has %d characters", ch,
                       k, int(f.size()));
            FUZZ_CHECK(!f.endsWith(QLatin1Char(' ')), "channel %d field %d ends in a blank",
                       ch, k);
            FUZZ_CHECK(!f.contains(QChar(0)), "channel %d field %d holds NUL", ch, k);
        }
    FUZZ_CHECK(rtxRecord(t).size() == kRtxRecordChars, "record of %d characters",
               int(rtxRecord(t).size()));
    FUZZ_CHECK(rtxCutTexts(t).isEmpty(), "a loaded table would be cut on saving");
}

// The record a file holds, read here straight from the file rules: blanks
// before the first field skipped; a quoted field runs to the next quote (none:
// no record), an unquoted one to the first comma or line end, blanks at its
// end included; GBK; exactly 260 characters, no NUL.
std::optional<QString> recordOf(const QByteArray &b)
{
    qsizetype i = 0;
    while (i < b.size() && (b[i] == ' ' || b[i] == '\t'))
        ++i;
    QByteArray field;
    if (i < b.size() && b[i] == '"') {
        const qsizetype end = b.indexOf('"', i + 1);
        if (end < 0)
            return std::nullopt;
        field = b.mid(i + 1, end - i - 1);
    } else {
        qsizetype end = i;
        while (end < b.size() && b[end] != ',' && b[end] != '\r' && b[end] != '\n')
            ++end;
        field = b.mid(i, end - i);
    }
    if (field.contains('\0'))
        return std::nullopt;
    const auto rec = fromGbk(field);
    if (!rec || rec->size() != kRtxRecordChars)
        return std::nullopt;
    return rec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Loading never looks further into a file than this.
    if (size > size_t(kRtxReadBytes))
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString refusal;
    const auto table = decodeRtx(bytes, &refusal);
    const auto record = recordOf(bytes);
    FUZZ_CHECK(table.has_value() == record.has_value(), "decodeRtx %s a file whose record is %s",
               table ? "accepted" : "refused", record ? "whole" : "not whole");
    if (!table) {
        FUZZ_CHECK(!refusal.isEmpty(), "file refused without a reason");
        return 0;
    }
    checkTable(*table);
    // Laid out again, the table is the record it came from.
    FUZZ_CHECK(rtxRecord(*table) == *record, "table lays out as '%s', file holds '%s'",
               fuzzcheck::utf8(rtxRecord(*table)).constData(),
               fuzzcheck::utf8(*record).constData());

    QString why;
    const auto saved = encodeRtx(*table, &why);
    if (!saved) {
        FUZZ_CHECK(!why.isEmpty(), "refused without a reason");
        return 0;
    }
    FUZZ_CHECK(saved->startsWith('"') && saved->endsWith("\"\r\n"), "saved file shape: %s",
               fuzzcheck::hex(*saved).constData());
    const auto again = decodeRtx(*saved);
    FUZZ_CHECK(again.has_value(), "a saved table does not load: %s",
               fuzzcheck::hex(*saved).constData());
    for (int ch = 0; ch < kChannels; ++ch)
        for (int k = 0; k < 6; ++k)
            FUZZ_CHECK(fieldOf((*again)[ch], k) == fieldOf((*table)[ch], k),
                       "channel %d field %d: '%s' loads back as '%s'", ch, k,
                       fuzzcheck::utf8(fieldOf((*table)[ch], k)).constData(),
                       fuzzcheck::utf8(fieldOf((*again)[ch], k)).constData());
    // Saving is deterministic: the loaded table saves to the same bytes.
    FUZZ_CHECK(encodeRtx(*again) == saved, "saving the reloaded table differs");
    return 0;
}
