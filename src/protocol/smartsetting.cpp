#include "protocol/smartsetting.h"

namespace vorn {

void CaptureState::apply(const std::array<int, kChannels> &raw)
{
    for (int i = 0; i < kChannels; ++i) {
        if (captureChannel != i)
            continue;
        if (capturePoint == kLow) {
            lowRaw[i] = raw[i];
            capturePoint = kNone;
        } else if (capturePoint == kHigh) {
            highRaw[i] = raw[i];
            capturePoint = kNone;
        }
        captureChannel = kNoChannel;
    }
}

std::optional<SmartResult> computeSmartSetting(qint32 lowRaw, qint32 highRaw, const ChannelTexts &row)
{
    const auto l = numericValue(row.lower);
    const auto h = numericValue(row.upper);
    if (!l || !h)
        return std::nullopt;
    const auto t = roundToInt32((*h - *l) * kGainScale);
    if (!t)
        return std::nullopt;
    const qint64 d = qint64(highRaw) - qint64(lowRaw);
    if (d == 0)
        return std::nullopt;
    const qint64 gain = qint64(*t) / d;   // truncates toward zero
    if (gain < 0 || gain > 32767)
        return std::nullopt;
    const qint64 p = qint64(lowRaw) * gain;
    if (p < INT32_MIN || p > INT32_MAX)
        return std::nullopt;
    const qint64 q = p / kGainScale;
    const auto offset = roundToInt32(*l - double(q));
    if (!offset || *offset < -32767 || *offset > 32767)
        return std::nullopt;
    return SmartResult{int(gain), *offset};
}

std::optional<QByteArray> smartSettingPayload(int channel, qint32 lowRaw, qint32 highRaw,
                                              const ChannelTexts &row)
{
    if (channel < 0 || channel >= kChannels)
        return std::nullopt;
    const auto r = computeSmartSetting(lowRaw, highRaw, row);
    const auto dot = decimalPlacesOf(row.dot);
    const auto s1 = signedFieldOf(row.start1);
    const auto s2 = signedFieldOf(row.start2);
    if (!r || !dot || !s1 || !s2)
        return std::nullopt;
    QByteArray p;
    p += char(channel);
    p += signMagnitudeWord(r->offset);
    p += unsignedWord(r->gain);
    p += char(*dot);
    p += char(formulaCode(row.formula));
    p += signMagnitudeWord(*s1);
    p += signMagnitudeWord(*s2);
    return p;
}

}  // namespace vorn
