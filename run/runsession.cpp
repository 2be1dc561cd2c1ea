#include "runsession.h"

#include "reportpacer.h"

RunSession::RunSession(QObject *parent) : QObject(parent) {}

void RunSession::start(std::shared_ptr<ReportPacer> pacer)
{
    this->pacer = std::move(pacer);
    running = true;
    percent = 0;
    last = RunOutcome();
    emit started();
}

void RunSession::noteProgress(int percent)
{
    if (pacer)
        pacer->reportHandled();
    if (!running || percent == this->percent)
        return;
    this->percent = percent;
    emit progressed(percent);
}

void RunSession::finish(const RunOutcome &outcome)
{
    running = false;
    hasRun = true;
    pacer.reset();
    last = outcome;
}

void RunSession::announceEnd()
{
    emit ended(last);
}
