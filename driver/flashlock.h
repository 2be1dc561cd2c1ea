#pragma once

#include <QString>
#include <QtGlobal>

// One update of the flash at a time, across processes: a run holds an
// exclusive flock(2) on its open flash device for its whole length, so the
// kernel lets it go whatever way the process ends.
namespace flashlock {

struct Attempt
{
    enum State { Held, Busy, Failed } state = Failed;
    int error = 0;     // Failed: the errno
    qint64 holder = 0; // Busy: the process holding the lock, 0 when it cannot be told
};

// Tries to take the lock on fd, an open flash device, without waiting.
Attempt tryLock(int fd);

// Whether another process holds the lock now: opens the node, tries and lets
// go at once. A node that cannot be opened is not busy; the run reports it.
Attempt probe();

// "Another update of the ZARN flash is under way (process 1234).", or what a
// zarn-update verify or backup that holds it is doing.
QString busyText(qint64 holder);

} // namespace flashlock
