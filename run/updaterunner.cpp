#include "updaterunner.h"

#include "powercheck.h"
#include "reportpacer.h"
#include "runhistory.h"
#include "runlifeline.h"
#include "runoutcome.h"
#include "runsession.h"
#include "updaterthread.h"

#include <QDebug>
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
    run.worker->setSnapshot(std::move(snapshot));
    run.worker->setOnlyChanged(options.onlyChanged);
    run.worker->setProgressWatch(options.progress);
    auto recorder = std::make_shared<RunRecorder>(RunHistory(), options.program);
    recorder->setSigner(options.signer);
    recorder->setUnrecordedHandler(options.unrecorded);
    recorder->setOverrides(options.overrides);
    run.worker->setRunRecorder(std::move(recorder));
    if (options.reportsAhead > 0) {
        run.pacer = std::make_shared<ReportPacer>(options.reportsAhead);
        run.worker->setReportPacer(run.pacer);
    }
    const auto outcome = std::make_shared<RunOutcomeSlot>();
    run.outcome = outcome;
    run.worker->setOutcome(outcome);
    run.worker->moveToThread(run.thread);
    RunSession *const told = session;
    QObject::connect(run.worker, &UpdaterThread::finished, told,
                     [told, outcome] { told->finish(outcome->read()); });
    return run;
}

bool UpdateRunner::start(const Run &run, const Options &options) const
{
    if (options.lowPower) {
        const powercheck::Reading power = powercheck::read(QDBusConnection::systemBus());
        if (power.source == powercheck::Reading::Source::Unknown)
            qDebug() << QStringLiteral("The power is not checked: ") + power.why;
        const QString refusal = powercheck::refusal(power);
        if (!refusal.isEmpty() && !options.lowPower(refusal)) {
            delete run.worker;
            delete run.thread;
            return false;
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
