#include "powercheck.h"

#include <algorithm>
#include <cmath>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
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
// UPower's type of a device that is a battery.
const uint batteryType = 2;
// More devices than this is no computer's.
const int maxDevices = 64;

QVariant property(const QDBusConnection &bus, const QString &path, const char *interface, const char *name,
                  QString *why);

// Without a display device, every battery that powers the computer, the
// lowest counting: one nearly empty battery can end the update whatever the
// others hold. A charge that cannot be read is not a number, which refuses.
bool lowestBattery(const QDBusConnection &bus, Reading *reading)
{
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(QLatin1String(service), QLatin1String(managerPath),
                                       QLatin1String(managerInterface), QStringLiteral("EnumerateDevices")),
        QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        reading->why = QStringLiteral("UPower did not answer: ") + reply.errorMessage();
        return false;
    }
    const auto devices = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().first());
    bool found = false;
    double lowest = 100;
    for (const QDBusObjectPath &device : devices.mid(0, maxDevices)) {
        QString why;
        const QString path = device.path();
        if (property(bus, path, deviceInterface, "Type", &why).toUInt() != batteryType ||
            !property(bus, path, deviceInterface, "PowerSupply", &why).toBool() ||
            !property(bus, path, deviceInterface, "IsPresent", &why).toBool())
            continue;
        const QVariant percent = property(bus, path, deviceInterface, "Percentage", &why);
        const double charge = percent.isValid() ? percent.toDouble() : std::nan("");
        found = true;
        lowest = std::isnan(charge) || std::isnan(lowest) ? std::nan("") : std::min(lowest, charge);
    }
    if (!found) {
        reading->why = QStringLiteral("no battery");
        return false;
    }
    reading->source = Reading::Source::Battery;
    reading->percent = lowest;
    return true;
}

// One property, or an invalid variant with *why set.
QVariant property(const QDBusConnection &bus, const QString &path, const char *interface, const char *name,
                  QString *why)
{
    QDBusMessage get = QDBusMessage::createMethodCall(QLatin1String(service), path,
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
    const QVariant onBattery =
        property(bus, QLatin1String(managerPath), managerInterface, "OnBattery", &reading.why);
    if (!onBattery.isValid())
        return reading;
    if (!onBattery.toBool()) {
        reading.source = Reading::Source::Mains;
        return reading;
    }
    const QString display = QLatin1String(displayDevicePath);
    const QVariant present = property(bus, display, deviceInterface, "IsPresent", &reading.why);
    const QVariant percent = property(bus, display, deviceInterface, "Percentage", &reading.why);
    if (!present.isValid() || !percent.isValid() || !present.toBool()) {
        lowestBattery(bus, &reading);
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
