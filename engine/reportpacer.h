#pragma once

#include <atomic>
#include <QSemaphore>

// Keeps a worker from running more than a fixed number of progress reports
// ahead of the window that shows them. Reports cross to the GUI thread as
// queued events; a device faster than the window can paint would otherwise
// pile them up without bound, with the lag and the memory that go with it.
//
// A window that stops handling reports altogether (its display gone, its
// thread stuck) must never hold up the flash: after one wait of maxWaitMs
// the pacer stands aside for the rest of the run.
class ReportPacer
{
public:
    explicit ReportPacer(int ahead) : room(ahead), ahead(ahead) {}

    // Worker thread, before each report.
    void beforeReport()
    {
        if (!abandoned.load(std::memory_order_relaxed) && !room.tryAcquire(1, maxWaitMs))
            abandoned.store(true, std::memory_order_relaxed);
    }

    // GUI thread, once the window has handled a report.
    void reportHandled()
    {
        // Reports sent while the pacer stood aside took no room to give back.
        if (room.available() < ahead)
            room.release();
    }

    static constexpr int maxWaitMs = 250;

private:
    QSemaphore room;
    const int ahead;
    std::atomic<bool> abandoned{false};
};
