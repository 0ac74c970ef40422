#pragma once
// Live values of the ten channels as the device streams them: raw values, or
// the fields of a target-value record. What the window shows, the trend
// plots, the recording writes and the gateway publishes.

#include "protocol/channeltable.h"
#include "protocol/feedbackmode.h"

#include <QMetaType>

#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>
#include <utility>

namespace vorn {

// A field as a number, or NaN when it is not one ("----", "", "1.2.3").
double fieldValue(QStringView field);

// One set of live values as the device streamed it: a raw-value reply or a
// target-value record. Everything that shows, plots, records or publishes
// live values takes this one form.
//
// The values are kept as numbers; the text shown is made when it is asked
// for. A gateway takes hundreds of sets a second and needs no text for raw
// values, so a set of raw values is made without touching the heap; a
// record keeps its text as it came (one shared string) and knows where each
// field lies in it.
class LiveValues
{
public:
    FeedbackMode mode = FeedbackMode::Raw;   // Raw or Target
    // The ten values as numbers, channel 0 first: NaN where a record's field
    // is not a number ("----") or is missing. Made by fromRaw/fromRecord.
    std::array<double, kChannels> numbers;
    // Raw: the raw values; Target: 0.
    std::array<int, kChannels> raw{};

    // No values yet: every number NaN.
    LiveValues();
    static LiveValues fromRaw(const std::array<int, kChannels> &raw);
    static LiveValues fromRecord(const QString &recordText);

    // Channel i as a number, NaN when it is not one.
    double number(int channel) const { return numbers[size_t(channel)]; }
    // Channel i as shown: a raw value in decimal, a record's field as the
    // device wrote it (missing ones empty, any beyond the tenth left out).
    QString shown(int channel) const;
    QStringList shownValues() const;
    // A record's field as shown, without a copy; empty for raw values.
    QStringView field(int channel) const;
    // The value box's text: raw values one per line, each line ended; a
    // record's fields one per line as the device sent them.
    QString text() const;

private:
    QString m_record;
    // Each of a record's fields: where it begins in m_record, and its length.
    std::array<std::pair<int, int>, kChannels> m_fields{};
};

}  // namespace vorn
