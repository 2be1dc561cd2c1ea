#pragma once

#include <functional>
#include <QString>
#include <QtGlobal>

namespace bench {

enum class FloorBuffers {
    WholeImage, // as the engine holds it: one buffer to write from, two to compare
    OneBlock,   // 1 KiB at a time from the file: the device's own memory alone
};

// The least a program can do to update the flash with the one image of an
// update file: the very device calls the engine makes (open, unlock, two erase
// passes page by page, 1 KiB writes, 1 KiB reads back, close, with the same
// addresses and sizes), the same file reads and the same comparison, but no
// signals, no status lines and no progress. Given a folder, it first keeps the
// recovery copies there as a run does before it unlocks the flash (the pages
// to be erased read 1 KiB at a time, the update's bytes and the pre-image each
// written, flushed and named, then a small entry, written once more at the
// end as the run's history entry is) but hashes nothing. Runs on
// a thread of its own, like the engine's worker. Returns the nanoseconds it
// took, or -1 when the file cannot be read.
qint64 updateWithoutEngine(const QString &updateFile, FloorBuffers buffers = FloorBuffers::WholeImage,
                           const QString &copiesFolder = QString());

// The disk's part of those copies alone, without the flash: what the journal's
// files of an update of this file cost the disk they are kept on.
qint64 journalWithoutEngine(const QString &updateFile, const QString &folder);

// Whether the engine's run (through the window) and the floor above asked the
// simulated flash for exactly the same calls. Runs each once with the device's
// record switched on; the record is off again afterwards. why says what
// differed.
bool sameDeviceCalls(const QString &updateFile, const QString &copiesFolder,
                     const std::function<bool()> &engineRun, QString *why);

} // namespace bench
