#pragma once
// The ten-row channel table: texts as typed, the text-to-number rule, field
// limits, and the 10-byte channel block that carries one row on the wire.
//
// Block layout (all words high byte first):
//   0-1 lower limit      sign-magnitude (bit 15 = negative), -32767..32767
//   2-3 span             upper - lower, unsigned 0..32767
//   4   decimal places   0..3
//   5   formula code     00 固定关, 99 固定开, 01 大于, 02 小于, 03 等于, 04 范围内, 05 范围外
//   6-7 start value 1    sign-magnitude
//   8-9 start value 2    sign-magnitude

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace vorn {

inline constexpr int kChannels = 10;
inline constexpr int kBlockSize = 10;

struct ChannelTexts
{
    QString lower;
    QString upper;
    QString dot;
    QString formula;
    QString start1;
    QString start2;
    bool operator==(const ChannelTexts &) const = default;
};
using ChannelTable = std::array<ChannelTexts, kChannels>;

// The texts every row starts with: 0, 1000, 1, 固定关, 0, 1000.
ChannelTexts startTexts();
ChannelTable startTable();

// The seven formula names in list order.
const QStringList &formulaNames();
// Whole-text match against the list; anything else is 0x00 (固定关).
quint8 formulaCode(const QString &text);
// Code to name; unknown codes show as 固定关.
QString formulaName(quint8 code);

// Numeric value of a text: blanks (space, tab, line feed) anywhere ignored,
// then the longest leading number: sign, digits, decimal point, exponent, or
// &H hex / &O octal. No leading number gives 0. nullopt when the number is
// too large to be represented at all (1e309).
std::optional<double> numericValue(const QString &text);
// Nearest integer, exact halves to the even neighbour; nullopt outside 32 bits.
std::optional<qint32> roundToInt32(double value);

// Sign-magnitude word for -32767..32767.
QByteArray signMagnitudeWord(int value);
int decodeSignMagnitude(quint8 hi, quint8 lo);
QByteArray unsignedWord(int value);

// Field conversions as an operation runs them; nullopt = does not fit.
std::optional<int> lowerLimitOf(const ChannelTexts &row);
std::optional<int> spanOf(const ChannelTexts &row);
std::optional<int> decimalPlacesOf(const QString &dotText);
std::optional<int> signedFieldOf(const QString &text);   // lower limit, start values

// Ten bytes, or nullopt when any field does not fit.
std::optional<QByteArray> encodeChannel(const ChannelTexts &row);
// The 100-byte payload of all ten rows, or nullopt when any field of any row
// does not fit (then the failing channel goes to *failedChannel).
std::optional<QByteArray> encodeTable(const ChannelTable &table, int *failedChannel = nullptr);

struct DecodedChannel
{
    ChannelTexts texts;
    // False when the upper limit has no text (span high byte >= 128, or
    // lower + span outside -32768..32767); texts.upper is then empty and the
    // row's upper limit text must stay as it was.
    bool upperValid = true;
};
// block must hold at least 10 bytes.
DecodedChannel decodeChannel(const char *block);

}  // namespace vorn
