// The real program in a child process: without its mailbox (one box, then a quiet end),
// without a display, and losing its display in the middle of an update.

#include "childprocess.h"
#include "runkit.h"

#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

class MissingDriverTest : public QObject
{
    Q_OBJECT

private slots:
    void programEnds_data();
    void programEnds();
    void commandLine_data();
    void commandLine();
    void displayLostDuringUpdate();
};

void MissingDriverTest::programEnds_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("cause"); // the box's informative text: none when the driver is not loaded
    QTest::newRow("no mailbox node") << "ZARNSIM_MISSING=mailbox"
                                     << "";
    QTest::newRow("mailbox refuses the second request") << "ZARNSIM_MAILBOX_FAIL=2:EIO"
                                                        << "|Input/output error.";
    QTest::newRow("no permission")
        << "ZARNSIM_MAILBOX_ERROR=EACCES"
        << "|Permission denied: the user must be a member of the group zarn and log "
           "in again.";
}

void MissingDriverTest::programEnds()
{
    QFETCH(QString, setting);
    QFETCH(QString, cause);
    runkit::Program program;
    QVERIFY(program.start({setting}));
    QVERIFY2(program.end(), qPrintable(program.output));
    QCOMPARE(program.process.exitCode(), 0); // the event loop's own value, not a crash or a forced end
    QCOMPARE(program.output.split('\n').filter(QStringLiteral("programdriver: ")),
             QStringList{
                 QString::asprintf("programdriver: box QMessageBox|Cannot open file|System file "
                                   "/dev/zarn_mailbox could not be opened.\\n\\nPlease check if ZARN driver "
                                   "is loaded.\\nApplication will now quit.\\n|%d|0x%x|1|0|0",
                                   QMessageBox::Critical, unsigned(QMessageBox::Ok)) +
                 cause});
    QVERIFY(!program.output.contains(QLatin1String("openWithoutDriver: ON")));
}

void MissingDriverTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // DISPLAY; none of the display variables when empty
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");

    QTest::newRow("--version") << QStringList{"--version"} << "" << 0 << "zarn-update-utility 1.1 (build 88)";
    QTest::newRow("--help") << QStringList{"--help"} << "" << 0
                            << "Usage: zarn-update-utility [-f | --force]";
    QTest::newRow("no display") << QStringList() << "" << 1
                                << "zarn-update-utility: cannot open the window: no display";
    // A reader gone before the first write: the write fails, the program goes on.
    QTest::newRow("output closed") << QStringList{"--version", "CLOSED"} << "" << 0 << "";
    QTest::newRow("display out of reach")
        << QStringList{"-f"} << ":97" << 1 << "cannot open the window: no display could be reached";
}

// Without a window to open, the program says so in one line, never aborting.
void MissingDriverTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, status);
    QFETCH(QString, says);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QLatin1String(name));
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    if (arguments.removeAll(QStringLiteral("CLOSED")))
        program.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{QStringLiteral("-c"),
                                  QStringLiteral("import os, subprocess, sys\n"
                                                 "r, w = os.pipe()\n"
                                                 "os.close(r)\n"
                                                 "sys.exit(subprocess.call(sys.argv[1:], stdout=w) & 0xff)"),
                                  QStringLiteral(ZARN_PROGRAM)} +
                          arguments);
    else
        program.start(QStringLiteral(ZARN_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(runkit::runTimeoutMs));
    const QString output = QString::fromLocal8Bit(program.readAll());
    QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == status,
             qPrintable(output));
    QVERIFY2(output.contains(says), qPrintable(output));
    QVERIFY(!output.contains(QLatin1String("Reinstalling")));
}

// The X server gone in the middle of the write: the update goes on to its
// end, the program then says how it ended and exits 1. The window had its icon.
void MissingDriverTest::displayLostDuringUpdate()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("Xvfb is not installed (scripts/test.sh installs it)");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("update.zarnru"));
    const QString flashFile = dir.filePath(QStringLiteral("flash.bin"));
    QVERIFY(updatefile::writeFile(file, runkit::threeImages()));
    QProcess server;
    server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                          QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(server.waitForReadyRead(runkit::runTimeoutMs));
    const QString display = QLatin1Char(':') + QString::fromLatin1(server.readAllStandardOutput()).trimmed();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZARNSIM_LIBRARY ":" PROGRAM_DRIVER));
    environment.insert(QStringLiteral("ZARNSIM_FLASH_FILE"), flashFile);
    environment.insert(QStringLiteral("ZARNSIM_TIMING"), QStringLiteral("300000,0,0,0")); // slow erases
    environment.insert(QStringLiteral("ZARNTEST_UPDATE_FILE"), file);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(ZARN_PROGRAM), QStringList());
    QString output;
    // Bounded generously: a sanitized program on a loaded machine is slow to its first run.
    const bool running = testsupport::waitFor(
        [&] {
            output += QString::fromLocal8Bit(program.readAll());
            return output.contains(QLatin1String("programdriver: running"));
        },
        runkit::runTimeoutMs);
    QVERIFY2(running, qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("programdriver: icon 16:1 256:1")), qPrintable(output));
    server.kill();
    server.waitForFinished();
    QVERIFY(program.waitForFinished(runkit::runTimeoutMs));
    output += QString::fromLocal8Bit(program.readAll());
    QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 1, qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("the window was lost during an update; the update then ended: ") +
                             QLatin1String(updateDoneText)),
             qPrintable(output));
    zarnsim::reset();
    QVERIFY(zarnsim::setBackingFile(flashFile.toStdString()));
    QVERIFY(runkit::flashHolds(runkit::threeImages()));
    zarnsim::reset();
}

QTEST_GUILESS_MAIN(MissingDriverTest)
#include "tst_missingdriver.moc"
