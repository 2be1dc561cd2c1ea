// The window's inhibitor lock, on a private bus that stands in for the system
// bus, with a fake logind on a connection of its own; and what the desktop is
// told of the run, on the same bus standing in for the session bus, with a
// fake dock and a fake notification server; and the power an update needs,
// with a fake UPower, for the window and for zarn-update.

#include "childprocess.h"
#include "fakeupower.h"
#include "mainwindow.h"
#include "runhistory.h"
#include "runinhibitor.h"
#include "runkit.h"
#include "runoutcomeview.h"

#include <atomic>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <sys/socket.h>

using namespace runkit;

// Stands in for logind: records the Inhibit calls and hands out one end of a
// socket pair per lock, keeping the other end to see when the lock is let go.
class FakeLogin final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~FakeLogin() override
    {
        for (int end : keptEnds)
            ::close(end);
    }

    QList<QStringList> calls;
    QList<int> keptEnds;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode)
    {
        calls << QStringList{what, who, why, mode};
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
            return QDBusUnixFileDescriptor();
        keptEnds << ends[0];
        const QDBusUnixFileDescriptor given(ends[1]); // a copy of its own
        ::close(ends[1]);
        return given;
    }
};

// Stands in for a dock: records each update of the utility's task bar entry,
// as its progress and whether that is shown.
class FakeDock final : public QObject
{
    Q_OBJECT

public:
    QList<QPair<double, bool>> updates;

public slots:
    void update(const QString &uri, const QVariantMap &properties)
    {
        if (uri == QLatin1String("application://zarn-update-utility.desktop"))
            updates << qMakePair(properties.value("progress").toDouble(),
                                 properties.value("progress-visible").toBool());
    }
};

// Stands in for the notification server: records each notice, its urgency as
// "<type> <value>".
class FakeNotifications final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<QStringList> notices;

public slots:
    uint Notify(const QString &appName, uint, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        const QVariant urgency = hints.value("urgency");
        const QString byte = QString(urgency.typeName()) + ' ' + QString::number(urgency.toUInt());
        notices << QStringList{appName, appIcon, summary, body, hints.value("desktop-entry").toString(),
                               byte};
        return uint(notices.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
};

// Kept for the whole process, never on a stack that is used again: the bus
// connections' threads know them until it ends.
struct Fakes
{
    FakeUPower upower;
    FakeBattery battery;
    FakeBattery batteries[2];
};
Fakes &fakes()
{
    static Fakes *const kept = new Fakes;
    return *kept;
}

class RunInhibitorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void lockHeldForTheRun_data();
    void lockHeldForTheRun();
    void powerGate_data();
    void powerGate();

private:
    // Whether every copy of the end handed out is closed: the kept end then
    // reads end-of-file (nothing is ever written to it).
    static bool farEndClosed(int keptEnd)
    {
        char byte;
        return ::recv(keptEnd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) == 0;
    }
    QTemporaryDir dir;
    QProcess bus;
    QString updateFile;
    FakeLogin login;
    FakeDock dock;
    FakeNotifications notifications;
    FakeUPower &upower = fakes().upower;
    FakeBattery &battery = fakes().battery;
    FakeBattery (&batteries)[2] = fakes().batteries; // listed when there is no display device
    QThread powerThread;
    QByteArray address;
};

void RunInhibitorTest::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    updateFile = dir.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(updateFile, threeImages()));

    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    QVERIFY2(!daemon.isEmpty(), "dbus-daemon is missing: scripts/install-deps.sh dbus-daemon");
    bus.start(daemon, {"--session", "--print-address", "--nofork"});
    QVERIFY(bus.waitForStarted() && testsupport::waitFor([this] { return bus.canReadLine(); }));
    address = bus.readLine().trimmed();
    // Read by the bus library the first time each bus is asked for, which is
    // when the first window is made.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    QDBusConnection service =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("login"));
    QVERIFY(service.isConnected() &&
            (service.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing));
    QVERIFY(service.registerObject("/org/freedesktop/login1", &login, QDBusConnection::ExportAllSlots) &&
            service.registerService("org.freedesktop.login1"));
    QDBusConnection docks =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("dock"));
    QVERIFY(docks.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update", &dock,
                          SLOT(update(QString, QVariantMap))));
    QDBusConnection server =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("notifications"));
    QVERIFY(server.registerObject("/org/freedesktop/Notifications", &notifications,
                                  QDBusConnection::ExportAllSlots) &&
            server.registerService("org.freedesktop.Notifications"));
    upower.moveToThread(&powerThread);
    battery.moveToThread(&powerThread);
    for (FakeBattery &one : batteries)
        one.moveToThread(&powerThread);
    powerThread.start();
    QDBusConnection power =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("upower"));
    QVERIFY(power.registerObject("/org/freedesktop/UPower", &upower,
                                 QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots) &&
            power.registerObject("/org/freedesktop/UPower/devices/DisplayDevice", &battery,
                                 QDBusConnection::ExportAllProperties));
    for (int i = 0; i < 2; ++i)
        QVERIFY(power.registerObject(QStringLiteral("/org/freedesktop/UPower/devices/battery_BAT%1").arg(i),
                                     &batteries[i], QDBusConnection::ExportAllProperties));
}

