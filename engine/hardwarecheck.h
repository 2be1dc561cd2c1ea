#pragma once

#include "imageheader.h"
#include "zarnsystem.h"

#include <QList>
#include <QString>

// Whether an update suits this system's hardware: every image's header names
// the least hardware value it runs on, and the mailbox answers the installed
// one ("Current HW timestamp:"); both are unsigned 32-bit numbers. Judged
// before the confirmation, and before the flash is touched.
namespace hardwarecheck {

struct Verdict
{
    // The installed value could be read.
    bool known = false;
    quint32 installed = 0;
    // The images (indexes into the list) that ask for newer hardware.
    QList<int> needNewer;
    // Empty when every image suits; otherwise what the operator is told, naming
    // each image, its requirement and the installed value, or why the installed
    // value is not known.
    QString problem;

    bool suits() const { return problem.isEmpty(); }
};

Verdict judge(const QList<ImageHeader> &images, const ZARNsystem::Versions &installed);

} // namespace hardwarecheck
