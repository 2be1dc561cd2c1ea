#pragma once

#include <array>
#include <csignal>
#include <QObject>

class QSocketNotifier;
class RunSession;

// Keeps SIGINT, SIGTERM, SIGHUP and SIGQUIT (Ctrl+C, a session ending, a terminal
// closing) from ending the process in the middle of an update: during a run
// they are noted and the application quits once the run has ended; outside a
// run they quit it at once. Either way the event loop ends and main returns,
// with 128 plus the signal's number as the exit status, as a shell reports a
// process that a signal ended.
//
// The handler only writes the signal's number to a socket pair; the rest runs
// on the GUI thread when the socket notifier fires. One guard acts per
// process: while one lives, others stay idle.
class QuitSignalGuard final : public QObject
{
    Q_OBJECT

public:
    QuitSignalGuard(RunSession *session, QObject *parent);
    ~QuitSignalGuard() override;

    // The signal held during the last run until it ended; 0 when none came.
    int heldSignal() const { return deferredSignal; }

private:
    bool install();
    void readSignals();
    void signalArrived(int number);
    void runEnded();
    void quitFor(int number);
    void keepSignalsFromTheRunThread();

    RunSession *session;
    QSocketNotifier *notifier = nullptr;
    int deferredSignal = 0;
    std::array<struct sigaction, 4> previousActions{};
};
