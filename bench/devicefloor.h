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
// signals, no status lines and no progress. Runs on a thread of its own, like
// the engine's worker. Returns the nanoseconds it took, or -1 when the file
// cannot be read.
qint64 updateWithoutEngine(const QString &updateFile, FloorBuffers buffers = FloorBuffers::WholeImage);

// Whether the engine's run (through the window) and the floor above asked the
// simulated flash for exactly the same calls. Runs each once with the device's
// record switched on; the record is off again afterwards. why says what
// differed.
bool sameDeviceCalls(const QString &updateFile, const std::function<bool()> &engineRun, QString *why);

} // namespace bench
