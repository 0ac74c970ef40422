// The text-to-number rule and the channel block built from six texts.
//
// Input (FuzzedDataProvider): six texts (UTF-8, split the libFuzzer way:
// backslash + any other byte ends a text) for lower, upper, decimal places,
// formula, start 1, start 2; from the end: two raw readings, a channel, then
// doubles for the rounding check.
//
// numericValue is checked against a parser written here on std::from_chars
// (which knows no locale), blanks anywhere must not matter, roundToInt32
// must be nearest-even rounding within 32 bits, and a block that encodes must
// decode to the rounded values. The smart setting built from the same row and
// two raw readings stays within its fields.

#include "fuzzcheck.h"

#include "protocol/channeltable.h"
#include "protocol/smartsetting.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

using namespace vorn;

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }

QString stripped(const QString &t)
{
    QString s;
    for (QChar c : t)
        if (!isBlank(c))
            s += c;
    return s;
}

// Blanks put back between every character.
QString spread(const QString &t)
{
    static const QChar blanks[3] = {u' ', u'\t', u'\n'};
    QString s = QStringLiteral(" ");
    int i = 0;
    for (QChar c : t) {
        s += c;
        s += blanks[i++ % 3];
    }
    return s;
}

bool same(const std::optional<double> &a, const std::optional<double> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    return std::memcmp(&*a, &*b, sizeof(double)) == 0;
}

std::string show(const std::optional<double> &v)
{
    if (!v)
        return "none";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, *v);
    return std::string(buf, r.ptr);
}

bool digit(char c) { return c >= '0' && c <= '9'; }

enum class Ref { Value, Overflow, Small, Unknown };

// The leading number of an already blank-free text.
Ref reference(const QString &text, double *value)
{
    std::string s;
    for (QChar c : text)
        s.push_back(c.unicode() < 128 ? char(c.unicode()) : '\x01');

    if (s.size() >= 2 && s[0] == '&' && std::strchr("HhOo", s[1]) && s[1] != 0) {
        const bool hex = s[1] == 'H' || s[1] == 'h';
        uint64_t v = 0;
        for (size_t i = 2; i < s.size(); ++i) {
            int d;
            const char c = s[i];
            if (digit(c)) d = c - '0';
            else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else break;
            if (!hex && d > 7) break;
            if (v >= (uint64_t(1) << 48))
                return Ref::Unknown;   // past what a double holds exactly
            v = v * (hex ? 16 : 8) + uint64_t(d);
        }
        *value = double(v);
        return Ref::Value;
    }

    size_t i = 0;
    std::string num;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (negative)
        num.push_back('-');
    std::string intDigits, fracDigits;
    while (i < s.size() && digit(s[i])) intDigits.push_back(s[i++]);
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && digit(s[i])) fracDigits.push_back(s[i++]);
    }
    if (intDigits.empty() && fracDigits.empty()) {
        *value = 0.0;
        return Ref::Value;
    }
    num += (intDigits.empty() ? std::string("0") : intDigits) + "." + fracDigits + "0";
    long exponent = 0;
    if (i < s.size() && std::strchr("eEdD", s[i]) && s[i] != 0) {
        size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            expNegative = s[j++] == '-';
        if (j < s.size() && digit(s[j])) {
            std::string e;
            while (j < s.size() && digit(s[j])) {
                if (exponent < 100000000)
                    exponent = exponent * 10 + (s[j] - '0');
                e.push_back(s[j++]);
            }
            if (expNegative)
                exponent = -exponent;
            num += std::string("e") + (expNegative ? "-" : "") + e;
        }
    }
    double v = 0;
    const auto r = std::from_chars(num.data(), num.data() + num.size(), v);
    FUZZ_CHECK(r.ptr == num.data() + num.size() || r.ec != std::errc(), "reference parse of %s",
               num.c_str());
    if (r.ec == std::errc()) {
        *value = v;
        return Ref::Value;
    }
    if (r.ec != std::errc::result_out_of_range)
        return Ref::Unknown;
    // Out of range: which side, from the position of the first non-zero digit.
    const size_t firstInt = intDigits.find_first_not_of('0');
    long magnitude;
    if (firstInt != std::string::npos) {
        magnitude = long(intDigits.size() - firstInt) - 1 + exponent;
    } else {
        const size_t firstFrac = fracDigits.find_first_not_of('0');
        if (firstFrac == std::string::npos) {
            *value = negative ? -0.0 : 0.0;
            return Ref::Value;
        }
        magnitude = -long(firstFrac) - 1 + exponent;
    }
    if (magnitude > 300)
        return Ref::Overflow;
    if (magnitude < -300)
        return Ref::Small;
    return Ref::Unknown;
}

