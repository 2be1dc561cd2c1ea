// The real program in child processes on one shared simulated flash, ended by
// signals, two at once, one killed; and the run's thread in this process. And
// the site's settings as the guard on the power reads them.

#include "childprocess.h"
#include "mainwindow.h"
#include "powercheck.h"
#include "runkit.h"

#include <cmath>
#include <csignal>
#include <pthread.h>
#include <QTemporaryDir>
#include <sys/stat.h>

using namespace runkit;

namespace {

// A shell's status for a process that a signal ended: this plus its number.
const int signalExitBase = 128;

bool blocksGuardedSignals()
{
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, SIGINT) && sigismember(&mask, SIGTERM) && sigismember(&mask, SIGHUP);
}

// Started on the shared flash, slow enough for a signal to meet the run (six
// page erases of 400 ms each, or of eraseUs), without a system bus as on a
// build machine.
bool start(Program &program, const QString &state, const QString &flash, const QString &update,
           const QString &hang = {}, int eraseUs = 400000)
{
    return program.start({QStringLiteral("ZARNSIM_TIMING=%1,0,0,0").arg(eraseUs),
                          "ZARNSIM_FLASH_FILE=" + flash, "ZARNSIM_HANG=" + hang,
                          "ZARNTEST_UPDATE_FILE=" + update,
                          "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + flash + "-bus"},
                         state);
}

} // namespace

class QuitSignalsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QFile::remove(flashFile); }
    void signalEndsTheProgram_data();
    void signalEndsTheProgram();
    void runThreadLeavesSignalsToTheWindow();
    void secondProcessIsTurnedAway();
    void killedRunIsMendedByTheNext_data();
    void killedRunIsMendedByTheNext();
    void siteSettings_data();
    void siteSettings();

private:
    // What this process sees of the shared flash.
    bool flashFileHolds(const std::function<bool()> &check = [] { return flashHolds(threeImages()); })
    {
        zarnsim::reset();
        const bool holds = zarnsim::setBackingFile(flashFile.toStdString()) && check();
        zarnsim::reset();
        return holds;
    }

    QTemporaryDir dir;
    QString updateFile;
    QString flashFile;
};

void QuitSignalsTest::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    updateFile = dir.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(updateFile, threeImages()));
    flashFile = dir.filePath(QStringLiteral("flash.img"));
}

void QuitSignalsTest::signalEndsTheProgram_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("running"); // else idle
    for (bool running : {true, false}) {
        const char *when = running ? "during a run" : "while idle";
        QTest::addRow("SIGTERM %s", when) << int(SIGTERM) << "SIGTERM" << 1 << running;
        QTest::addRow("SIGINT %s", when) << int(SIGINT) << "SIGINT" << 1 << running;
        QTest::addRow("SIGHUP %s", when) << int(SIGHUP) << "SIGHUP" << 1 << running;
    }
    // Twice only during a run: while idle the second one would race the program's own end.
    QTest::addRow("SIGTERM twice during a run") << int(SIGTERM) << "SIGTERM" << 2 << true;
}

// While idle, the program ends at once; during a run, once the run has ended,
// the flash programmed, with the status a shell gives a signalled process.
void QuitSignalsTest::signalEndsTheProgram()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    QFETCH(int, times);
    QFETCH(bool, running);
    Program program;
    QVERIFY2(start(program, running ? "running" : "idle", flashFile, running ? updateFile : QString()),
             qPrintable(program.output));
    const QString noted = "Received " + name +
                          (running ? " during an update: quitting when the update has ended" : ": quitting");
    // During a run one at a time: the same signal sent again before the first is handled merges with it.
    for (int i = 1; i <= times; ++i) {
        program.signal(number);
        QVERIFY(!running || testsupport::waitFor([&] { return program.output.count(noted) == i; }, 30000));
    }
    QVERIFY2(program.end(), qPrintable(program.output));
    QCOMPARE(program.process.exitCode(), signalExitBase + number);
    QVERIFY2(program.output.contains(noted), qPrintable(program.output));
    QCOMPARE(program.output.count(QStringLiteral("during an update")), running ? times : 0);
    if (running) {
        QCOMPARE(program.output.count("The update has ended: quitting for " + name), 1);
        QCOMPARE(program.output.count(QStringLiteral("void MainWindow::updateFinished()")), 1);
        QCOMPARE(program.output.count(QStringLiteral("No inhibitor lock could be taken: ")), 1);
        QVERIFY(flashFileHolds());
    }
}

