#include "protocol/channeltable.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace vorn {

ChannelTexts startTexts()
{
    return {QStringLiteral("0"), QStringLiteral("1000"), QStringLiteral("1"),
            QStringLiteral("固定关"), QStringLiteral("0"), QStringLiteral("1000")};
}

ChannelTable startTable()
{
    ChannelTable t;
    t.fill(startTexts());
    return t;
}

const QStringList &formulaNames()
{
    static const QStringList names = {
        QStringLiteral("固定关"), QStringLiteral("固定开"), QStringLiteral("大于"),
        QStringLiteral("小于"),   QStringLiteral("等于"),   QStringLiteral("范围内"),
        QStringLiteral("范围外")};
    return names;
}

static constexpr quint8 kFormulaCodes[7] = {0x00, 0x99, 0x01, 0x02, 0x03, 0x04, 0x05};

quint8 formulaCode(const QString &text)
{
    const qsizetype i = formulaNames().indexOf(text);
    return i < 0 ? 0x00 : kFormulaCodes[i];
}

QString formulaName(quint8 code)
{
    for (int i = 0; i < 7; ++i)
        if (kFormulaCodes[i] == code)
            return formulaNames().at(i);
    return formulaNames().at(0);
}

// strtod reads the decimal point of LC_NUMERIC, which QApplication takes from
// the user's environment (a comma in German, say); numbers here always have '.'.
static double strtodC(const std::string &s)
{
#ifdef _WIN32
    static const _locale_t c = _create_locale(LC_NUMERIC, "C");
    return _strtod_l(s.c_str(), nullptr, c);
#else
    static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    return strtod_l(s.c_str(), nullptr, c);
#endif
}

std::optional<double> numericValue(const QString &text)
{
    std::string s;
    s.reserve(text.size());
    for (QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        // Only ASCII can be part of a number; anything else ends it.
        s.push_back(c.unicode() < 128 ? char(c.unicode()) : '\x01');
    }
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };

    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const bool hex = s[1] == 'H' || s[1] == 'h';
        double v = 0;
        for (size_t i = 2; i < s.size(); ++i) {
            const char c = s[i];
            int d;
            if (isDigit(c)) d = c - '0';
            else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else break;
            if (!hex && d > 7) break;
            v = v * (hex ? 16 : 8) + d;
        }
        if (!std::isfinite(v))
            return std::nullopt;
        return v;
    }

    size_t i = 0;
    std::string num;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        num.push_back(s[i++]);
    size_t mantissaDigits = 0;
    while (i < s.size() && isDigit(s[i])) { num.push_back(s[i++]); ++mantissaDigits; }
    if (i < s.size() && s[i] == '.') {
        num.push_back(s[i++]);
        while (i < s.size() && isDigit(s[i])) { num.push_back(s[i++]); ++mantissaDigits; }
    }
    if (mantissaDigits == 0)
        return 0.0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        std::string exp = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exp.push_back(s[j++]);
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j]))
                exp.push_back(s[j++]);
            num += exp;
        }
    }
    const double v = strtodC(num);
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<qint32> roundToInt32(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = std::nearbyint(value);   // default mode: halves to even
    if (r < -2147483648.0 || r > 2147483647.0)
        return std::nullopt;
    return static_cast<qint32>(r);
}

QByteArray signMagnitudeWord(int v)
{
    const int m = v < 0 ? -v : v;
    QByteArray w(2, '\0');
    w[0] = char((m / 256) + (v < 0 ? 128 : 0));
    w[1] = char(m % 256);
    return w;
}

int decodeSignMagnitude(quint8 hi, quint8 lo)
{
    return hi > 127 ? -((hi - 128) * 256 + lo) : hi * 256 + lo;
}

QByteArray unsignedWord(int v)
{
    QByteArray w(2, '\0');
    w[0] = char((v >> 8) & 0xFF);
    w[1] = char(v & 0xFF);
    return w;
}

static bool fitsSigned(qint32 v) { return v >= -32767 && v <= 32767; }

std::optional<int> signedFieldOf(const QString &text)
{
    const auto v = numericValue(text);
    if (!v) return std::nullopt;
    const auto r = roundToInt32(*v);
    if (!r || !fitsSigned(*r)) return std::nullopt;
    return *r;
}

std::optional<int> lowerLimitOf(const ChannelTexts &row)
{
    return signedFieldOf(row.lower);
}

std::optional<int> spanOf(const ChannelTexts &row)
{
    const auto h = numericValue(row.upper);
    const auto l = numericValue(row.lower);
    if (!h || !l) return std::nullopt;
    const auto r = roundToInt32(*h - *l);
    if (!r || *r < 0 || *r > 32767) return std::nullopt;
    return *r;
}

std::optional<int> decimalPlacesOf(const QString &dotText)
{
    const auto v = numericValue(dotText);
    if (!v) return std::nullopt;
    const auto r = roundToInt32(*v);
    if (!r) return std::nullopt;
    const int d = *r % 4;   // keeps the dividend's sign
    if (d < 0) return std::nullopt;
    return d;
}

std::optional<QByteArray> encodeChannel(const ChannelTexts &row)
{
    const auto lower = lowerLimitOf(row);
    const auto span = spanOf(row);
    const auto dot = decimalPlacesOf(row.dot);
    const auto s1 = signedFieldOf(row.start1);
    const auto s2 = signedFieldOf(row.start2);
    if (!lower || !span || !dot || !s1 || !s2)
        return std::nullopt;
    QByteArray b;
    b.reserve(kBlockSize);
    b += signMagnitudeWord(*lower);
    b += unsignedWord(*span);
    b += char(*dot);
    b += char(formulaCode(row.formula));
    b += signMagnitudeWord(*s1);
    b += signMagnitudeWord(*s2);
    return b;
}

std::optional<QByteArray> encodeTable(const ChannelTable &table, int *failedChannel)
{
    QByteArray payload;
    payload.reserve(kChannels * kBlockSize);
    for (int ch = 0; ch < kChannels; ++ch) {
        const auto block = encodeChannel(table[ch]);
        if (!block) {
            if (failedChannel) *failedChannel = ch;
            return std::nullopt;
        }
        payload += *block;
    }
    return payload;
}

DecodedChannel decodeChannel(const char *block)
{
    const auto at = [&](int i) { return static_cast<quint8>(block[i]); };
    DecodedChannel d;
    const int lower = decodeSignMagnitude(at(0), at(1));
    d.texts.lower = QString::number(lower);
    if (at(2) >= 128) {
        d.upperValid = false;
    } else {
        const int upper = lower + at(2) * 256 + at(3);
        d.upperValid = upper >= -32768 && upper <= 32767;
        if (d.upperValid)
            d.texts.upper = QString::number(upper);
    }
    d.texts.dot = QString::number(at(4));
    d.texts.formula = formulaName(at(5));
    d.texts.start1 = QString::number(decodeSignMagnitude(at(6), at(7)));
    d.texts.start2 = QString::number(decodeSignMagnitude(at(8), at(9)));
    return d;
}

}  // namespace vorn
