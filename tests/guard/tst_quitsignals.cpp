#include "guardtestkit.h"
#include "mainwindow.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

const int readyWaitMs = 30000;
const int runEndWaitMs = 60000;
const int idleEndWaitMs = 10000;
// A shell's status for a process that a signal ended: this plus its number.
const int signalExitBase = 128;
// Six page erases of 400 ms each: the run is still under way when the signal comes.
const char *const slowTiming = "400000,0,0,0";

bool blocksGuardedSignals()
{
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, SIGINT) && sigismember(&mask, SIGTERM) && sigismember(&mask, SIGHUP);
}

} // namespace

// The real window and guards in a child process on the simulated device,
// started by a test-only operator, ended by signals.
class QuitSignalsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void signalDuringRunWaitsForItsEnd_data() { signalRows(); }
    void signalDuringRunWaitsForItsEnd();
    void signalWhileIdleEndsAtOnce_data() { signalRows(); }
    void signalWhileIdleEndsAtOnce();
    void runThreadLeavesSignalsToTheWindow();
    void secondProcessIsTurnedAway();
    void killedRunIsMendedByTheNext();

private:
    static void signalRows();
    // Starts the driver and waits until it says "rundriver: <state>".
    bool startDriver(QProcess &driver, QString &output, const QString &state, const QStringList &arguments,
                     const QString &hang = QString());
    bool flashFileHolds(const QList<updatefile::Image> &images);
    bool endDriver(QProcess &driver, QString &output, int timeoutMs);

    QTemporaryDir dir;
    QString updateFile;
    QString flashFile;
};

void QuitSignalsTest::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(dir.isValid());
    updateFile = dir.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(updateFile, threeImages()));
    flashFile = dir.filePath(QStringLiteral("flash.img"));
}

bool QuitSignalsTest::startDriver(QProcess &driver, QString &output, const QString &state,
                                  const QStringList &arguments, const QString &hang)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARNSIM_LIBRARY));
    environment.insert(QStringLiteral("ZARNSIM_TIMING"), QLatin1String(slowTiming));
    environment.insert(QStringLiteral("ZARNSIM_FLASH_FILE"), flashFile);
    if (!hang.isEmpty())
        environment.insert(QStringLiteral("ZARNSIM_HANG"), hang);
    // No system bus, as on a build machine: the run goes on without a lock.
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("no-bus")));
    driver.setProcessEnvironment(environment);
    QObject::connect(&driver, &QProcess::readyReadStandardError, &driver,
                     [&] { output += QString::fromLocal8Bit(driver.readAllStandardError()); });
    driver.start(QStringLiteral(RUN_DRIVER), arguments);
    const QString ready = QStringLiteral("rundriver: ") + state + QLatin1Char('\n');
    return driver.waitForStarted() &&
           testsupport::waitFor([&] { return output.contains(ready); }, readyWaitMs);
}

bool QuitSignalsTest::endDriver(QProcess &driver, QString &output, int timeoutMs)
{
    const bool ended =
        testsupport::waitFor([&] { return driver.state() == QProcess::NotRunning; }, timeoutMs);
    if (!ended) {
        driver.kill();
        driver.waitForFinished();
    }
    output += QString::fromLocal8Bit(driver.readAllStandardError());
    return ended;
}

void QuitSignalsTest::signalRows()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("times");

    QTest::newRow("SIGTERM") << int(SIGTERM) << "SIGTERM" << 1;
    QTest::newRow("SIGINT") << int(SIGINT) << "SIGINT" << 1;
    QTest::newRow("SIGHUP") << int(SIGHUP) << "SIGHUP" << 1;
    QTest::newRow("SIGTERM twice") << int(SIGTERM) << "SIGTERM" << 2;
}

void QuitSignalsTest::signalDuringRunWaitsForItsEnd()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    QFETCH(int, times);
    QFile::remove(flashFile);

    QProcess driver;
    QString output;
    QVERIFY2(startDriver(driver, output, QStringLiteral("running"), {updateFile}), qPrintable(output));
    const QString noted = QStringLiteral("Received ") + name +
                          QStringLiteral(" during an update: quitting when the update has ended");
    // One at a time: the same signal sent again before the first is handled merges with it.
    for (int i = 1; i <= times; ++i) {
        QCOMPARE(::kill(pid_t(driver.processId()), number), 0);
        testsupport::waitFor(
            [&] { return output.count(noted) == i || driver.state() == QProcess::NotRunning; }, readyWaitMs);
        QCOMPARE(output.count(noted), i);
    }
    QVERIFY2(endDriver(driver, output, runEndWaitMs), qPrintable(output));

    QVERIFY2(driver.exitStatus() == QProcess::NormalExit, qPrintable(output));
    QCOMPARE(driver.exitCode(), signalExitBase + number);
    QCOMPARE(output.count(noted), times);
    QCOMPARE(output.count(QStringLiteral("The update has ended: quitting for ") + name), 1);
    QCOMPARE(output.count(QStringLiteral("void MainWindow::updateFinished()")), 1);
    QCOMPARE(output.count(QStringLiteral("No inhibitor lock could be taken: ")), 1);

    QVERIFY(flashFileHolds(threeImages()));
}

