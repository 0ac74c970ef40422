#pragma once
// The trend's memory: the newest sets of values in a ring taken whole at the
// start, and the points of one channel a plot of a given width needs.

#include "protocol/channeltable.h"

#include <QtGlobal>

#include <array>
#include <utility>
#include <vector>

namespace vorn {

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
