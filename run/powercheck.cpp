#include "powercheck.h"

#include <cmath>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>

namespace powercheck {

namespace {

const char *const service = "org.freedesktop.UPower";
const char *const managerPath = "/org/freedesktop/UPower";
const char *const managerInterface = "org.freedesktop.UPower";
const char *const displayDevicePath = "/org/freedesktop/UPower/devices/DisplayDevice";
const char *const deviceInterface = "org.freedesktop.UPower.Device";
// UPower answers at once; a bus that does not must not hold up the operator.
const int callTimeoutMs = 2000;

// One property, or an invalid variant with *why set.
QVariant property(const QDBusConnection &bus, const char *path, const char *interface, const char *name,
                  QString *why)
{
    QDBusMessage get = QDBusMessage::createMethodCall(QLatin1String(service), QLatin1String(path),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QLatin1String(interface) << QLatin1String(name);
    const QDBusMessage reply = bus.call(get, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *why = QStringLiteral("UPower did not answer: ") + reply.errorMessage();
        return QVariant();
    }
    return reply.arguments().first().value<QDBusVariant>().variant();
}

} // namespace

Reading read(const QDBusConnection &bus)
{
    Reading reading;
    if (!bus.isConnected()) {
        reading.why = QStringLiteral("no system bus");
        return reading;
    }
    const QVariant onBattery = property(bus, managerPath, managerInterface, "OnBattery", &reading.why);
    if (!onBattery.isValid())
        return reading;
    if (!onBattery.toBool()) {
        reading.source = Reading::Source::Mains;
        return reading;
    }
    const QVariant present = property(bus, displayDevicePath, deviceInterface, "IsPresent", &reading.why);
    const QVariant percent = property(bus, displayDevicePath, deviceInterface, "Percentage", &reading.why);
    if (!present.isValid() || !percent.isValid())
        return reading;
    if (!present.toBool()) {
        reading.why = QStringLiteral("no battery");
        return reading;
    }
    reading.source = Reading::Source::Battery;
    reading.percent = percent.toDouble();
    return reading;
}

QString refusal(const Reading &reading, const QString &settings)
{
    if (reading.source != Reading::Source::Battery)
        return QString();
    const sitesettings::Settings site = sitesettings::read(settings);
    if (!site.usable())
        return QStringLiteral("the computer runs on battery, and the site's settings cannot be used: ") +
               site.problems.first();
    // A charge no battery can have is no reading: judged as one that is too low.
    if (!(reading.percent >= 0 && reading.percent <= 100))
        return QStringLiteral("the computer runs on battery, and its charge cannot be read (UPower says %1): "
                              "connect it to mains power")
            .arg(reading.percent);
    const int minimum = site.minimumBatteryPercent;
    if (reading.percent >= minimum)
        return QString();
    // Shown as it is, never rounded up to the minimum it is below.
    const double tenths = std::floor(reading.percent * 10) / 10;
    return QStringLiteral(
               "the computer runs on battery at %1 %, below the %2 % an update needs: connect it to "
               "mains power")
        .arg(QString::number(tenths, 'f', tenths == std::floor(tenths) ? 0 : 1), QString::number(minimum));
}

} // namespace powercheck