bool QuitSignalsTest::flashFileHolds(const QList<updatefile::Image> &images)
{
    zarnsim::reset();
    const bool attached = zarnsim::setBackingFile(flashFile.toStdString());
    const bool holds = attached && flashHoldsAll(images);
    zarnsim::reset();
    return holds;
}

void QuitSignalsTest::signalWhileIdleEndsAtOnce()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    QFETCH(int, times);

    QProcess driver;
    QString output;
    QVERIFY2(startDriver(driver, output, QStringLiteral("idle"), {}), qPrintable(output));
    for (int i = 0; i < times; ++i)
        ::kill(pid_t(driver.processId()), number);
    QVERIFY2(endDriver(driver, output, idleEndWaitMs), qPrintable(output));

    QVERIFY2(driver.exitStatus() == QProcess::NormalExit, qPrintable(output));
    QCOMPARE(driver.exitCode(), signalExitBase + number);
    QVERIFY(output.contains(QStringLiteral("Received ") + name + QStringLiteral(": quitting")));
    QVERIFY(!output.contains(QStringLiteral("during an update")));
}

// A signal must never land on the run's thread, where it could cut a device
// call short; the window's thread takes them all.
void QuitSignalsTest::runThreadLeavesSignalsToTheWindow()
{
    zarnsim::reset();
    std::atomic<bool> blockedOnRunThread{false};
    guardtest::RunGate gate([&] { blockedOnRunThread = blocksGuardedSignals(); });
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, updateFile));
    QVERIFY(gate.waitUntilHeld());

    QVERIFY(blockedOnRunThread);
    QVERIFY(testsupport::waitFor([] { return !blocksGuardedSignals(); }));
    gate.release();
    QVERIFY(testsupport::waitFor([&] { return child<QPushButton>(window, "startUpdateButton")->isEnabled(); },
                                 runEndWaitMs));
    QVERIFY(!blocksGuardedSignals());
}

// Two processes on one flash: the one that came second is told why it cannot
// start, and the flash ends up holding the first one's images alone.
void QuitSignalsTest::secondProcessIsTurnedAway()
{
    QFile::remove(flashFile);
    QList<updatefile::Image> other = threeImages();
    for (updatefile::Image &image : other)
        image.data = updatefile::pattern(image.address + 9, image.data.size());
    const QString otherFile = dir.filePath(QStringLiteral("other.zarnru"));
    QVERIFY(updatefile::writeFile(otherFile, other));

    QProcess first;
    QString firstOutput;
    QVERIFY2(startDriver(first, firstOutput, QStringLiteral("running"), {updateFile}),
             qPrintable(firstOutput));
    QProcess second;
    QString secondOutput;
    QVERIFY2(startDriver(second, secondOutput, QStringLiteral("no run"), {otherFile}),
             qPrintable(secondOutput));
    QVERIFY2(secondOutput.contains(QStringLiteral("rundriver: box: Another update of the ZARN flash is under "
                                                  "way (process %1).")
                                       .arg(first.processId())),
             qPrintable(secondOutput));
    ::kill(pid_t(second.processId()), SIGTERM);
    QVERIFY(endDriver(second, secondOutput, idleEndWaitMs));

    ::kill(pid_t(first.processId()), SIGTERM); // quits once its run has ended
    QVERIFY2(endDriver(first, firstOutput, runEndWaitMs), qPrintable(firstOutput));
    QCOMPARE(first.exitCode(), signalExitBase + SIGTERM);
    QVERIFY(flashFileHolds(threeImages()));
}

// SIGKILL in the middle of the write leaves what a power cut would; the same
// update run again mends it.
void QuitSignalsTest::killedRunIsMendedByTheNext()
{
    QFile::remove(flashFile);
    QProcess killed;
    QString output;
    // Its fifth write never returns: the first image is half written.
    QVERIFY2(startDriver(killed, output, QStringLiteral("running"), {updateFile}, QStringLiteral("write:5")),
             qPrintable(output));
    QVERIFY(testsupport::waitFor(
        [&] {
            zarnsim::reset();
            const bool halfWritten = zarnsim::setBackingFile(flashFile.toStdString()) &&
                                     zarnsim::flashBytes(0x40000, 1)[0] == uint8_t(threeImages()[0].data[0]);
            zarnsim::reset();
            return halfWritten;
        },
        runEndWaitMs));
    killed.kill();
    QVERIFY(killed.waitForFinished());
    QVERIFY(!flashFileHolds(threeImages()));

    QProcess again;
    output.clear();
    QVERIFY2(startDriver(again, output, QStringLiteral("running"), {updateFile}), qPrintable(output));
    ::kill(pid_t(again.processId()), SIGTERM);
    QVERIFY2(endDriver(again, output, runEndWaitMs), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("The update has ended")), qPrintable(output));
    QVERIFY(flashFileHolds(threeImages()));
}

QTEST_MAIN(QuitSignalsTest)
#include "tst_quitsignals.moc"
