#include "runsession.h"

RunSession::RunSession(QObject *parent) : QObject(parent) {}

void RunSession::start()
{
    running = true;
    last = RunOutcome();
    emit started();
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