// A signal must never land on the run's thread, where it could cut a device
// call short; the window's thread takes them all.
void QuitSignalsTest::runThreadLeavesSignalsToTheWindow()
{
    zarnsim::reset();
    std::atomic<bool> blockedOnRunThread{false};
    RunWatcher runs;
    runs.hold([&] { blockedOnRunThread = blocksGuardedSignals(); });
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, updateFile) && runs.waitUntilHeld());
    QVERIFY(blockedOnRunThread && testsupport::waitFor([] { return !blocksGuardedSignals(); }));
    runs.release();
    QVERIFY(waitForRun(window, runs));
    QVERIFY(!blocksGuardedSignals());
}

// Two processes on one flash: the one that came second is told why it cannot
// start, and the flash ends up holding the first one's images alone.
void QuitSignalsTest::secondProcessIsTurnedAway()
{
    QList<updatefile::Image> other = threeImages();
    for (updatefile::Image &image : other)
        image.data = updatefile::pattern(image.address + 9, image.data.size());
    const QString otherFile = dir.filePath(QStringLiteral("other.zarnru"));
    QVERIFY(updatefile::writeFile(otherFile, other));
    Program first;
    // Still under way however long a sanitized build takes to start the second.
    QVERIFY2(start(first, "running", flashFile, updateFile, {}, 1500000), qPrintable(first.output));
    Program second;
    QVERIFY2(start(second, "no run", flashFile, otherFile), qPrintable(second.output));
    QVERIFY2(second.output.contains(
                 QStringLiteral("|Flash memory busy|Another update of the ZARN flash is under way "
                                "(process %1).|")
                     .arg(first.process.processId())),
             qPrintable(second.output));
    QVERIFY(second.signal(SIGTERM) && second.end());
    first.signal(SIGTERM); // quits once its run has ended
    QVERIFY2(first.end(), qPrintable(first.output));
    QCOMPARE(first.process.exitCode(), signalExitBase + SIGTERM);
    QVERIFY(flashFileHolds());
}

void QuitSignalsTest::killedRunIsMendedByTheNext_data()
{
    QTest::addColumn<QString>("answer"); // to the offer to recover; none: the update is run again
    QTest::addColumn<bool>("updated");   // else the flash is as the killed run found it
    // The call a power cut tears, the first of an uncut run's that matches; none: killed in its fifth write.
    QTest::addColumn<QString>("stage");
    const QString finish = QStringLiteral("Finish the update");
    const QString restore = QStringLiteral("Restore the previous contents");
    QTest::newRow("the update run again") << QString() << true << QString();
    QTest::newRow("the offer to finish it") << finish << true << QString();
    QTest::newRow("the offer to restore") << restore << false << QString();
    QTest::newRow("cut in an erase, finished") << finish << true << "^flash ioctl request=0x4004423c";
    QTest::newRow("cut in a write, finished") << finish << true << "^flash write address=0x40400 ";
    QTest::newRow("cut in a repair, finished") << finish << true << "^flash write address=0x40100 size=4 ";
    QTest::newRow("cut in a repair, restored") << restore << false << "^flash write address=0x40100 size=4 ";
    QTest::newRow("cut in the final read-back, finished") << finish << true << "^flash read address=0xc0800 ";
}

