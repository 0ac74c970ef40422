#include "app/samplering.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vorn {

SampleRing::SampleRing(int capacity) : m_capacity(std::max(1, capacity))
{
    m_data.resize(size_t(m_capacity));
}

void SampleRing::append(const Sample &s)
{
    if (m_size < m_capacity) {
        m_data[size_t((m_first + m_size) % m_capacity)] = s;
        ++m_size;
    } else {
        m_data[size_t(m_first)] = s;
        m_first = (m_first + 1) % m_capacity;
    }
}

void SampleRing::clear()
{
    m_first = 0;
    m_size = 0;
}

std::pair<int, int> SampleRing::window(qint64 from, qint64 to) const
{
    // Binary searches over the logical order.
    const auto lower = [this](qint64 ms) {
        int lo = 0, hi = m_size;
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (at(mid).ms < ms)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    const int first = lower(from);
    const int last = to == std::numeric_limits<qint64>::max() ? m_size : lower(to + 1);
    return {first, std::max(first, last)};
}

std::vector<PlotPoint> plotPoints(const SampleRing &ring, int first, int last, int channel, int buckets)
{
    std::vector<PlotPoint> out;
    const int n = last - first;
    if (n <= 0)
        return out;
    buckets = std::max(1, buckets);
    if (n <= 2 * buckets) {
        out.reserve(size_t(n));
        for (int i = first; i < last; ++i) {
            const Sample &s = ring.at(i);
            if (!std::isnan(s.value[channel]))
                out.push_back({double(s.ms), double(s.value[channel])});
        }
        return out;
    }
    out.reserve(size_t(2 * buckets));
    for (int b = 0; b < buckets; ++b) {
        const int from = first + int(qint64(n) * b / buckets);
        const int to = first + int(qint64(n) * (b + 1) / buckets);
        int lo = -1, hi = -1;
        for (int i = from; i < to; ++i) {
            const float v = ring.at(i).value[channel];
            if (std::isnan(v))
                continue;
            if (lo < 0 || v < ring.at(lo).value[channel])
                lo = i;
            if (hi < 0 || v > ring.at(hi).value[channel])
                hi = i;
        }
        if (lo < 0)
            continue;
        for (int i : {std::min(lo, hi), std::max(lo, hi)}) {
            out.push_back({double(ring.at(i).ms), double(ring.at(i).value[channel])});
            if (lo == hi)
                break;
        }
    }
    return out;
}

}  // namespace vorn
