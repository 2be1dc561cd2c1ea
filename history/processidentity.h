#pragma once

#include <QString>
#include <QtGlobal>

// Who ran an update. A process number names one process on one boot of the
// machine, and only while it lives: after a restart, or once the number has
// gone to another process, it names someone else. The boot's id and the
// process's start time, kept beside the number, tell the two apart.
namespace processidentity {

struct Identity
{
    QString boot;          // the kernel's id of this boot; empty when it cannot be read
    qint64 startTicks = 0; // clock ticks from the boot to the process's start; 0 when unknown
};

Identity of(qint64 pid);

// Whether the process that was pid, with what was noted of it then, has ended:
// its number is no process's, this is another boot, or the number's process
// started at another time. What was not noted (an older entry) is not judged.
bool gone(qint64 pid, const Identity &noted);

} // namespace processidentity
