#pragma once
// Live values of the ten channels as the device streams them: raw values, or
// the fields of a target-value record. What the trend keeps and what the
// recording writes.

#include "protocol/channeltable.h"

#include <QMetaType>

#include <QString>
#include <QStringList>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace vorn {

// What the device streams; the number is the request's payload byte.
enum class FeedbackMode { Target = 0, Raw = 1, Off = 2 };

// A field as a number, or NaN when it is not one ("----", "", "1.2.3").
double fieldValue(const QString &field);

// One set of live values as the device streamed it: a raw-value reply or a
// target-value record. Everything that shows, plots, records or publishes
// live values takes this one form.
struct LiveValues
{
    FeedbackMode mode = FeedbackMode::Raw;   // Raw or Target
    // The ten values as shown, channel 0 first: raw values in decimal, or a
    // record's fields (missing ones empty, any beyond the tenth left out).
    QStringList values;
    // The value box's text: raw values one per line, each line ended; a
    // record's fields one per line as the device sent them.
    QString text;

    static LiveValues fromRaw(const std::array<int, kChannels> &raw);
    static LiveValues fromRecord(const QString &recordText);
    // Channel i as a number, NaN when it is not one.
    double number(int channel) const { return fieldValue(values.value(channel)); }
};

// One set of ten values at one moment.
struct Sample
{
    qint64 ms = 0;                          // milliseconds since the epoch
    std::array<float, kChannels> value{};   // NaN: not a number
};

// The newest samples, at most capacity of them, oldest first; samples are
// appended in time order.
class SampleRing
{
public:
    explicit SampleRing(int capacity);
    void append(const Sample &s);
    void clear();
    int size() const { return m_size; }
    int capacity() const { return m_capacity; }
    const Sample &at(int i) const { return m_data[(m_first + i) % m_data.size()]; }
    // The samples with from <= ms <= to, as [first, last).
    std::pair<int, int> window(qint64 from, qint64 to) const;

private:
    // Taken whole at the start, so that memory stands still however long
    // values come; the newest sample overwrites the oldest once it is full.
    std::vector<Sample> m_data;
    int m_capacity;
    int m_first = 0;
    int m_size = 0;
};

// Points of one channel over [first, last) for a plot `buckets` wide: every
// sample when they fit, otherwise the lowest and highest of each bucket, in
// time order. Samples that are not numbers are left out. x is ms since the
// epoch.
struct PlotPoint { double x; double y; };
std::vector<PlotPoint> plotPoints(const SampleRing &ring, int first, int last, int channel, int buckets);

}  // namespace vorn
