#pragma once

#include <functional>
#include <memory>
#include <QString>

namespace changedpages {
struct Counts;
}
class QThread;
class ReportPacer;
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
        // How many reports the worker may run ahead of the program; 0: no limit.
        int reportsAhead = 0;
        // Called on the run's thread, with the cause, when the history cannot be written.
        std::function<void(const QString &cause)> unrecorded;
    };

    struct Run
    {
        QThread *thread = nullptr;
        UpdaterThread *worker = nullptr;
        std::shared_ptr<ReportPacer> pacer;
    };

    explicit UpdateRunner(RunSession *session);

    // The thread and the worker, neither with a parent, for the snapshot the
    // operator confirmed of filename; the worker is on the thread. The session
    // is connected first, so it knows the outcome before anything else that
    // hears of the end.
    Run prepare(const QString &filename, std::shared_ptr<const UpdateSnapshot> snapshot,
                const Options &options) const;
    // After the program's own connections: the pacer learns that a report has
    // been shown, the guards hear of the end once the program has shown it;
    // then the session starts, and the thread.
    void start(const Run &run) const;

    // The connections that run the worker on its thread and delete both at the
    // end, for a program that keeps no other order among its own.
    static void connectLifetime(const Run &run);

private:
    RunSession *session;
};
