#pragma once

class QDir;

namespace bench {

class Table;

// The option that makes zarn-bench make the floor's device calls alone.
inline constexpr char floorOnlyOption[] = "--floor-only";

// 9. What one 1 KiB block costs in instructions, counted by callgrind so that a
// change of a microsecond shows through the noise of a shared machine: the
// engine without a window (zarn-update) and with the window (this program's
// engine-only mode), each a 2 MiB update less a 1 MiB one, beside the same
// device calls made without the engine (the simulated device's own work).
void instructionsPerBlock(const QDir &workDir, Table &table);

} // namespace bench
