#pragma once

#include <atomic>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QString>

// Stands in for UPower: whether the computer runs on battery, and the display
// device's charge. Both live on a thread of their own, so that they answer
// while the window's thread waits for them; the test sets them from its own.
class FakeUPower final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UPower")
    Q_PROPERTY(bool OnBattery READ onBattery)

public:
    bool onBattery() const { return battery; }
    std::atomic<bool> battery{false};
    // The devices it lists, when asked.
    std::atomic<int> devices{0};

public slots:
    QList<QDBusObjectPath> EnumerateDevices() const
    {
        QList<QDBusObjectPath> paths;
        for (int i = 0; i < devices; ++i)
            paths << QDBusObjectPath(QStringLiteral("/org/freedesktop/UPower/devices/battery_BAT%1").arg(i));
        return paths;
    }
};

class FakeBattery final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UPower.Device")
    Q_PROPERTY(bool IsPresent READ isPresent)
    Q_PROPERTY(double Percentage READ percentage)
    Q_PROPERTY(uint Type READ type)
    Q_PROPERTY(bool PowerSupply READ powerSupply)

public:
    bool isPresent() const { return present; }
    uint type() const { return 2; } // a battery
    bool powerSupply() const { return true; }
    std::atomic<bool> present{true};
    // The first reading, then, when later is set, every one after it.
    double percentage() const { return reads++ == 0 || later < 0 ? percent : later; }
    std::atomic<double> percent{100};
    std::atomic<double> later{-1};
    mutable std::atomic<int> reads{0};
};
