#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace bench {

class Table;

// Starts program with its arguments and the given preloads, offscreen, and returns the
// nanoseconds from just before the process was spawned to its first window
// painted (reported by the kit's programdriver, preloaded as the probe), or -1
// on failure.
qint64 timeToShown(const QString &program, const QStringList &arguments, const QStringList &preloads);

// 5. The real executable against a bare QMainWindow program, both started the
// same way; to tell the font system's share, a bare window with text; and the
// utility's form shown by a program that does nothing else.
void startup(Table &table);

} // namespace bench
