#pragma once

#include <QtGlobal>

// A run's thread sends the window a progress value or a status line for
// every KiB it moves. Each is a queued call, and each queued call wakes the
// GUI thread. Whoever delivers those calls may hand the reports over in a
// bundle instead, in the order they were sent, and needs to tell them apart
// from the run's other calls: this is how the run marks them.
namespace reportsending {

// What the calling thread has sent so far; each thread has its own.
struct Count
{
    quint64 sent = 0;  // reports emitted
    quint64 taken = 0; // the number of the last report a deliverer took in hand
    bool sending = false;
};

Count &thisThread();

// Around one emission of a report.
class Report
{
public:
    Report()
    {
        Count &count = thisThread();
        ++count.sent;
        count.sending = true;
    }
    ~Report() { thisThread().sending = false; }
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;
};

} // namespace reportsending
