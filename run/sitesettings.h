#pragma once

#include <QString>
#include <QStringList>

// The site's settings: an INI-like file of sections ("[power]"), settings
// under them ("minimum-battery-percent=60") and comment lines ('#' or ';').
// Names are matched exactly, case included. What the site writes is never
// passed over without a word: a section or a key this program does not know is
// said with the file and the line; a file that is there but cannot be read, a
// line that is none of these, a key given twice or a value out of its range
// makes the whole file unusable, and whoever depends on it refuses.
namespace sitesettings {

inline constexpr char defaultPath[] = "/etc/zarn-update-utility/update.conf";
// A few sections of a few lines each; more is not a settings file.
inline constexpr qint64 maxBytes = 64 * 1024;
inline constexpr int defaultMinimumBatteryPercent = 30;
inline constexpr int defaultRecoveryKeep = 2;

struct Settings
{
    int minimumBatteryPercent = defaultMinimumBatteryPercent;
    // How many of the newest updates keep their recovery copies.
    int recoveryKeep = defaultRecoveryKeep;

    // "FILE:LINE: ...": each section or key passed over.
    QStringList unknown;
    // "FILE:LINE: ..." or "FILE cannot be read: ...": why the file cannot be
    // used. While there is one, no setting of the file is taken.
    QStringList problems;

    bool usable() const { return problems.isEmpty(); }
};

// The defaults when the file is not there at all. Never blocks, and never
// reads past maxBytes.
Settings read(const QString &path = QLatin1String(defaultPath));

// What a program says of the file as it starts: whatever is passed over, and
// why it cannot be used.
QStringList notes(const QString &path = QLatin1String(defaultPath));

} // namespace sitesettings
