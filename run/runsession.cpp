#include "runsession.h"

RunSession::RunSession(QObject *parent) : QObject(parent) {}

void RunSession::start()
{
    running = true;
    percent = 0;
    last = RunOutcome();
    emit started();
}

void RunSession::noteProgress(int percent)
{
    if (!running || percent == this->percent)
        return;
    this->percent = percent;
    emit progressed(percent);
}

void RunSession::finish(const RunOutcome &outcome)
{
    running = false;
    hasRun = true;
    last = outcome;
}

void RunSession::announceEnd()
{
    emit ended(last);
}
