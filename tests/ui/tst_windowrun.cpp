#include "mainwindow.h"
#include "runspy.h"
#include "testsupport.h"
#include "updatefilebuilder.h"
#include "zarnsim.h"

#include <cerrno>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

namespace {

const QString doneLine = QStringLiteral("Done updating. It is now safe to restart the computer.");
const int runTimeoutMs = 60000;

template <typename T> T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

updatefile::Image image(const QByteArray &name, quint32 address, int dataLength)
{
    updatefile::Image result;
    result.name = name;
    result.version = 0x01020304;
    result.address = address;
    result.data = updatefile::pattern(address, dataLength);
    return result;
}

QList<updatefile::Image> threeImages()
{
    return {image("BOOT", 0x40000, 3000), image("APP", 0x80000, 5000), image("CONF", 0xC0000, 1031)};
}

bool flashHolds(const updatefile::Image &image)
{
    const std::vector<uint8_t> bytes = zarnsim::flashBytes(image.address, uint32_t(image.data.size()));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())) == image.data;
}

} // namespace

class TestWindowRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void runsToTheEndAndCleansUp();
    void failingRunEndsWithItsError_data();
    void failingRunEndsWithItsError();
    void closeWaitsForTheRun();

private:
    QString writeUpdateFile(const QList<updatefile::Image> &images);
    // Types the name, releases Update and confirms: the run is under way on return.
    void startRun(MainWindow &window, const QString &path);
    bool waitForRunsToEnd(MainWindow &window, const RunSpy &runs, int count);

    QTemporaryDir dir;
};

void TestWindowRun::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(dir.isValid());
}

void TestWindowRun::init()
{
    zarnsim::reset();
}

QString TestWindowRun::writeUpdateFile(const QList<updatefile::Image> &images)
{
    const QString path = dir.filePath(QStringLiteral("update.zarnru"));
    return updatefile::writeFile(path, images) ? path : QString();
}

void TestWindowRun::startRun(MainWindow &window, const QString &path)
{
    auto *filename = child<QLineEdit>(window, "filenameLineEdit");
    filename->clear();
    QTest::keyClicks(filename, path);
    QCOMPARE(filename->text(), path);

    const auto seen = testsupport::answerNextModal(testsupport::acceptModal);
    QTest::mouseClick(child<QPushButton>(window, "startUpdateButton"), Qt::LeftButton);
    QVERIFY(seen->seen);
    QCOMPARE(seen->className, QStringLiteral("ImageInfoDialog"));
    QVERIFY(!child<QPushButton>(window, "startUpdateButton")->isEnabled());
}

bool TestWindowRun::waitForRunsToEnd(MainWindow &window, const RunSpy &runs, int count)
{
    auto *update = child<QPushButton>(window, "startUpdateButton");
    return testsupport::waitFor(
        [&] {
            return update->isEnabled() && runs.workersDestroyed == count && runs.threadsDestroyed == count;
        },
        runTimeoutMs);
}

void TestWindowRun::runsToTheEndAndCleansUp()
{
    const QList<updatefile::Image> images = threeImages();
    const QString path = writeUpdateFile(images);
    QVERIFY(!path.isEmpty());

    testsupport::MessageLog log;
    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    for (int run = 1; run <= 2; ++run) {
        startRun(window, path);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(runs.workersCreated.load(), run); // each run has a worker of its own
        QVERIFY(waitForRunsToEnd(window, runs, run));
        QCOMPARE(runs.threadsSeen.load(), run);

        QCOMPARE(child<QProgressBar>(window, "currentProgressBar")->value(), 100);
        QCOMPARE(child<QProgressBar>(window, "totalProgressBar")->value(), 100);
        QCOMPARE(child<QLabel>(window, "timeRemain")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(child<QLabel>(window, "statusLabel")->text(), doneLine);
        QCOMPARE(runs.statusLines().count(doneLine), run);
        QCOMPARE(log.count(QStringLiteral("void MainWindow::updateFinished()")), run);
        for (const updatefile::Image &image : images)
            QVERIFY2(flashHolds(image), image.name.constData());

        // The next run must write the flash again, not find it already programmed.
        if (run == 1)
            zarnsim::reset();
    }
}

void TestWindowRun::failingRunEndsWithItsError_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("lastLine");

    // The second image's word at image offset 0x100 has a bit that never holds a 1.
    QTest::newRow("stuck bits") << 0 << "Error verifying Flash memory at 0x80100";
    QTest::newRow("erase refused") << 1 << "Error erasing page at 0x40000";
    QTest::newRow("no flash device") << 2 << "Error opening /dev/zarn_flash";
}

void TestWindowRun::failingRunEndsWithItsError()
{
    QFETCH(int, fault);
    QFETCH(QString, lastLine);

    QList<updatefile::Image> images = threeImages();
    images[1].data[0x100] = char(images[1].data.at(0x100) | 0x01);
    const QString path = writeUpdateFile(images);
    QVERIFY(!path.isEmpty());
    switch (fault) {
    case 0:
        zarnsim::addStuckBits(0x80100, 0x01);
        break;
    case 1:
        zarnsim::failEraseAt(0x40000);
        break;
    default:
        zarnsim::setNodeError(zarnsim::Node::Flash, ENOENT);
        break;
    }

    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    startRun(window, path);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(waitForRunsToEnd(window, runs, 1));

    const QStringList lines = runs.statusLines();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.last(), lastLine);
    QVERIFY(!lines.contains(doneLine));
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(), lastLine);
    QVERIFY(child<QPushButton>(window, "startUpdateButton")->isEnabled());
    // Nothing on screen may look like success.
    QVERIFY(child<QProgressBar>(window, "currentProgressBar")->value() < 100);
    QVERIFY(child<QProgressBar>(window, "totalProgressBar")->value() < 100);
    QCOMPARE(child<QLabel>(window, "timeRemain")->text(), QStringLiteral("00:00:00"));
}

void TestWindowRun::closeWaitsForTheRun()
{
    const QList<updatefile::Image> images = threeImages();
    const QString path = writeUpdateFile(images);
    QVERIFY(!path.isEmpty());
    // A device slow enough that the close request meets the flash being programmed.
    zarnsim::Timing slow;
    slow.pageEraseUs = 50000;
    zarnsim::setTiming(slow);

    RunSpy runs;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    startRun(window, path);
    if (QTest::currentTestFailed())
        return;

    const auto warning = testsupport::answerNextModal(testsupport::acceptModal);
    QVERIFY(!window.close());
    QVERIFY(warning->seen);
    QCOMPARE(warning->className, QStringLiteral("QMessageBox"));
    QCOMPARE(warning->title, QStringLiteral("Update in progress"));
    QVERIFY(warning->text.contains(QStringLiteral("unable to start")));
    QVERIFY(warning->hadParent);
    QVERIFY(window.isVisible());

    QVERIFY(waitForRunsToEnd(window, runs, 1));
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(), doneLine);
    for (const updatefile::Image &image : images)
        QVERIFY2(flashHolds(image), image.name.constData());

    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestWindowRun)
#include "tst_windowrun.moc"
