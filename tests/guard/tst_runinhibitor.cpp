// The window's inhibitor lock, on a private bus that stands in for the system
// bus, with a fake logind on a connection of its own.

#include "mainwindow.h"
#include "runinhibitor.h"
#include "runkit.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
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

class RunInhibitorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void lockHeldForTheRun_data();
    void lockHeldForTheRun();

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
    const QByteArray address = bus.readLine().trimmed();
    // Read by the bus library the first time the system bus is asked for,
    // which is when the first window is made.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);

    QDBusConnection service =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("login"));
    QVERIFY(service.isConnected() &&
            (service.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing));
    QVERIFY(service.registerObject("/org/freedesktop/login1", &login, QDBusConnection::ExportAllSlots) &&
            service.registerService("org.freedesktop.login1"));
}

void RunInhibitorTest::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("login"));
    bus.kill();
    bus.waitForFinished();
}

void RunInhibitorTest::lockHeldForTheRun_data()
{
    QTest::addColumn<bool>("fails");
    QTest::newRow("done") << false;
    QTest::newRow("verify fails") << true;
}

// Taken when a run starts, held while it is under way, let go when it ends,
// however it ends.
void RunInhibitorTest::lockHeldForTheRun()
{
    QFETCH(bool, fails);
    zarnsim::reset();
    login.calls.clear();
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

    runs.release();
    QVERIFY(waitForRun(window, runs));
    QVERIFY2(testsupport::waitFor([&] { return farEndClosed(keptEnd); }), "the lock outlived the run");
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(),
             fails ? QStringLiteral("Error verifying Flash memory at 0x80100") : doneLine);
    QCOMPARE(flashHolds(threeImages()), !fails);
    QCOMPARE(login.calls.size(), 1);
    QVERIFY(log.messages().filter(QStringLiteral("No inhibitor lock could be taken: ")).isEmpty());
}

QTEST_MAIN(RunInhibitorTest)
#include "tst_runinhibitor.moc"
