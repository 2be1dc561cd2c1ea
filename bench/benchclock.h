#pragma once

#include <algorithm>
#include <chrono>
#include <QtGlobal>
#include <QVector>

namespace bench {

// Nanoseconds of the monotonic clock, comparable across threads and, as
// CLOCK_MONOTONIC, across processes; 0 for the clock's epoch, a moment that
// never came.
inline qint64 ns(std::chrono::steady_clock::time_point moment)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(moment.time_since_epoch()).count();
}

inline qint64 nowNs()
{
    return ns(std::chrono::steady_clock::now());
}

inline constexpr double nsPerMs = 1e6;
inline constexpr double nsPerS = 1e9;
inline constexpr double bytesPerMiB = 1024.0 * 1024.0;

// The value below which the given share of the samples lies (nearest rank).
template <typename T> T percentile(QVector<T> samples, double share)
{
    if (samples.isEmpty())
        return T();
    std::sort(samples.begin(), samples.end());
    const int rank = qBound(0, int(share * samples.size() + 0.999999) - 1, samples.size() - 1);
    return samples.at(rank);
}

template <typename T> T median(const QVector<T> &samples)
{
    return percentile(samples, 0.5);
}

template <typename T> T minimum(const QVector<T> &samples)
{
    return samples.isEmpty() ? T() : *std::min_element(samples.begin(), samples.end());
}

template <typename T> T maximum(const QVector<T> &samples)
{
    return samples.isEmpty() ? T() : *std::max_element(samples.begin(), samples.end());
}

} // namespace bench
