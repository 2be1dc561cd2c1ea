#pragma once

#include <QtGlobal>

class QDir;
class QProcessEnvironment;
class QString;
class QStringList;

namespace bench {

class Table;

// The option that makes zarn-bench make the floor's device calls alone.
inline constexpr char floorOnlyOption[] = "--floor-only";
// The option that makes zarn-bench run the window's update without a window.
inline constexpr char workerOnlyOption[] = "--worker-only";

// The instructions program executed from start to exit under callgrind, or -1.
qint64 instructions(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &environment, const QString &outFile);

// 9. What one 1 KiB block costs in instructions, counted by callgrind so that a
// change of a microsecond shows through the noise of a shared machine: the
// engine alone, started as the window starts it but with nothing connected to
// its reports (this program's worker-only mode), zarn-update, and the engine
// with the window (the engine-only mode), each a 4 MiB update less a 1 MiB
// one, beside the same device calls made without the engine (the simulated
// device's own work). What the window adds is the window's count less the
// engine's alone, each of several runs.
void instructionsPerBlock(const QDir &workDir, Table &table);

} // namespace bench
