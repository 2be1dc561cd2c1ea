#include "runyield.h"

#include "runsession.h"

#include <QTimer>
#include <sched.h>

RunYield::RunYield(RunSession *session, QObject *parent) : QObject(parent), session(session)
{
    // The session hears of a run before its thread is made, which must not
    // inherit the batch class: the change waits for the next pass of the loop.
    connect(session, &RunSession::started, this, [this] { QTimer::singleShot(0, this, &RunYield::begin); });
    connect(session, &RunSession::ended, this, &RunYield::end);
}

RunYield::~RunYield()
{
    end();
}

bool RunYield::threadYields()
{
    return sched_getscheduler(0) == SCHED_BATCH;
}

void RunYield::begin()
{
    // Only the ordinary class gives way this way; a thread given a real-time
    // or idle class by whoever started the program keeps it.
    if (yielding || !session->underWay() || sched_getscheduler(0) != SCHED_OTHER)
        return;
    const sched_param batch{};
    yielding = sched_setscheduler(0, SCHED_BATCH, &batch) == 0;
}

void RunYield::end()
{
    if (!yielding)
        return;
    yielding = false;
    const sched_param ordinary{};
    sched_setscheduler(0, SCHED_OTHER, &ordinary);
}