void checkNumeric(const QString &t)
{
    const auto v = numericValue(t);
    const QString bare = stripped(t);
    const auto vBare = numericValue(bare);
    const auto vSpread = numericValue(spread(bare));
    FUZZ_CHECK(same(v, vBare), "'%s' gives %s, without blanks %s", fuzzcheck::utf8(t).constData(),
               show(v).c_str(), show(vBare).c_str());
    FUZZ_CHECK(same(v, vSpread), "'%s' gives %s, with blanks %s", fuzzcheck::utf8(t).constData(),
               show(v).c_str(), show(vSpread).c_str());
    FUZZ_CHECK(!v || std::isfinite(*v), "non-finite value");

    double want = 0;
    switch (reference(bare, &want)) {
    case Ref::Value:
        FUZZ_CHECK(same(v, want),
                   "'%s' gives %s, expected %s", fuzzcheck::utf8(t).constData(), show(v).c_str(),
                   show(want).c_str());
        break;
    case Ref::Overflow:
        FUZZ_CHECK(!v, "'%s' overflows but gives %s", fuzzcheck::utf8(t).constData(),
                   show(v).c_str());
        break;
    case Ref::Small:
        FUZZ_CHECK(v && std::fabs(*v) < DBL_MIN, "'%s' underflows but gives %s",
                   fuzzcheck::utf8(t).constData(), show(v).c_str());
        break;
    case Ref::Unknown:
        break;
    }
}

void checkRounding(double x)
{
    const auto r = roundToInt32(x);
    if (!std::isfinite(x)) {
        FUZZ_CHECK(!r, "rounded a non-finite value");
        return;
    }
    const double n = std::nearbyint(x);
    const bool fits = n >= -2147483648.0 && n <= 2147483647.0;
    FUZZ_CHECK(r.has_value() == fits, "roundToInt32(%.17g) fits=%d", x, int(fits));
    if (!r)
        return;
    FUZZ_CHECK(double(*r) == n, "roundToInt32(%.17g) = %d, nearbyint %.17g", x, *r, n);
    // Nearest, and exact halves to the even neighbour.
    const double d = std::fabs(double(*r) - x);
    FUZZ_CHECK(d <= 0.5, "roundToInt32(%.17g) = %d is not nearest", x, *r);
    if (d == 0.5)
        FUZZ_CHECK(*r % 2 == 0, "roundToInt32(%.17g) = %d: half not to even", x, *r);
}

std::optional<int> rounded(const std::optional<double> &v)
{
    if (!v || !std::isfinite(*v))
        return std::nullopt;
    const double n = std::nearbyint(*v);
    if (n < -2147483648.0 || n > 2147483647.0)
        return std::nullopt;
    return int(n);
}

int signMagnitude(const QByteArray &b, int at)
{
    const int hi = static_cast<unsigned char>(b[at]);
    const int lo = static_cast<unsigned char>(b[at + 1]);
    const int m = ((hi & 0x7F) << 8) | lo;
    return (hi & 0x80) ? -m : m;
}

void checkChannel(const ChannelTexts &row)
{
    const auto lower = rounded(numericValue(row.lower));
    const auto l = numericValue(row.lower), h = numericValue(row.upper);
    const auto span = (l && h) ? rounded(*h - *l) : std::nullopt;
    const auto dotRaw = rounded(numericValue(row.dot));
    const auto s1 = rounded(numericValue(row.start1));
    const auto s2 = rounded(numericValue(row.start2));
    const auto fitsSigned = [](const std::optional<int> &v) {
        return v && *v >= -32767 && *v <= 32767;
    };
    const bool fits = fitsSigned(lower) && span && *span >= 0 && *span <= 32767 && dotRaw
                      && *dotRaw % 4 >= 0 && fitsSigned(s1) && fitsSigned(s2);

    const auto block = encodeChannel(row);
    FUZZ_CHECK(block.has_value() == fits, "encodeChannel %s, expected %s",
               block ? "succeeded" : "failed", fits ? "success" : "failure");
    if (!block)
        return;
    FUZZ_CHECK(block->size() == kBlockSize, "block of %d bytes", int(block->size()));
    const QByteArray &b = *block;
    const auto u = [&](int i) { return int(static_cast<unsigned char>(b[i])); };
    FUZZ_CHECK(signMagnitude(b, 0) == *lower, "lower word");
    FUZZ_CHECK(!(u(0) == 0x80 && u(1) == 0), "negative zero written");
    FUZZ_CHECK(u(2) < 128 && u(2) * 256 + u(3) == *span, "span word");
    FUZZ_CHECK(u(4) <= 3 && u(4) == *dotRaw % 4, "decimal places byte %d", u(4));
    FUZZ_CHECK(u(5) == formulaCode(row.formula), "formula byte");
    FUZZ_CHECK(signMagnitude(b, 6) == *s1 && signMagnitude(b, 8) == *s2, "start words");

    const DecodedChannel d = decodeChannel(b.constData());
    bool ok = false;
    FUZZ_CHECK(d.texts.lower.toInt(&ok) == *lower && ok, "decoded lower");
    FUZZ_CHECK(d.texts.start1.toInt(&ok) == *s1 && ok, "decoded start1");
    FUZZ_CHECK(d.texts.start2.toInt(&ok) == *s2 && ok, "decoded start2");
    FUZZ_CHECK(d.texts.dot.toInt(&ok) == u(4) && ok, "decoded dot");
    FUZZ_CHECK(d.upperValid == (*lower + *span <= 32767), "decoded upperValid");
    if (d.upperValid)
        FUZZ_CHECK(d.texts.upper.toInt(&ok) == *lower + *span && ok, "decoded upper");
    FUZZ_CHECK(formulaCode(d.texts.formula) == u(5), "decoded formula");
    // And the decoded texts encode to the same block.
    if (d.upperValid)
        FUZZ_CHECK(encodeChannel(d.texts) == block, "decoded row encodes differently");
}

