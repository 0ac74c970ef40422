#pragma once
// Smart setting: a channel's gain and offset from two live raw readings.
//
// The device scales a raw reading r as r * gain / 40000 + offset. "低" arms
// the capture of the low point of one channel, "高" the high point; the next
// raw-value reply fills LowRaw or HighRaw of that channel and disarms. "OK"
// computes gain and offset so that the low reading maps to the lower limit and
// the high reading to the upper limit, and sends them with the row's other
// fields.

#include "protocol/channeltable.h"

#include <array>
#include <optional>

namespace vorn {

inline constexpr int kGainScale = 40000;

struct CaptureState
{
    static constexpr int kLow = 0, kHigh = 1, kNone = 2;
    static constexpr int kNoChannel = kChannels;

    // Nothing armed at start: the first raw reply must not take a point.
    int capturePoint = kNone;
    int captureChannel = kNoChannel;
    std::array<qint32, kChannels> lowRaw{};
    std::array<qint32, kChannels> highRaw{};

    void arm(int point, int channel) { capturePoint = point; captureChannel = channel; }
    // Applies one accepted raw-value reply.
    void apply(const std::array<int, kChannels> &raw);
};

struct SmartResult
{
    int gain = 0;     // 0..32767
    int offset = 0;   // -32767..32767
};

// Gain and offset from the readings and the row's limits, or nullopt when no
// valid pair of readings exists or a value does not fit.
std::optional<SmartResult> computeSmartSetting(qint32 lowRaw, qint32 highRaw, const ChannelTexts &row);

// The 11-byte payload of the smart-setting request for one channel:
// channel, offset (sign-magnitude), gain (unsigned), decimal places, formula
// code, start value 1, start value 2. nullopt when anything does not fit.
std::optional<QByteArray> smartSettingPayload(int channel, qint32 lowRaw, qint32 highRaw,
                                              const ChannelTexts &row);

}  // namespace vorn
