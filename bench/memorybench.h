#pragma once

#include <QDir>
#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

namespace bench {

class Table;

// 4. Peak memory of an update, one child process per case, against the idle
// window after the same device calls.
void memory(const QList<QPair<QString, quint32>> &files, Table &table);
// 6. "Get Image Info" on long lists, one child process per list.
void imageLists(const QDir &dir, Table &table);

// What the child processes of both run: the benchmark calls itself with one of
// these first arguments.
inline constexpr char memoryChildOption[] = "--memory-child";
inline constexpr char listChildOption[] = "--list-child";
int memoryChild(const QString &mode, const QString &file);
int listChild(const QString &file);

} // namespace bench
