#pragma once

#include "runoutcome.h"

#include <memory>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <QVector>

class MainWindow;
class QTimer;

namespace bench {

// When the moments of one update run happened, on the monotonic clock.
struct RunTimes
{
    bool completed =
        false; // the window showed the end of a run that succeeded, and the run's objects are gone
    qint64 handedOver = 0;  // GUI thread: the worker is moved to its thread, which starts next
    qint64 started = 0;     // worker thread: process() sends its first status line
    qint64 finished = 0;    // worker thread: the worker emits finished()
    qint64 windowDone = 0;  // GUI thread: the window's RunSession says ended(), the end shown
    QVector<qint64> lagsNs; // how late each tick of a 10 ms GUI timer came while the run was under way
    RunOutcome outcome;     // how the run ended, as the session was told
};

// Quiets the debug output for the whole process (the bench times the
// product's work, not the terminal's) and the offscreen platform's chatter;
// other warnings still show. Call before the application object exists.
void installMessageHandler();

// Drives update runs through the test kit, the way an operator does: a real
// MainWindow, shown, with the file name typed in, Update clicked and the
// confirmation accepted (runkit::startRun). The kit's RunWatcher catches the
// worker as it is moved to its thread and times the run on the worker's own
// thread; the window's end of a run is the ended() of its RunSession, which
// comes once the window has shown the end.
class WindowDriver final : public QObject
{
public:
    // lagTicks: a 10 ms timer on the GUI thread times how late its ticks
    // come; a count of the window's own work goes without it.
    explicit WindowDriver(bool lagTicks = true);
    ~WindowDriver() override;

    RunTimes run(const QString &updateFile);

    // How late each tick of the 10 ms GUI timer comes over ms with no run:
    // the floor of the lag figures.
    QVector<qint64> idleLags(int ms);

    // Shows the file's image list as "Get Image Info" does, lets it paint and
    // closes it: the window then holds what the confirmation of a run leaves
    // in it, without the run.
    void showImageList(const QString &updateFile);

    // Lets the window settle: events and timers run for this long.
    static void spin(int ms);

private:
    struct Tick
    {
        qint64 at;   // when it came
        qint64 late; // how much later than due
    };

    void tick();

    std::unique_ptr<MainWindow> window;
    QTimer *ticker = nullptr;
    qint64 lastTick = 0;
    QVector<Tick> ticks; // since the last run or idle sample began
    // The last run's end, as the window's session said it.
    qint64 endedAt = 0;
    RunOutcome outcome;
};

} // namespace bench
