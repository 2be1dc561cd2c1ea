#include "updaterunner.h"

#include "preflight.h"
#include "reportpacer.h"
#include "runlifeline.h"
#include "runoutcome.h"
#include "runrecorder.h"
#include "runsession.h"
#include "sitesettings.h"
#include "updaterthread.h"

#include <limits>
#include <QThread>

UpdateRunner::UpdateRunner(RunSession *session) : session(session) {}

UpdateRunner::Run UpdateRunner::prepare(const QString &filename,
                                        std::shared_ptr<const UpdateSnapshot> snapshot,
                                        const Options &options) const
{
    Run run;
    run.thread = new QThread;
    run.worker = new UpdaterThread(nullptr);
    run.worker->setFilename(filename);
    RunSetup setup;
    setup.snapshot = std::move(snapshot);
    setup.onlyChanged = options.onlyChanged;
    setup.progress = options.progress;
    setup.stepLine = options.stepLine;
    setup.stageEntered = options.stageEntered;
    run.recorder = std::make_shared<RunRecorder>(RunHistory(), options.program);
    run.recorder->setSigner(options.signer);
    run.recorder->setUnrecordedHandler(options.unrecorded);
    run.recorder->setOverrides(options.overrides);
    RunRecorder::Journal journal = options.journal;
    // A site whose settings cannot be used has its copies kept, all of them.
    const sitesettings::Settings site = sitesettings::read();
    journal.keep = site.usable() ? site.recoveryKeep : std::numeric_limits<int>::max();
    // Listed here, on the program's thread: the run's thread lists nothing of
    // the journal, so that nothing it needs of the toolkit can be torn down
    // under it when the process exits during a run.
    for (const HistoryEntry &earlier : RunHistory().unfinished())
        journal.settles << earlier.id;
    run.recorder->setJournal(journal);
    setup.keptSha256 = options.keptSha256;
    setup.restoring = options.restoring;
    setup.recorder = run.recorder;
    if (options.reportsAhead > 0) {
        run.pacer = std::make_shared<ReportPacer>(options.reportsAhead);
        setup.pacer = run.pacer;
    }
    const auto outcome = std::make_shared<RunOutcomeSlot>();
    run.outcome = outcome;
    setup.outcome = outcome;
    run.worker->setup(std::move(setup));
    run.worker->moveToThread(run.thread);
    RunSession *const told = session;
    const std::shared_ptr<RunRecorder> recorder = run.recorder;
    QObject::connect(run.worker, &UpdaterThread::finished, told, [told, outcome, recorder] {
        told->finish(outcome->read());
        recorder->prune();
    });
    return run;
}

bool UpdateRunner::start(const Run &run, const Options &options) const
{
    if (options.lowPower) {
        if (const std::optional<preflight::Concern> power = preflight::powerConcern()) {
            if (!options.lowPower(power->reason)) {
                delete run.worker;
                delete run.thread;
                return false;
            }
            run.recorder->passOver(QLatin1String(power->overrideName()));
        }
    }
    if (options.followThroughExit)
        runlifeline::follow(run.worker, run.outcome);
    QObject::connect(run.worker, &UpdaterThread::finished, session, &RunSession::announceEnd);
    // The guards set up what the run's thread inherits before it exists.
    session->start(run.pacer);
    run.thread->start(QThread::InheritPriority);
    return true;
}

void UpdateRunner::connectLifetime(const Run &run)
{
    QObject::connect(run.thread, &QThread::started, run.worker, &UpdaterThread::process);
    QObject::connect(run.worker, &UpdaterThread::finished, run.thread, &QThread::quit);
    QObject::connect(run.worker, &UpdaterThread::finished, run.worker, &QObject::deleteLater);
    QObject::connect(run.thread, &QThread::finished, run.thread, &QObject::deleteLater);
}
