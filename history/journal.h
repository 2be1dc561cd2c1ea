#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where the journal of the flash lives: the system's folder, shared by every
// user of both programs through the group that owns it, or, where that folder
// is missing or cannot be written (a build run from its tree), the user's own.
namespace journal {

// The system's folder, made by the package and by the install.
inline constexpr char systemDirectory[] = "/var/lib/zarn-update-utility";
// Names another folder in its place, for tests and for a site that keeps it elsewhere.
inline constexpr char directoryVariable[] = "ZARN_JOURNAL_DIR";

struct Place
{
    // The folder entries are written to: the journal's history/ subfolder.
    QString history;
    // The system's: its files are the group's, whatever the writer's umask.
    bool shared = false;
    // Every folder entries are read from, the written one first: the system's
    // and the user's own, which earlier releases wrote to, whichever is there.
    QStringList read;
    // When the system's folder cannot be used: why, and where the history goes instead.
    QString fallback;
};

Place find();

// Makes or replaces directory/name whole with bytes, through a temporary
// name, and flushes file and folder; shared files are made readable and
// writable by the group. False, with the reason, when it cannot.
bool writeFile(const QString &directory, const QString &name, const QByteArray &bytes, bool shared,
               QString *error);

// The folder itself, with the mode a shared one needs whatever the umask.
bool makeDirectory(const QString &directory, bool shared, QString *error);

} // namespace journal
