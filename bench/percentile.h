#pragma once
// Figures the benchmarks report.

#include <QtGlobal>
#include <algorithm>
#include <vector>

// Nearest-rank percentile of samples in nanoseconds, in milliseconds; -1
// without samples.
inline double percentileMs(std::vector<qint64> samples, double p)
{
    if (samples.empty())
        return -1;
    std::sort(samples.begin(), samples.end());
    size_t rank = size_t(p / 100.0 * double(samples.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, samples.size());
    return double(samples[rank - 1]) / 1e6;
}
