// Whole update runs through the window, on the simulated device.

#include "mainwindow.h"
#include "runspy.h"

#include <cstdio>
#include <QFile>
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
    void confirmedBytesAreFlashed_data();
    void confirmedBytesAreFlashed();

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

enum FileChange { Truncate, Rewrite, RenameOver, Delete, Append };

void TestWindowRun::confirmedBytesAreFlashed_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<bool>("duringWrite"); // else between the confirmation and the start

    const char *const names[] = {"truncated", "rewritten in place", "renamed over", "deleted", "appended to"};
    for (int change = Truncate; change <= Append; ++change) {
        QTest::addRow("%s before the start", names[change]) << change << false;
        QTest::addRow("%s while the second image is written", names[change]) << change << true;
    }
}

// Whatever becomes of the file on disk once the operator has confirmed it,
// the run writes and verifies the bytes that were confirmed.
void TestWindowRun::confirmedBytesAreFlashed()
{
    QFETCH(int, change);
    QFETCH(bool, duringWrite);
    const QString confirmed = dir.filePath(QStringLiteral("confirmed.zarnru"));
    QFile::remove(confirmed);
    QVERIFY(QFile::copy(path, confirmed));
    QList<updatefile::Image> other = threeImages();
    for (updatefile::Image &image : other)
        image.data = updatefile::pattern(image.address + 7, image.data.size());
    const QString otherPath = dir.filePath(QStringLiteral("other.zarnru"));
    QVERIFY(updatefile::writeFile(otherPath, other));

    const auto changeFile = [&] {
        QFile file(confirmed);
        switch (FileChange(change)) {
        case Truncate:
            file.resize(file.size() / 2);
            break;
        case Rewrite:
            // In place, as cp does it: the same inode, other bytes.
            if (file.open(QIODevice::ReadWrite)) {
                QFile source(otherPath);
                source.open(QIODevice::ReadOnly);
                file.write(source.readAll());
            }
            break;
        case RenameOver:
            QFile::remove(confirmed + ".new");
            QFile::copy(otherPath, confirmed + ".new");
            ::rename(QFile::encodeName(confirmed + ".new").constData(),
                     QFile::encodeName(confirmed).constData());
            break;
        case Delete:
            file.remove();
            break;
        case Append:
            if (file.open(QIODevice::Append))
                file.write(updatefile::pattern(3, 5000));
            break;
        }
    };
    RunSpy runs;
    int writesStarted = 0;
    runs.onStatusLine = [&](const QString &line) {
        if (duringWrite && line == QLatin1String("Started writing to Flash memory...") &&
            ++writesStarted == 2)
            changeFile();
    };
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, confirmed, duringWrite ? std::function<void()>() : changeFile));
    QVERIFY(runs.waitForRuns(window, 1));

    QCOMPARE(child<QLabel>(window, "statusLabel")->text(), doneLine);
    QVERIFY(flashHoldsAll(threeImages()));
}

QTEST_MAIN(TestWindowRun)
#include "tst_windowrun.moc"
