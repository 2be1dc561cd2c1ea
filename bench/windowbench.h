#pragma once

#include <QString>

namespace bench {

class Table;

// 1, 2 and 3: updates of 1 and 8 MiB through one window, against the
// device's busy time, against the same device calls made without the engine,
// and how the GUI thread fares meanwhile. quick leaves out the 8 MiB update at
// NOR speed.
// journal: a folder on the disk of the run's journal, where the floors keep
// the recovery copies a run keeps.
void windowRuns(const QString &oneMiB, const QString &eightMiB, bool quick, const QString &journal,
                Table &table);

} // namespace bench
