#pragma once

#include <QObject>

class RunSession;

// While an update run is under way, the program's own thread gives way to the
// run's whenever it wakes: its scheduling class is the batch one, which never
// preempts the thread that is running. The run sends the program a report for
// every KiB it moves, and each report wakes the program's thread; on a machine
// whose one core is shared, that thread took the processor from the run at
// every report, and the flash waited while the window drew or the command line
// printed. Its share of the processor stays as it was (the same nice value), so
// the window still draws and answers the operator. The run's thread is made
// before the program's thread changes class, so that it does not inherit it;
// the ordinary class, the only one it gives up, comes back when the run ends.
class RunYield final : public QObject
{
public:
    RunYield(RunSession *session, QObject *parent);
    ~RunYield() override;

    // Whether the calling thread's scheduling class is the batch one.
    static bool threadYields();

private:
    void begin();
    void end();

    RunSession *const session;
    bool yielding = false;
};
