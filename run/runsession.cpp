#include "runsession.h"

#include "runtexts.h"
RunSession::RunSession(QObject *parent) : QObject(parent) {}

void RunSession::start()
{
    running = true;
    lastSucceeded = false;
    lastStatus.clear();
    emit started();
}

void RunSession::noteStatus(const QString &line)
{
    lastStatus = line;
}

void RunSession::finish()
{
    running = false;
    hasRun = true;
    lastSucceeded = lastStatus == QLatin1String(updateDoneText);
}

void RunSession::announceEnd()
{
    emit ended(lastSucceeded, lastStatus);
}
