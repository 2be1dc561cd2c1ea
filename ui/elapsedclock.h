#pragma once

#include <QElapsedTimer>

// Reads the elapsed milliseconds of a run's timer. Production code always reads
// the timer itself; tests pin the clock by installing a source of their own, so
// the window's arithmetic runs unchanged on known values.
namespace elapsedclock {

using Source = qint64 (*)(const QElapsedTimer &timer);

qint64 read(const QElapsedTimer &timer);
void setSource(Source source); // nullptr restores the real clock

} // namespace elapsedclock
