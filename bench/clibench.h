#pragma once

#include <QString>
#include <QtGlobal>

namespace bench {

class Table;

// 7. zarn-update's update against the device's own busy time at the timing
// given ("nor", "fast"): the command line in a process of its own, the
// simulated device preloaded.
void commandLineUpdate(const QString &file, quint32 size, const QString &timing, const QString &workDir,
                       Table &table);

// 8. zarn-update update --only-changed beside the full update of the same
// file, in one run: the file again, then a file with one image of three changed.
void onlyChanged(quint32 size, const QString &workDir, Table &table);

} // namespace bench