// SIGKILL in the middle of the write leaves what a power cut would; the same
// update run again mends it, and so does the window's offer at the next start
// to finish it from the journal's copy, or to put back what the flash held.
void QuitSignalsTest::killedRunIsMendedByTheNext()
{
    QFETCH(QString, answer);
    QFETCH(bool, updated);
    QFETCH(QString, stage);
    Program killed;
    if (stage.isEmpty()) {
        // Its fifth write never returns: the first image is half written.
        QVERIFY2(start(killed, "running", flashFile, updateFile, "write:5"), qPrintable(killed.output));
        const uint8_t firstByte = uint8_t(threeImages().first().data.at(0));
        QVERIFY(testsupport::waitFor(
            [&] { return flashFileHolds([&] { return zarnsim::flashBytes(0x40000, 1)[0] == firstByte; }); },
            runTimeoutMs));
        killed.process.kill();
    } else {
        // Where the stage's call falls in an uncut run, whose word at 0x40100 holds only on its second write.
        const QString record = dir.filePath(QStringLiteral("uncut.record"));
        const QStringList common{"ZARNSIM_FLASH_FILE=" + flashFile, "ZARNTEST_UPDATE_FILE=" + updateFile,
                                 "ZARNSIM_WEAK_WORDS=0x40100:2",
                                 "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"};
        Program uncut;
        QVERIFY(uncut.start(common + QStringList{"ZARNSIM_RECORD_FILE=" + record}, "running"));
        QVERIFY(testsupport::waitFor([&] { return flashFileHolds(); }, runTimeoutMs));
        QVERIFY(uncut.signal(SIGTERM) && uncut.end());
        const int cut = cutPoint(record, stage);
        QVERIFY2(cut > 0, qPrintable(stage));
        QFile::remove(flashFile);
        QVERIFY(killed.start(common + QStringList{QStringLiteral("ZARNSIM_CUT=%1:7").arg(cut)}));
    }
    QVERIFY(killed.process.waitForFinished(runTimeoutMs));
    QVERIFY(killed.process.exitStatus() == QProcess::CrashExit);
    QCOMPARE(flashFileHolds(), stage.contains(QLatin1String("read")));
    Program again;
    qputenv("ZARNTEST_RECOVERY", answer.toUtf8());
    const bool started = answer.isEmpty() ? start(again, "running", flashFile, updateFile)
                                          : start(again, "idle", flashFile, QString());
    qunsetenv("ZARNTEST_RECOVERY");
    QVERIFY2(started, qPrintable(again.output));
    const auto mended = [&] {
        return updated ? flashFileHolds()
                       : flashFileHolds([] { return flashHolds(runkit::erasedLike(threeImages())); });
    };
    QVERIFY(testsupport::waitFor(mended, runTimeoutMs));
    again.signal(SIGTERM);
    QVERIFY2(again.end(), qPrintable(again.output));
    QVERIFY(mended());
}

void QuitSignalsTest::siteSettings_data()
{
    QTest::addColumn<QByteArray>("content"); // FIFO, ZERO: a FIFO or a link to /dev/zero in its place
    QTest::addColumn<bool>("refuses");       // on battery at 50 %, saying why; else the update goes ahead
    QTest::addColumn<QString>("says");       // among what the programs say as they start
    QTest::addColumn<double>("charge");      // the battery's; 50 for the rows of the settings
    const auto row = [](const char *name, const QByteArray &content, bool refuses, const char *says,
                        double charge = 50) {
        QTest::newRow(name) << content << refuses << QString::fromUtf8(says) << charge;
    };
    const QByteArray minimum = "minimum-battery-percent=";
    row("section in another case", "[Power]\n" + minimum + "60\n", false,
        "update.conf:1: unknown section [Power], passed over with its settings (names are lower case");
    row("key in another case", "[power]\nMinimum-Battery-Percent=60\n", false,
        "update.conf:2: unknown key Minimum-Battery-Percent in [power], passed over");
    row("key outside its section", minimum + "60\n[power]\n", false,
        "update.conf:1: minimum-battery-percent is outside any section, passed over (it belongs in [power])");
    row("key given twice", "[power]\n" + minimum + "60\n" + minimum + "20\n", true,
        "update.conf:3: minimum-battery-percent given again in [power] (first on line 2)");
    row("FIFO in its place", "FIFO", true, "update.conf cannot be read: not a regular file");
    row("link to /dev/zero in its place", "ZERO", true, "update.conf cannot be read: not a regular file");
    row("larger than a settings file",
        "[power]\n" + minimum + "20\n" + QByteArray("; a comment\n").repeated(7000), true,
        "update.conf cannot be read: larger than 64 KiB");
    row("a charge just below the minimum", "", true, "on battery at 29.9 %, below the 30 %", 29.96);
    row("a charge no battery has", "", true, "its charge cannot be read (UPower says nan)", std::nan(""));
    row("a charge above full", "", true, "its charge cannot be read (UPower says 150)", 150);
}

// Nothing the site writes is passed over without a word, what cannot be used
// refuses on battery, and reading it never blocks.
void QuitSignalsTest::siteSettings()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, refuses);
    QFETCH(QString, says);
    QFETCH(double, charge);
    const QString path = dir.filePath(QStringLiteral("update.conf"));
    QFile::remove(path);
    QFile file(path);
    QVERIFY(content == "FIFO"   ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0
            : content == "ZERO" ? QFile::link(QStringLiteral("/dev/zero"), path)
                                : file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    const QString refusal = powercheck::refusal({powercheck::Reading::Source::Battery, charge, {}}, path);
    QVERIFY2(refuses ? refusal.contains(says) : refusal.isEmpty(), qPrintable(refusal));
    if (charge == 50)
        QVERIFY2(sitesettings::notes(path).join(QLatin1Char('\n')).contains(says), qPrintable(refusal));
}

QTEST_MAIN(QuitSignalsTest)
#include "tst_quitsignals.moc"
