#pragma once

#include "runphases.h"
#include "runrecorder.h"

#include <functional>
#include <memory>
#include <QString>
#include <QStringList>

namespace changedpages {
struct Counts;
}
class QThread;
class ReportPacer;
class RunOutcomeSlot;
class RunSession;
class UpdaterThread;
class UpdateSnapshot;
struct RunProgress;

// Starts an update run, the same way for the window and the command line: the
// worker on a thread of its own with the confirmed bytes handed to it, the
// session told when the run starts and how it ended, its history, and the
// pacing of its reports for a program that shows every one. Between prepare()
// and start() the program connects the run to whatever shows it.
class UpdateRunner
{
public:
    struct Options
    {
        QString program; // the history's name for the program
        QString signer;  // who signed the confirmed file; empty when nobody did
        // Write only the pages that do not hold the update already, counted here.
        std::shared_ptr<changedpages::Counts> onlyChanged;
        // Where the run says which image and stage it is at, for a program
        // that reads it when it redraws.
        std::shared_ptr<RunProgress> progress;
        // Each line that tells a step of the run, and each stage it enters, on
        // the run's thread, as they come.
        std::function<void(const QString &line)> stepLine;
        std::function<void(int image, RunStage stage)> stageEntered;
        // How many reports the worker may run ahead of the program; 0: no limit.
        int reportsAhead = 0;
        // Called on the run's thread, with the cause, when the history cannot be written.
        std::function<void(const QString &cause)> unrecorded;
        // The checks the operator chose to pass over, kept in the history.
        QStringList overrides;
        // Asked when the power is found too low as the run is about to start,
        // with the reason: true goes on all the same, and the history records
        // that the check was passed over. Without it, the power is not looked at.
        std::function<bool(const QString &reason)> lowPower;
        // Keep the process alive through exit() until the run has ended (a
        // window, whose display may go away).
        bool followThroughExit = false;
        // What the run is to the journal: an update keeps recovery copies
        // before it unlocks the flash unless told not to; a resume or a
        // restore writes copies kept already, whose SHA-256 it checks.
        RunRecorder::Journal journal;
        QString keptSha256;
        bool restoring = false;
    };

    struct Run
    {
        QThread *thread = nullptr;
        UpdaterThread *worker = nullptr;
        std::shared_ptr<ReportPacer> pacer;
        std::shared_ptr<RunOutcomeSlot> outcome;
        std::shared_ptr<RunRecorder> recorder;
    };

    explicit UpdateRunner(RunSession *session);

    // The thread and the worker, neither with a parent, for the snapshot the
    // operator confirmed of filename; the worker is on the thread. The session
    // is connected first, so it knows the outcome before anything else that
    // hears of the end.
    Run prepare(const QString &filename, std::shared_ptr<const UpdateSnapshot> snapshot,
                const Options &options) const;
    // After the program's own connections: the power is looked at once more;
    // the guards hear of the end once the program has shown it; then the
    // session starts, with the pacer that the program's shown progress feeds,
    // and the thread.
    // False, with the run's objects deleted and nothing started, when the power
    // is too low and the program did not go on.
    bool start(const Run &run, const Options &options) const;

    // The connections that run the worker on its thread and delete both at the
    // end, for a program that keeps no other order among its own.
    static void connectLifetime(const Run &run);

private:
    RunSession *session;
};
