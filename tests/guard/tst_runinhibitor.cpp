#include "guardtestkit.h"
#include "mainwindow.h"
#include "runinhibitor.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString login1Service = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString noLockLine = QStringLiteral("No inhibitor lock could be taken: ");

// Whether every copy of the end handed out is closed: the kept end then reads
// end-of-file (nothing is ever written to it).
bool farEndClosed(int keptEnd)
{
    char byte;
    return ::recv(keptEnd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) == 0;
}

} // namespace

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

// The window's own guard on a private bus that stands in for the system bus,
// with a fake logind on a connection of its own.
class RunInhibitorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void lockHeldForTheRun_data();
    void lockHeldForTheRun();

private:
    QTemporaryDir dir;
    QProcess bus;
    QString updateFile;
    FakeLogin login;
};

void RunInhibitorTest::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(dir.isValid());
    updateFile = dir.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(updateFile, threeImages()));

    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    QVERIFY2(!daemon.isEmpty(), "dbus-daemon is missing: scripts/install-deps.sh dbus-daemon");
    bus.start(daemon,
              {QStringLiteral("--session"), QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    QVERIFY(bus.waitForStarted());
    QVERIFY(testsupport::waitFor([this] { return bus.canReadLine(); }));
    const QByteArray address = bus.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    // Read by the bus library the first time the system bus is asked for,
    // which is when the first window is made.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);

    QDBusConnection service =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("login"));
    QVERIFY(service.isConnected());
    QVERIFY(service.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing);
    QVERIFY(service.registerObject(login1Path, &login, QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(login1Service));
}

void RunInhibitorTest::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("login"));
    bus.kill();
    bus.waitForFinished();
}

void RunInhibitorTest::init()
{
    zarnsim::reset();
    login.calls.clear();
}

void RunInhibitorTest::lockHeldForTheRun_data()
{
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("done") << false << doneLine;
    QTest::newRow("verify fails") << true << "Error verifying Flash memory at 0x80100";
}

void RunInhibitorTest::lockHeldForTheRun()
{
    QFETCH(bool, fails);
    QFETCH(QString, lastLine);
    if (fails)
        zarnsim::addStuckBits(0x80100, 0x01);

    testsupport::MessageLog log;
    guardtest::RunGate gate;
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, updateFile));
    QVERIFY(gate.waitUntilHeld());

    QVERIFY(testsupport::waitFor([this] { return login.calls.size() == 1; }));
    QCOMPARE(login.calls.first(), (QStringList{"sleep:shutdown:idle", "ZARN Update Utility",
                                               "Updating the ZARN flash memory", "block"}));
    const int keptEnd = login.keptEnds.last();
    auto *inhibitor = window.findChild<RunInhibitor *>();
    QVERIFY(inhibitor);
    QVERIFY(testsupport::waitFor([inhibitor] { return inhibitor->holdsLock(); }));
    QVERIFY2(!farEndClosed(keptEnd), "the lock was let go while the run was under way");

    gate.release();
    QVERIFY(testsupport::waitFor([&] { return child<QPushButton>(window, "startUpdateButton")->isEnabled(); },
                                 runTimeoutMs));
    QVERIFY2(testsupport::waitFor([&] { return farEndClosed(keptEnd); }), "the lock outlived the run");

    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("statusLabel"))->text(), lastLine);
    QCOMPARE(login.calls.size(), 1);
    QVERIFY(log.messages().filter(noLockLine).isEmpty());
}

QTEST_MAIN(RunInhibitorTest)
#include "tst_runinhibitor.moc"
