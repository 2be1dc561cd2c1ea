#include "runsession.h"

#include "runtexts.h"

#include <QMetaObject>

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
    lastSucceeded = lastStatus == QLatin1String(updateDoneText);
    // The window's own end-of-run slot was queued with the same finished()
    // before this; the guards hear of the end once it has run.
    QMetaObject::invokeMethod(
        this, [this] { emit ended(lastSucceeded, lastStatus); }, Qt::QueuedConnection);
}