void RunInhibitorTest::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("login"));
    QDBusConnection::disconnectFromBus(QStringLiteral("dock"));
    QDBusConnection::disconnectFromBus(QStringLiteral("notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("upower"));
    powerThread.quit();
    powerThread.wait();
    bus.kill();
    bus.waitForFinished();
}

void RunInhibitorTest::lockHeldForTheRun_data()
{
    QTest::addColumn<bool>("fails");
    QTest::addColumn<bool>("active"); // the window, when the run ends
    QTest::newRow("done") << false << true;
    QTest::newRow("done, window behind another") << false << false;
    QTest::newRow("verify fails") << true << true;
    QTest::newRow("verify fails, window behind another") << true << false;
}

// Taken when a run starts, held while it is under way, let go when it ends,
// however it ends. Meanwhile the task bar entry shows the run's progress, and a
// notice says how it ended when the window is not in front.
void RunInhibitorTest::lockHeldForTheRun()
{
    QFETCH(bool, fails);
    QFETCH(bool, active);
    zarnsim::reset();
    login.calls.clear();
    dock.updates.clear();
    notifications.notices.clear();
    if (fails)
        zarnsim::addStuckBits(0x80100, 0x01);

    testsupport::MessageLog log;
    RunWatcher runs;
    runs.hold();
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, updateFile) && runs.waitUntilHeld());

    QVERIFY(testsupport::waitFor([this] { return login.calls.size() == 1; }));
    QCOMPARE(login.calls.first(), (QStringList{"sleep:shutdown:idle", "ZARN Update Utility",
                                               "Updating the ZARN flash memory", "block"}));
    const int keptEnd = login.keptEnds.last();
    auto *inhibitor = window.findChild<RunInhibitor *>();
    QVERIFY(inhibitor && testsupport::waitFor([inhibitor] { return inhibitor->holdsLock(); }));
    QVERIFY2(!farEndClosed(keptEnd), "the lock was let go while the run was under way");
    QVERIFY(testsupport::waitFor([this] { return !dock.updates.isEmpty(); }) && dock.updates.last().second);
    QWidget other;
    QWidget *front = active ? static_cast<QWidget *>(&window) : &other;
    front->show();
    QApplication::setActiveWindow(front);
    QVERIFY(QTest::qWaitForWindowActive(front));

    QElapsedTimer clock;
    clock.start();
    runs.release();
    QVERIFY(waitForRun(window, runs));
    const qint64 runMs = clock.elapsed();
    QVERIFY(testsupport::waitFor([this] { return !dock.updates.last().second; }));
    // Asked on the window's own connection, the server answers after any notice the window sent.
    const QDBusPendingCall answered = QDBusConnection::sessionBus().asyncCall(
        QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", "GetCapabilities"));
    QVERIFY(testsupport::waitFor([&] { return answered.isFinished(); }));
    // The entry follows the window's bar, which steps back as each image is erased a second time.
    const int last = dock.updates.size() - 1;
    QVERIFY(last > 1 && dock.updates.first().first == 0.0 && dock.updates.at(last - 1).first > 0.0);
    for (int i = 0; i <= last; ++i) {
        const auto [progress, shown] = dock.updates.at(i);
        QVERIFY(progress >= 0.0 && progress <= 1.0 && shown == (i < last));
        QVERIFY2(!shown || i == 0 || progress != dock.updates.at(i - 1).first, "a percent sent twice");
    }
    // Once a frame at most, and where the run got to before the bar goes.
    QVERIFY2(last - 1 <= runMs * 60 / 1000 + 2,
             qPrintable(QStringLiteral("%1 in %2 ms").arg(last).arg(runMs)));
    const double ended = dock.updates.last().first;
    QCOMPARE(ended, child<QProgressBar>(window, "totalProgressBar")->value() / 100.0);
    QCOMPARE(ended == 1.0, !fails);
    QCOMPARE(notifications.notices.size(), active ? 0 : 1);
    if (!active)
        QCOMPARE(notifications.notices.first(),
                 (QStringList{"ZARN Update Utility", "zarn-update-utility",
                              fails ? "ZARN update failed" : "ZARN update complete",
                              fails ? RunOutcomeView::failedText : RunOutcomeView::succeededText,
                              "zarn-update-utility", fails ? "uchar 2" : "uchar 1"}));
    QVERIFY2(testsupport::waitFor([&] { return farEndClosed(keptEnd); }), "the lock outlived the run");
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(),
             fails ? QStringLiteral("Error verifying Flash memory at 0x80100") : doneLine);
    QCOMPARE(flashHolds(threeImages()), !fails);
    QCOMPARE(login.calls.size(), 1);
    QVERIFY(log.messages().filter(QStringLiteral("No inhibitor lock could be taken: ")).isEmpty());
}