// Smart setting from two raw readings: gain and offset in range, and the
// request payload carrying them with the row's other fields.
void checkSmart(const ChannelTexts &row, int channel, qint32 lowRaw, qint32 highRaw)
{
    const auto r = computeSmartSetting(lowRaw, highRaw, row);
    if (r) {
        FUZZ_CHECK(lowRaw != highRaw, "smart setting from two equal readings");
        FUZZ_CHECK(r->gain >= 0 && r->gain <= 32767, "gain %d", r->gain);
        FUZZ_CHECK(r->offset >= -32767 && r->offset <= 32767, "offset %d", r->offset);
    }
    const auto p = smartSettingPayload(channel, lowRaw, highRaw, row);
    const bool channelOk = channel >= 0 && channel < kChannels;
    const auto dot = rounded(numericValue(row.dot));
    const auto s1 = rounded(numericValue(row.start1));
    const auto s2 = rounded(numericValue(row.start2));
    const auto fitsSigned = [](const std::optional<int> &v) {
        return v && *v >= -32767 && *v <= 32767;
    };
    const bool fits = channelOk && r && dot && *dot % 4 >= 0 && fitsSigned(s1) && fitsSigned(s2);
    FUZZ_CHECK(p.has_value() == fits, "smart payload %s, expected %s", p ? "built" : "refused",
               fits ? "built" : "refused");
    if (!p)
        return;
    const QByteArray &b = *p;
    FUZZ_CHECK(b.size() == 11, "smart payload of %d bytes", int(b.size()));
    const auto u = [&](int i) { return int(static_cast<unsigned char>(b[i])); };
    FUZZ_CHECK(u(0) == channel, "channel byte");
    FUZZ_CHECK(signMagnitude(b, 1) == r->offset && !(u(1) == 0x80 && u(2) == 0), "offset word");
    FUZZ_CHECK(u(3) * 256 + u(4) == r->gain, "gain word");
    FUZZ_CHECK(u(5) == *dot % 4 && u(6) == formulaCode(row.formula), "dot and formula bytes");
    FUZZ_CHECK(signMagnitude(b, 7) == *s1 && signMagnitude(b, 9) == *s2, "start words");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider fdp(data, size);
    QString texts[6];
    for (QString &t : texts)
        t = QString::fromStdString(fdp.ConsumeRandomLengthString(64));

    for (const QString &t : texts) {
        checkNumeric(t);
        if (const auto v = numericValue(t)) {
            checkRounding(*v);
            checkRounding(*v + 0.5);
            checkRounding(*v - 0.5);
        }
    }
    // Raw readings as the device sends them (0..65535), now and then any
    // 32-bit value; the channel mostly valid.
    const bool wideRaw = fdp.ConsumeBool();
    const qint32 lowRaw = wideRaw ? fdp.ConsumeIntegral<qint32>() : fdp.ConsumeIntegral<quint16>();
    const qint32 highRaw = wideRaw ? fdp.ConsumeIntegral<qint32>() : fdp.ConsumeIntegral<quint16>();
    const int channel = fdp.ConsumeIntegralInRange<int>(-1, kChannels);

    while (fdp.remaining_bytes() >= sizeof(double)) {
        checkRounding(fdp.ConsumeFloatingPoint<double>());
        double raw;
        const auto bytes = fdp.ConsumeBytes<uint8_t>(sizeof(double));
        if (bytes.size() == sizeof(double)) {
            std::memcpy(&raw, bytes.data(), sizeof raw);
            checkRounding(raw);
        }
    }

    ChannelTexts row{texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]};
    checkChannel(row);
    // The same row with each of the seven formula names.
    const int pick = texts[3].isEmpty() ? 0 : texts[3].at(0).unicode() % 7;
    row.formula = formulaNames().at(pick);
    checkChannel(row);
    checkSmart(row, channel, lowRaw, highRaw);
    return 0;
}
