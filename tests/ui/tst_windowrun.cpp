// Whole update runs through the window, on the simulated device.

#include "mainwindow.h"
#include "runspy.h"

#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>

class TestWindowRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { zarnsim::reset(); }

    void runsToTheEndAndCleansUp();
    void failingRunEndsWithItsError();
    void closeWaitsForTheRun();

private:
    QTemporaryDir dir;
    QString path;
};

void TestWindowRun::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    path = dir.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(path, threeImages()));
}

void TestWindowRun::runsToTheEndAndCleansUp()
{
    testsupport::MessageLog log;
    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    for (int run = 1; run <= 2; ++run) {
        QVERIFY(startRun(window, path));
        QCOMPARE(runs.workersCreated.load(), run); // each run has a worker of its own
        QVERIFY(runs.waitForRuns(window, run));
        QCOMPARE(runs.threadsSeen.load(), run);

        QCOMPARE(child<QProgressBar>(window, "currentProgressBar")->value(), 100);
        QCOMPARE(child<QProgressBar>(window, "totalProgressBar")->value(), 100);
        QCOMPARE(child<QLabel>(window, "timeRemain")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(child<QLabel>(window, "statusLabel")->text(), doneLine);
        QCOMPARE(log.count(QStringLiteral("void MainWindow::updateFinished()")), run);
        QVERIFY(flashHoldsAll(threeImages()));
        // The next run must write the flash again, not find it already programmed.
        zarnsim::reset();
    }
}

void TestWindowRun::failingRunEndsWithItsError()
{
    const QString lastLine = QStringLiteral("Error verifying Flash memory at 0x80100");
    zarnsim::addStuckBits(0x80100, 0x01);
    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, path));
    QVERIFY(runs.waitForRuns(window, 1));

    QCOMPARE(runs.statusLines().last(), lastLine);
    QVERIFY(!runs.statusLines().contains(doneLine));
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(), lastLine);
    // Nothing on screen may look like success.
    QVERIFY(child<QProgressBar>(window, "currentProgressBar")->value() < 100);
    QVERIFY(child<QProgressBar>(window, "totalProgressBar")->value() < 100);
}

void TestWindowRun::closeWaitsForTheRun()
{
    // A device slow enough that the close request meets the flash being programmed.
    zarnsim::Timing slow;
    slow.pageEraseUs = 50000;
    zarnsim::setTiming(slow);
    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, path));

    const auto warning = testsupport::answerNextModal(testsupport::acceptModal);
    QVERIFY(!window.close());
    QVERIFY(warning->seen);
    QCOMPARE(warning->className, QStringLiteral("QMessageBox"));
    QCOMPARE(warning->title, QStringLiteral("Update in progress"));
    QVERIFY(warning->text.contains(QStringLiteral("unable to start")));
    QVERIFY(warning->hadParent);
    QVERIFY(window.isVisible());

    QVERIFY(runs.waitForRuns(window, 1));
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(), doneLine);
    QVERIFY(flashHoldsAll(threeImages()));
    QVERIFY(window.close());
}

QTEST_MAIN(TestWindowRun)
#include "tst_windowrun.moc"