void RunInhibitorTest::powerGate_data()
{
    QTest::addColumn<bool>("window"); // else zarn-update
    QTest::addColumn<int>(
        "source"); // -1: no UPower, 0: mains, -2: two batteries at 80 and 12 %, else the charge
    QTest::addColumn<bool>("goOn");  // the window's answer, or --ignore-power
    QTest::addColumn<bool>("asked"); // the window asks, or zarn-update refuses
    QTest::addColumn<bool>("flashed");
    QTest::addColumn<int>("later"); // the charge from the second reading on; -1: as the first

    QTest::newRow("window, battery low, No") << true << 12 << false << true << false << -1;
    QTest::newRow("window, battery low, Yes") << true << 12 << true << true << true << -1;
    QTest::newRow("window, battery at the minimum") << true << 30 << false << false << true << -1;
    QTest::newRow("window, on mains") << true << 0 << false << false << true << -1;
    QTest::newRow("window, no UPower") << true << -1 << false << false << true << -1;
    QTest::newRow("window, battery drops before the run, Yes") << true << 50 << true << true << true << 12;
    QTest::newRow("window, two batteries, one low") << true << -2 << false << true << false << -1;
    QTest::newRow("command line, battery low") << false << 12 << false << true << false << -1;
    QTest::newRow("command line, two batteries, one low") << false << -2 << false << true << false << -1;
    QTest::newRow("command line, battery low, --ignore-power") << false << 12 << true << true << true << -1;
    QTest::newRow("command line, on mains") << false << 0 << false << false << true << -1;
    QTest::newRow("command line, no UPower") << false << -1 << false << false << true << -1;
    QTest::newRow("command line, battery drops before the run, --ignore-power")
        << false << 50 << true << true << true << 12;
}

// On a battery below the minimum charge an update does not start unless the
// operator says so; UPower's absence or mains power change nothing.
void RunInhibitorTest::powerGate()
{
    QFETCH(bool, window);
    QFETCH(int, source);
    QFETCH(bool, goOn);
    QFETCH(bool, asked);
    QFETCH(bool, flashed);
    QFETCH(int, later);
    zarnsim::reset();
    upower.battery = source > 0 || source == -2;
    battery.percent = source;
    // Two batteries and no display device: the lowest counts.
    battery.present = source != -2;
    upower.devices = source == -2 ? 2 : 0;
    batteries[0].percent = 80;
    batteries[1].percent = 12;
    battery.later = later;
    battery.reads = 0;
    QDBusConnection power =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("upower"));
    if (source == -1)
        QVERIFY(power.unregisterService(QStringLiteral("org.freedesktop.UPower")));
    else
        QVERIFY(power.registerService(QStringLiteral("org.freedesktop.UPower")));

    if (window) {
        MainWindow shown;
        shown.show();
        RunWatcher runs;
        child<QLineEdit>(shown, "filenameLineEdit")->setText(updateFile);
        testsupport::ModalWatcher modals([goOn](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (box && box->windowTitle() == QLatin1String("Battery low"))
                box->button(goOn ? QMessageBox::Yes : QMessageBox::No)->click();
            else
                testsupport::acceptModal(modal);
        });
        QTest::mouseClick(updateButton(shown), Qt::LeftButton);
        if (!asked || goOn)
            QVERIFY(waitForRun(shown, runs));
        QCOMPARE(modals.seen.filter(QStringLiteral("QMessageBox|Battery low|")).size(), asked ? 1 : 0);
        QCOMPARE(flashHolds(threeImages()), flashed);
        // A check passed over, at whichever look at the power, is in the history.
        const QList<HistoryEntry> entries = RunHistory().entries();
        if (flashed)
            QVERIFY(!entries.isEmpty() &&
                    entries.last().overrides.contains(QStringLiteral("ignore-power")) == asked);
        return;
    }
    runkit::CommandLine cli{
        dir.filePath(QStringLiteral("flash.bin")), dir.filePath(QStringLiteral("state")), {}, {}};
    QFile::remove(cli.flashFile);
    QDir(cli.stateDirectory).removeRecursively();
    QStringList arguments{QStringLiteral("update"), QStringLiteral("--yes"), updateFile};
    if (goOn)
        arguments << QStringLiteral("--ignore-power");
    // The fake answers on this thread while the program runs.
    QProcess program;
    const int status = cli.run(program, arguments, {QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + address});
    QVERIFY2(status == (asked && !goOn ? 3 : 0), qPrintable(cli.output));
    QCOMPARE(cli.output.contains(QLatin1String("on battery at 12 %, below the 30 %")), asked);
    QCOMPARE(cli.output.contains(QLatin1String("warning: Going on as asked (--ignore-power)")),
             asked && goOn);
    QCOMPARE(cli.flashHolds(threeImages()), flashed);
    if (flashed) {
        QCOMPARE(cli.run(program, {QStringLiteral("--json"), QStringLiteral("history")}), 0);
        QCOMPARE(cli.output.contains(QLatin1String("\"overrides\":[\"ignore-power\"]")), asked && goOn);
    }
}

QTEST_MAIN(RunInhibitorTest)
#include "tst_runinhibitor.moc"
