#pragma once

#include "sitesettings.h"

#include <QDBusConnection>
#include <QString>

// Whether the computer may be trusted to stay on through an update: running
// on a battery below the site's minimum, an update could be cut short by the
// battery running out, with the flash half written. Asked of UPower on the
// system bus; without UPower, a battery or a system bus nothing is checked.
namespace powercheck {

struct Reading
{
    enum class Source { Unknown, Mains, Battery };
    Source source = Source::Unknown;
    double percent = 0; // Battery: the charge of the display device
    QString why;        // Unknown: why nothing could be read
};

// Synchronous, bounded by a short timeout for each call.
Reading read(const QDBusConnection &bus);

// The site's setting: "[power] minimum-battery-percent=30" (sitesettings.h).
inline constexpr const char *settingsFile = sitesettings::defaultPath;
inline constexpr int defaultMinimumPercent = sitesettings::defaultMinimumBatteryPercent;

// Empty when an update may go ahead on this power; otherwise why not, naming
// the level and the minimum. A settings file that is there but cannot be used
// (sitesettings::Settings::usable) refuses on battery too: the site asked for
// something. Read only on battery, and never blocks.
QString refusal(const Reading &reading, const QString &settings = QLatin1String(settingsFile));

} // namespace powercheck
