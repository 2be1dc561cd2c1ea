#pragma once

#include "imageheader.h"
#include "runoutcome.h"

#include <functional>
#include <QList>
#include <QString>
#include <sys/types.h>

class QFile;

// Looks at the flash without writing to it: whether it holds an update file's
// images, and a copy of what it holds where they go. Holds the flash's lock
// meanwhile, so that no update changes it under the reading.
namespace flashaudit {

// How a look at the flash ended, in the kinds a run ends in: it succeeded (a
// verification found every image equal), the flash could not be had, a call
// failed, or (verify) images differ.
struct Outcome
{
    RunOutcome::Kind kind = RunOutcome::Kind::Succeeded;
    QString line;                  // what went wrong, for the operator
    QList<int> differing;          // verify: the images whose bytes differ
    QList<u_int32_t> firstOffsets; // verify: where each of them first differs, as a flash address
};

// Called after each image with its index, and whether it is equal (verify).
using ImageDone = std::function<void(int image, bool equal)>;

// Compares each image's own bytes (its header left out) with the flash.
Outcome verify(const QList<ImageHeader> &images, QFile &file, const ImageDone &done = {});

// Writes to out an update file with the same headers as file and, for each
// image, the bytes the flash holds where it goes: flashing it puts the flash
// back as it is now. out is written whole or not at all.
Outcome backup(const QList<ImageHeader> &images, QFile &file, const QString &out);

} // namespace flashaudit
